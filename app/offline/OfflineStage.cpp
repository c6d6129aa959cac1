#include "app/offline/OfflineStage.h"

#include "app/check/DataCheck.h"
#include "audio/Music.h"
#include "base/Platform.h"
#include "sync/SyncTrack.h"

#include <GL/glew.h>

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
    std::fflush(stdout);
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
}

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
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

void drawFrame(Player& player, const FramePlan& plan, int64_t k) {
    player.drawShowFrame(plan.first + k, plan.fps);
    // Keeps the (invisible) window responsive to the window system.
    player.window().pollEvents();
}

void drawPreroll(Player& player, const FramePlan& plan, int64_t preroll) {
    player.resetShow();
    const int64_t start = std::max(plan.first - preroll, -showLeadIn);
    for (int64_t g = start; g < plan.first; ++g) {
        player.drawShowFrame(g, plan.fps);
    }
    player.window().pollEvents();
}

} // namespace offline

} // namespace Velmora
