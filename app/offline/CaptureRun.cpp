#include "app/offline/CaptureRun.h"

#include "app/offline/OfflineRun.h"
#include "app/offline/OfflineStage.h"
#include "audio/Music.h"
#include "base/Files.h"
#include "base/Platform.h"
#include "base/Process.h"
#include "base/Vexception.h"
#include "capture/FfmpegEncoder.h"
#include "capture/FrameWriter.h"
#include "capture/PngFolderWriter.h"
#include "capture/ProgressLine.h"
#include "capture/WavWriter.h"
#include "engine/PixelPackBuffer.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

namespace Velmora {

using namespace offline;

namespace {

// Read-backs in flight: the frame drawn now is mapped two frames later.
constexpr int readbackDepth = 3;

// A temporary file for the span's audio when it goes into a video; removed on destruction.
std::unique_ptr<TemporaryFile> makeAudioFile() {
    auto file = std::make_unique<TemporaryFile>("", "-audio.wav");
    if (!file->valid() || !file->close(false)) {
        throw Vexception("Cannot make a temporary file for the audio: " + file->error());
    }
    return file;
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

} // namespace

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
    tell("capture: " + std::to_string(plan.frameCount) + " frames at " + std::to_string(plan.fps) + " fps, " +
         formatSeconds(plan.from) + " s to " + formatSeconds(plan.endTime()) + " s of the show, " +
         std::to_string(width) + "x" + std::to_string(height) + ", to " + options.output);

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
    ProgressLine progress(standardErrorIsTerminal(), "capture", plan.frameCount);
    const Clock::time_point start = Clock::now();
    int64_t drawn = 0;
    std::string failure;
    FrameLoop loop = offlineLoop(plan);
    loop.output = FrameOutput::ReadBack;
    loop.readBackDepth = readbackDepth;
    loop.preroll = options.preroll >= 0 ? options.preroll : showLeadIn;
    loop.frame = [&](const FrameInfo& frame) {
        if (interrupted()) {
            // Stops drawing; the frames drawn so far are still read back and written.
            failure = interruption();
            return FrameChoice::Stop;
        }
        // Before frame 0, from a reset show, the global frames before it (the feedback pass
        // carries earlier frames): by default as many as the whole show draws before its frame 0,
        // so a capture from the start is the whole show's frames exactly, and one from later shows
        // what the whole show shows there, up to the trails' history before its pre-roll.
        return frame.index == 0 ? FrameChoice::WarmUp : FrameChoice::Draw;
    };
    loop.picture = [&](int64_t index, const uint8_t* bottomUp) {
        uint8_t* buffer = writer->acquire();
        flipRows(bottomUp, buffer, width, height);
        writer->submit(index, buffer);
    };
    loop.drawn = [&](const FrameInfo&) { ++drawn; };
    loop.shown = [&](const FrameInfo&) { progress.update(writer->framesWritten(), secondsSince(start)); };
    try {
        player.run(loop);
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
    tell("capture: wrote " + std::to_string(written) + " frames (" +
         formatSeconds(plan.endTime() - plan.from) + " s of the show) to " + options.output + " in " +
         decimals(seconds, 1) + " s, " + decimals(seconds > 0.0 ? written / seconds : 0.0, 2) +
         " frames per second");
    return offlineDone;
}

} // namespace Velmora
