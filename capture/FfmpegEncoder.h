// Encodes captured frames into a video file through the `ffmpeg` program, fed raw RGBA frames on
// a pipe: H.264 (libx264 veryfast, CRF 18, yuv420p, BT.709) with the span's audio as AAC, in MP4
// (fast-start, so it plays while downloading) or Matroska.
//
// The video is written beside the output under a name of its own (".NAME-PID-XXXXXX.part", so that
// two captures to one output never share it). ffmpeg treats every write error as fatal; when it has
// finished, the file is read back with ffprobe (every frame written, the length, the sound), flushed
// to the device and only then renamed over the output: the output name never holds a broken file,
// and an existing output stays as it was unless the new video is complete. A symbolic link as the
// output has the file it leads to replaced; anything but a regular file is refused. ffmpeg runs in
// its own process group: Ctrl-C in the terminal reaches only this program, which then ends the
// video cleanly (keepPartial). Broken pipes are ignored process-wide; a dead ffmpeg shows as a
// failed write instead.
#pragma once

#include "base/Files.h"
#include "base/Process.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Velmora {

// x264's threads in every encode: its output depends on their number.
constexpr int videoEncoderThreads = 4;

struct VideoSettings {
    std::string ffmpeg; // path of the program
    std::string output; // ends in .mp4 or .mkv
    int width = 0;
    int height = 0;
    int fps = 0;
    std::string audio; // WAV file to mux; empty for a silent video
    // Checks the finished video; empty: "ffprobe" beside `ffmpeg`, or on the PATH.
    std::string ffprobe;
};

// The argument list (without the program itself) that encodes into `writeTo`. Every path is given
// as a file URL, so that no name is taken for an option or a protocol.
std::vector<std::string> ffmpegArguments(const VideoSettings& settings, const std::string& writeTo);

// The name of the n-th (1, 2, ...) candidate for keeping a stopped capture beside `output`:
// "show.mp4" -> "show.partial.mp4", "show.partial-2.mp4", ...
std::string partialVideoName(const std::string& output, int attempt);

class FfmpegEncoder {
public:
    // Starts ffmpeg. Throws Vexception when it cannot be started or the output cannot be replaced.
    explicit FfmpegEncoder(VideoSettings settings);
    // When not finished: stops ffmpeg and removes the partial file.
    ~FfmpegEncoder();

    // One frame of width x height RGBA pixels, top row first. Throws Vexception when ffmpeg has
    // stopped, with ffmpeg's own last words.
    void writeFrame(const uint8_t* rgbaTopDown);
    // Ends the input, waits for ffmpeg, verifies the video and moves it into place. Throws
    // Vexception with the reason (ffmpeg's words, what the check found, the system's error) when
    // any of it fails; the partial file is then removed and the output is unchanged.
    void finish();
    // For a capture that stopped early: ends the video and, when it holds at least one frame and
    // passes the check, keeps it beside the output under a name that replaces nothing
    // (partialVideoName). Returns that path, or empty with the reason in `why` (nothing is kept).
    std::string keepPartial(std::string& why);

    int64_t framesWritten() const { return frames; }
    // Where the video is written until it is finished.
    const std::string& temporaryPath() const { return partPath; }

    FfmpegEncoder(const FfmpegEncoder&) = delete;
    FfmpegEncoder& operator=(const FfmpegEncoder&) = delete;

private:
    std::string ffmpegSaid() const;
    // Ends ffmpeg's input, waits for it and checks the file; false with the reason.
    bool complete(std::string& why);

    VideoSettings settings;
    std::string target; // the file replaced: the output, or what its link leads to
    std::string partPath;
    std::unique_ptr<TemporaryFile> part;
    int64_t frames = 0;
    ChildProcess process;
    // ffmpeg's standard error, for its own words when it fails.
    std::unique_ptr<TemporaryFile> log;
};

} // namespace Velmora
