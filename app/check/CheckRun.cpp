#include "app/check/CheckRun.h"

#include "app/check/DataCheck.h"
#include "base/Logger.h"
#include "player/Player.h"

#include <cstdio>
#include <exception>
#include <string>

namespace Velmora {

namespace {

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", value);
    return text;
}

// Compiles the show's programs in an invisible window's context; a problem when none can be made.
void checkShadersInHiddenWindow(DataCheckResult& result) {
    // The shader classes log every step; a check prints only what it finds.
    Logger::Sink previous = Logger::instance().setSink([](const std::string&) {});
    std::string failure;
    try {
        PlayerDesc desc;
        desc.width = 64;
        desc.height = 64;
        desc.title = "Velmora check";
        desc.hidden = true;
        Player player(desc);
        checkShaderPrograms(result);
    } catch (const std::exception& error) {
        failure = error.what();
    } catch (const char* message) {
        failure = message != nullptr ? message : "";
    }
    Logger::instance().setSink(previous);
    if (!failure.empty()) {
        result.problems.push_back({"./data/shaders", 0,
                                   "the shaders could not be compiled: no OpenGL context (" + failure + ")",
                                   false});
    }
}

} // namespace

int runDataCheck() {
    DataCheckResult result = checkDataFiles(DataCheckDepth::Thorough);
    if (result.programs > 0) {
        checkShadersInHiddenWindow(result);
    }
    for (const DataProblem& problem : result.problems) {
        Logger::instance().say(LogStream::Error, formatProblem(problem) + "\n");
    }
    if (result.errors() > 0) {
        return 1;
    }
    const ::Demo::ShowData& show = ::Demo::showData();
    std::string summary =
        "velmora: data checked: " + std::to_string(result.programs) + " shader programs, 1 sprite, " +
        std::to_string(show.binaryClouds.size() + show.textClouds.size()) + " point clouds, " +
        std::to_string(show.tracks.size() - result.tracksWithoutFile) + " of " +
        std::to_string(show.tracks.size()) + " tracks, music " + seconds(result.musicSeconds);
    summary += result.showEndSeconds >= 0.0 ? ", the show ends at " + seconds(result.showEndSeconds)
                                            : ", the show does not end by itself";
    summary += result.warnings() > 0 ? ": no problems, " + std::to_string(result.warnings()) + " warnings"
                                     : ": no problems";
    Logger::instance().say(LogStream::Output, summary + "\n");
    return 0;
}

} // namespace Velmora
