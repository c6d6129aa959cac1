#include "app/offline/OfflineStage.h"

#include "app/check/DataCheck.h"
#include "audio/Music.h"
#include "base/Logger.h"
#include "base/Platform.h"
#include "capture/WavWriter.h"
#include "engine/Gpu.h"
#include "sync/SyncTrack.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace Velmora {

namespace offline {

namespace {

// A number of seconds as given, short whatever its size ("1e+300").
std::string givenSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", seconds);
    return text;
}

} // namespace

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool interrupted() {
    return InterruptGuard::requested();
}

std::string interruption() {
    return "interrupted (" + InterruptGuard::what() + ")";
}

void complain(const std::string& message) {
    Logger::instance().say(LogStream::Error, "velmora: " + message + "\n");
}

void tell(const std::string& line) {
    Logger::instance().say(LogStream::Error, line + "\n");
}

std::string formatSeconds(double seconds) {
    return decimals(seconds, 3);
}

std::string decimals(double value, int places) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

bool standardErrorIsTerminal() {
    return isTerminal(stderr);
}

bool dataFolderReady() {
    const DataCheckResult result = checkDataFiles(DataCheckDepth::Readable);
    for (const DataProblem& problem : result.problems) {
        if (!problem.warning) {
            complain(formatProblem(problem));
        }
    }
    return result.errors() == 0;
}

bool shadersReady() {
    const std::vector<DataProblem> problems = unlinkedProgramProblems();
    for (const DataProblem& problem : problems) {
        complain(formatProblem(problem));
    }
    return problems.empty();
}

std::string setUp(const CaptureOptions& options, Stage& stage) {
    PlayerDesc desc;
    desc.width = options.width;
    desc.height = options.height;
    // Offline: never wait for the display (swap interval 0), and nothing is swapped anyway.
    desc.hidden = true;
    stage.player = std::make_unique<Player>(desc);
    // Every target of the show has the run's size: the driver must be able to make one.
    const int largest = Gpu::largestTargetSide();
    if (options.width > largest || options.height > largest) {
        return "the size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
               " is larger than this OpenGL driver can draw (" + std::to_string(largest) + " pixels a side)";
    }

    Player& player = *stage.player;
    player.openMusic(true);
    Music& music = player.music();
    // The end track alone, for planning; the show's own handle comes with it later.
    SyncTrack endTrack(player.sync(), "e");
    const double length = music.length();
    const double end = options.hasTo ? std::min(options.to, length) : length;
    if (options.from >= length) {
        return "--from " + givenSeconds(options.from) + " is beyond the music, which ends at " +
               formatSeconds(length) + " s";
    }
    stage.plan = planFrames(options.from, end, options.fps, [&](double seconds) {
        music.setPosition(seconds);
        // Below 0, or not a number, ends the show.
        return endTrack.value() >= 0.0;
    });
    if (stage.plan.frameCount == 0) {
        return "nothing to draw: the show has ended by " + formatSeconds(options.from) +
               " s (the end track is below 0 there)";
    }
    return "";
}

FrameLoop offlineLoop(const FramePlan& plan) {
    FrameLoop loop;
    loop.clock = ClockPolicy::Offline;
    loop.frames = plan.frameCount;
    loop.frameTime = [plan](int64_t k) { return plan.frameTime(k); };
    loop.step = plan.frameDuration();
    loop.firstFrame = plan.first;
    loop.fps = plan.fps;
    // The (invisible) window's events are still handled, to keep it responsive to the window
    // system, but it is never closed by them.
    loop.stopOnClose = false;
    return loop;
}

void writeSpanAudio(const std::string& path, const FramePlan& plan) {
    const Music& music = Music::instance();
    const int rate = music.sampleRate();
    const int64_t first = plan.firstSample(rate);
    const int64_t count = plan.sampleCount(rate);
    WavWriter wav(path, rate, 2);
    std::vector<float> block;
    const int64_t blockFrames = 65536;
    for (int64_t done = 0; done < count; done += blockFrames) {
        const int64_t n = std::min(blockFrames, count - done);
        block.resize(static_cast<size_t>(2 * n));
        music.copyFrames(first + done, n, block.data());
        wav.write(block.data(), n);
    }
    wav.finish();
}

} // namespace offline

} // namespace Velmora
