#include "app/capture/OfflineRun.h"

#include "app/capture/FfmpegEncoder.h"
#include "app/capture/FramePlan.h"
#include "app/capture/FrameTimes.h"
#include "app/capture/FrameWriter.h"
#include "app/capture/PixelReadback.h"
#include "app/capture/PngFolderWriter.h"
#include "app/capture/ProgressLine.h"
#include "app/capture/WavWriter.h"
#include "app/check/DataCheck.h"
#include "app/farm/FarmRun.h"
#include "audio/Music.h"
#include "base/Files.h"
#include "base/Platform.h"
#include "base/Process.h"
#include "base/Vexception.h"
#include "player/Player.h"
#include "sync/SyncTrack.h"

#include <GL/glew.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace Velmora {

namespace {

// Read-backs in flight: the frame drawn now is mapped two frames later.
constexpr int readbackDepth = 3;

// Ctrl-C or a termination request during a run stops it after the current frame, so that the
// outputs are closed properly instead of being cut off (see InterruptGuard).
bool interrupted() {
    return InterruptGuard::requested();
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void complain(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
}

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// A number of seconds as given, short whatever its size ("1e+300").
std::string givenSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", seconds);
    return text;
}

// The data folder, checked before anything is made or drawn: an off-screen run of a show with a
// missing or unreadable file would report success for wrong pictures.
bool dataFolderReady() {
    const DataCheckResult result = checkDataFiles(DataCheckDepth::Readable);
    for (const DataProblem& problem : result.problems) {
        if (!problem.warning) {
            complain(formatProblem(problem));
        }
    }
    return result.errors() == 0;
}

// Every shader program of the show, once the show's objects are made, compiled and linked.
bool shadersReady() {
    const std::vector<DataProblem> problems = unlinkedProgramProblems();
    for (const DataProblem& problem : problems) {
        complain(formatProblem(problem));
    }
    return problems.empty();
}

// Why the run stopped early: the interruption, by name.
std::string interruption() {
    return "interrupted (" + InterruptGuard::what() + ")";
}

// Writes the music of the plan's span as 16-bit stereo WAV (samples outside the file are silence).
void writeSpanAudio(const std::string& path, const FramePlan& plan) {
    const Music& music = Music::instance();
    const int rate = music.sampleRate();
    const int64_t first = plan.firstSample(rate);
    const int64_t count = plan.sampleCount(rate);
    WavWriter wav(path, rate, 2);
    std::vector<float> block;
    const int64_t blockFrames = 65536;
    for (int64_t done = 0; done < count; done += blockFrames) {
        int64_t n = std::min(blockFrames, count - done);
        block.resize(static_cast<size_t>(2 * n));
        music.copyFrames(first + done, n, block.data());
        wav.write(block.data(), n);
    }
    wav.finish();
}

// A temporary file for the span's audio when it goes into a video; removed on destruction.
std::unique_ptr<TemporaryFile> makeAudioFile() {
    auto file = std::make_unique<TemporaryFile>("", "-audio.wav");
    if (!file->valid() || !file->close(false)) {
        throw Vexception("Cannot make a temporary file for the audio: " + file->error());
    }
    return file;
}

// Everything both runs share: the invisible window, GL, the offline music and the sync clock.
struct Stage {
    std::unique_ptr<Player> player;
    FramePlan plan;
};

// Opens the window, the music and the sync device, and plans the frames. Returns an empty string,
// or the reason why there is nothing to draw.
std::string setUp(const CaptureOptions& options, Stage& stage) {
    PlayerDesc desc;
    desc.width = options.width;
    desc.height = options.height;
    // Offline: never wait for the display (swap interval 0), and nothing is swapped anyway.
    desc.hidden = true;
    stage.player = std::make_unique<Player>(desc);
    // Every target of the show has the run's size: the driver must be able to make one.
    GLint largestTexture = 0;
    GLint largestRenderbuffer = 0;
    GLint largestViewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestTexture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largestRenderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, largestViewport);
    const int largest =
        std::min({largestTexture, largestRenderbuffer, largestViewport[0], largestViewport[1]});
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

// Draws frame k of the plan (its global frame) into the player's off-screen target.
void drawFrame(Player& player, const FramePlan& plan, int64_t k) {
    player.drawShowFrame(plan.first + k, plan.fps);
    // Keeps the (invisible) window responsive to the window system.
    player.window().pollEvents();
}

// The frames drawn, not written, before frame 0 of a capture: the feedback pass carries earlier
// frames. From a reset show, the global frames before the plan's first, --preroll of them (by
// default as many as the whole show draws before its frame 0), never before the show's start. A
// capture from the start is therefore the whole show's frames exactly; one from later shows what
// the whole show shows there, up to the trails' history before its pre-roll.
void drawPreroll(Player& player, const FramePlan& plan, int64_t preroll) {
    player.resetShow();
    const int64_t start = std::max(plan.first - preroll, -showLeadIn);
    for (int64_t g = start; g < plan.first; ++g) {
        player.drawShowFrame(g, plan.fps);
    }
    player.window().pollEvents();
}

bool standardErrorIsTerminal() {
    return isTerminal(stderr);
}

// Temporary files that an earlier capture to the same output left when it was killed (its process
// has gone): the partial video, the span's audio, ffmpeg's messages.
void removeLeftovers(const std::string& output, bool video) {
    if (video) {
        std::string ignored;
        const std::string target = replacementTarget(output, ignored);
        if (!target.empty()) {
            removeAbandonedTemporaries(target, ".part");
        }
    } else {
        removeAbandonedTemporaries(output + (isPathSeparator(output.back()) ? "" : "/") + "audio.wav",
                                   ".part");
    }
    removeAbandonedTemporaries("", "-audio.wav");
    removeAbandonedTemporaries("", "-ffmpeg.log");
}

// Ends a PNG capture: the frames kept are those from frame 0 up to the first one missing (a later
// one written before a failure is removed, so that no gap is left), and audio.wav holds the music
// of exactly those frames. `complete`: every frame was written. Returns, for the message, what the
// folder keeps when stopped early, or the audio's failure (empty when none) when complete.
std::string finishFolder(const PngFolderWriter& folder, const FramePlan& plan, int64_t drawn, bool complete) {
    FramePlan kept = plan;
    if (!complete) {
        kept.frameCount = 0;
        while (kept.frameCount < drawn &&
               fileInfo(folder.framePath(kept.frameCount)).type == FileType::Regular) {
            ++kept.frameCount;
        }
        for (int64_t k = kept.frameCount; k < drawn; ++k) {
            removeFile(folder.framePath(k));
        }
    }
    const std::string audioPath = parentFolder(folder.framePath(0)) + "/audio.wav";
    std::string audioProblem;
    if (kept.frameCount > 0) {
        try {
            writeSpanAudio(audioPath, kept);
        } catch (const std::exception& error) {
            audioProblem = error.what();
        }
    }
    if (complete) {
        return audioProblem;
    }
    if (kept.frameCount == 0) {
        return "no frame was written";
    }
    return "'" + parentFolder(folder.framePath(0)) + "' keeps frames 0 to " +
           std::to_string(kept.frameCount - 1) +
           (audioProblem.empty()
                ? " and audio.wav of their " + formatSeconds(kept.endTime() - kept.from) + " s"
                : "; " + audioProblem);
}

int runTimedemo(const CaptureOptions& options) {
    Stage stage;
    std::string problem = setUp(options, stage);
    if (!problem.empty()) {
        complain(problem);
        return offlineRefused;
    }
    const FramePlan& plan = stage.plan;
    std::fprintf(stderr, "timedemo: %lld frames at %d fps from %s s, %dx%d\n",
                 static_cast<long long>(plan.frameCount), plan.fps, formatSeconds(plan.from).c_str(),
                 options.width, options.height);

    Player& player = *stage.player;
    player.buildShow();
    if (!shadersReady()) {
        return offlineFailed;
    }
    OffscreenTarget target(options.width, options.height);
    player.setTarget(&target);
    InterruptGuard interruptGuard;
    ProgressLine progress(stderr, standardErrorIsTerminal(), "timedemo", plan.frameCount);

    std::vector<double> times;
    times.reserve(static_cast<size_t>(plan.frameCount));
    const Clock::time_point start = Clock::now();
    for (int64_t k = 0; k < plan.frameCount && !interrupted(); ++k) {
        const Clock::time_point frameStart = Clock::now();
        drawFrame(player, plan, k);
        // The frame counts as drawn only when the GPU has finished it.
        glFinish();
        times.push_back(secondsSince(frameStart));
        progress.update(k + 1, secondsSince(start));
    }
    progress.finish(static_cast<int64_t>(times.size()), secondsSince(start));
    if (interrupted()) {
        complain("timedemo " + interruption() + " after " + std::to_string(times.size()) + " frames");
        return offlineFailed;
    }
    TimedemoSetup setup{options.width, options.height, options.fps, options.from};
    const FrameTimeStats stats = summarizeFrameTimes(times);
    int status = offlineDone;
    if (!options.report.empty()) {
        std::string error;
        if (!writeFileReplacing(options.report, formatTimedemoJson(setup, stats), error)) {
            complain("cannot write the report '" + options.report + "': " + error);
            status = offlineFailed;
        }
    }
    std::fflush(stdout);
    std::fputs(formatTimedemoReport(setup, stats).c_str(), stdout);
    // The report is the point of the run: one that did not reach standard output is a failure.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        complain(std::string("cannot write the report to standard output: ") +
                 (errno != 0 ? std::strerror(errno) : "a write failed"));
        status = offlineFailed;
    }
    return status;
}

int runCapture(const CaptureOptions& options) {
    const bool video = captureOutputKind(options.output) == CaptureOutputKind::Video;
    std::string ffmpeg;
    std::string ffprobe;
    if (video) {
        ffmpeg = findProgramOnPath("ffmpeg");
        if (ffmpeg.empty()) {
            complain("cannot write '" + options.output +
                     "': the ffmpeg program was not found on the PATH (install ffmpeg; on Windows "
                     "ffmpeg.exe may also be put beside velmora.exe), or give a folder as OUT to get PNG "
                     "frames and audio.wav");
            return offlineRefused;
        }
        // It checks the finished video before it replaces anything.
        ffprobe = findProgramOnPath("ffprobe");
        if (ffprobe.empty()) {
            complain(
                "cannot write '" + options.output +
                "': the ffprobe program (part of ffmpeg) was not found, which checks the finished video");
            return offlineRefused;
        }
    }
    removeLeftovers(options.output, video);
    std::string problem;
    // From here on Ctrl-C ends the capture cleanly: at the first frame if it comes while loading.
    InterruptGuard interruptGuard;
    Stage stage;
    problem = setUp(options, stage);
    if (!problem.empty()) {
        complain(problem);
        return offlineRefused;
    }
    const FramePlan& plan = stage.plan;
    const int width = options.width;
    const int height = options.height;
    const bool outputExisted = pathExists(options.output);
    std::fprintf(stderr, "capture: %lld frames at %d fps, %s s to %s s of the show, %dx%d, to %s\n",
                 static_cast<long long>(plan.frameCount), plan.fps, formatSeconds(plan.from).c_str(),
                 formatSeconds(plan.endTime()).c_str(), width, height, options.output.c_str());

    Player& player = *stage.player;
    player.buildShow();
    if (!shadersReady()) {
        return offlineFailed;
    }
    OffscreenTarget target(width, height);
    player.setTarget(&target);

    // The outputs, made only now that everything is ready to draw. A folder gets its audio.wav at
    // the end, for exactly the frames it holds.
    std::unique_ptr<TemporaryFile> audioFile;
    std::unique_ptr<FfmpegEncoder> encoder;
    std::unique_ptr<PngFolderWriter> folder;
    std::unique_ptr<CaptureFolderClaim> claim;
    try {
        if (video) {
            audioFile = makeAudioFile();
            writeSpanAudio(audioFile->path(), plan);
            encoder = std::make_unique<FfmpegEncoder>(
                VideoSettings{ffmpeg, options.output, width, height, plan.fps, audioFile->path(), ffprobe});
        } else {
            std::string reason;
            if (!makeDirectories(options.output, reason)) {
                complain("cannot create the folder '" + options.output + "': " + reason);
                return offlineFailed;
            }
            // Two captures into one folder would mix their frames: the second one refuses.
            claim = std::make_unique<CaptureFolderClaim>(options.output);
            if (!claim->held()) {
                complain("cannot capture into '" + options.output + "': " + claim->problem());
                return offlineRefused;
            }
            folder = std::make_unique<PngFolderWriter>(options.output, width, height);
        }
    } catch (const std::exception& error) {
        complain(std::string("capture failed before the first frame: ") + error.what());
        return offlineFailed;
    }

    const size_t frameBytes = static_cast<size_t>(width) * height * 4;
    // A video is one ordered stream; PNG files are independent and compress on every core.
    const int writerThreads =
        video ? 1 : std::max(1, std::min(4, static_cast<int>(std::thread::hardware_concurrency())));
    auto writer = std::make_unique<FrameWriter>(frameBytes, writerThreads, writerThreads + 2,
                                                [&](int64_t index, const uint8_t* frame) {
                                                    if (encoder) {
                                                        encoder->writeFrame(frame);
                                                    } else {
                                                        folder->writeFrame(index, frame);
                                                    }
                                                });
    PixelReadback readback(width, height, readbackDepth);
    auto handOver = [&](int64_t index, const uint8_t* bottomUp) {
        uint8_t* buffer = writer->acquire();
        flipRows(bottomUp, buffer, width, height);
        writer->submit(index, buffer);
    };

    ProgressLine progress(stderr, standardErrorIsTerminal(), "capture", plan.frameCount);
    const Clock::time_point start = Clock::now();
    int64_t drawn = 0;
    std::string failure;
    try {
        for (int64_t k = 0; k < plan.frameCount; ++k) {
            if (interrupted()) {
                // Stops drawing; the frames drawn so far are still read back and written below.
                failure = interruption();
                break;
            }
            if (k == 0) {
                drawPreroll(player, plan, options.preroll >= 0 ? options.preroll : showLeadIn);
            }
            drawFrame(player, plan, k);
            readback.start(target.id(), k);
            ++drawn;
            if (readback.full()) {
                readback.finishOldest(handOver);
            }
            progress.update(writer->framesWritten(), secondsSince(start));
        }
        while (readback.pending() > 0) {
            readback.finishOldest(handOver);
        }
        writer->finish();
    } catch (const std::exception& error) {
        failure = error.what();
        // Frames already handed over are still written, so that the output holds every frame it can.
        try {
            writer->finish();
        } catch (const std::exception&) {
        }
    }
    const int64_t written = writer->framesWritten();
    writer.reset();
    progress.finish(written, secondsSince(start));

    if (!failure.empty()) {
        std::string kept;
        if (encoder) {
            // The frames written so far become a video of their own beside the output (when ffmpeg
            // is still fine, the failure was elsewhere); the output itself stays as it was.
            std::string why;
            const std::string partial = encoder->keepPartial(why);
            kept = partial.empty() ? why
                                   : "the " + std::to_string(encoder->framesWritten()) +
                                         " frames written are in '" + partial + "'";
            kept += "; '" + options.output + (outputExisted ? "' was left as it was" : "' was not created");
        } else {
            kept = finishFolder(*folder, plan, drawn, false);
        }
        complain("capture stopped after " + std::to_string(drawn) + " of " + std::to_string(plan.frameCount) +
                 " frames: " + failure + "; " + kept);
        return offlineFailed;
    }
    if (encoder) {
        try {
            encoder->finish();
        } catch (const std::exception& error) {
            complain(std::string("capture failed at the end: ") + error.what() + "; '" + options.output +
                     (outputExisted ? "' was left as it was" : "' was not created"));
            return offlineFailed;
        }
    } else {
        const std::string audio = finishFolder(*folder, plan, written, true);
        if (!audio.empty()) {
            complain("capture failed at the end: " + audio);
            return offlineFailed;
        }
    }
    const double seconds = secondsSince(start);
    std::fprintf(stderr,
                 "capture: wrote %lld frames (%s s of the show) to %s in %.1f s, %.2f frames per second\n",
                 static_cast<long long>(written), formatSeconds(plan.endTime() - plan.from).c_str(),
                 options.output.c_str(), seconds, seconds > 0.0 ? written / seconds : 0.0);
    return offlineDone;
}

} // namespace

int runOffline(const CaptureOptions& options) {
    std::string problem = checkCaptureOptions(options);
    if (!problem.empty()) {
        complain(problem);
        return offlineRefused;
    }
    // Everything that can be known without drawing is checked before anything is made: the outputs,
    // then the data folder.
    problem = checkCaptureOutput(options);
    if (!problem.empty()) {
        complain(problem);
        return offlineRefused;
    }
    if (!dataFolderReady()) {
        return offlineFailed;
    }
    switch (options.mode) {
    case OfflineMode::Capture:
        return options.chunkCount > 0 ? runChunk(options) : runCapture(options);
    case OfflineMode::Assemble:
        return runAssemble(options);
    case OfflineMode::Timedemo:
        return runTimedemo(options);
    case OfflineMode::None:
        break;
    }
    return offlineDone;
}

} // namespace Velmora
