#include "app/offline/TimedemoRun.h"

#include "app/offline/OfflineRun.h"
#include "app/offline/OfflineStage.h"
#include "base/Files.h"
#include "base/Logger.h"
#include "base/Platform.h"
#include "capture/FrameTimes.h"
#include "capture/ProgressLine.h"

#include <vector>

namespace Velmora {

using namespace offline;

int runTimedemo(const CaptureOptions& options) {
    Stage stage;
    std::string problem = setUp(options, stage);
    if (!problem.empty()) {
        complain(problem);
        return offlineRefused;
    }
    const FramePlan& plan = stage.plan;
    tell("timedemo: " + std::to_string(plan.frameCount) + " frames at " + std::to_string(plan.fps) +
         " fps from " + formatSeconds(plan.from) + " s, " + std::to_string(options.width) + "x" +
         std::to_string(options.height));

    Player& player = *stage.player;
    player.buildShow();
    if (!shadersReady()) {
        return offlineFailed;
    }
    OffscreenTarget target(options.width, options.height);
    player.setTarget(&target);
    InterruptGuard interruptGuard;
    ProgressLine progress(standardErrorIsTerminal(), "timedemo", plan.frameCount);

    std::vector<double> times;
    times.reserve(static_cast<size_t>(plan.frameCount));
    const Clock::time_point start = Clock::now();
    Clock::time_point frameStart;
    FrameLoop loop = offlineLoop(plan);
    // The frame counts as drawn only when the GPU has finished it.
    loop.output = FrameOutput::Finish;
    loop.frame = [&](const FrameInfo&) {
        frameStart = Clock::now();
        return interrupted() ? FrameChoice::Stop : FrameChoice::Draw;
    };
    loop.shown = [&](const FrameInfo& frame) {
        times.push_back(secondsSince(frameStart));
        progress.update(frame.index + 1, secondsSince(start));
    };
    player.run(loop);
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
    Logger& logger = Logger::instance();
    std::string error;
    logger.say(LogStream::Output, formatTimedemoReport(setup, stats));
    // The report is the point of the run: one that did not reach standard output is a failure.
    if (!logger.outputWritten(error)) {
        complain("cannot write the report to standard output: " + error);
        status = offlineFailed;
    }
    return status;
}

} // namespace Velmora
