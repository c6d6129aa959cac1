// Encodes captured frames into a video file through the `ffmpeg` program, fed raw RGBA frames on
// a pipe: H.264 (libx264 veryfast, CRF 18, yuv420p, BT.709) with the span's audio as AAC, in MP4
// (fast-start, so it plays while downloading) or Matroska.
//
// The video is written under "<output>.part" and renamed to the output only when ffmpeg has
// finished successfully, so the output name never holds a broken file. ffmpeg runs in its own
// process group: Ctrl-C in the terminal reaches only this program, which then ends the video
// cleanly. Broken pipes are ignored process-wide; a dead ffmpeg shows as a failed write instead.
#pragma once

#include "base/Files.h"
#include "base/Process.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Velmora {

struct VideoSettings {
    std::string ffmpeg; // path of the program
    std::string output; // ends in .mp4 or .mkv
    int width = 0;
    int height = 0;
    int fps = 0;
    std::string audio; // WAV file to mux; empty for a silent video
};

// The argument list (without the program itself) that encodes into `writeTo`.
std::vector<std::string> ffmpegArguments(const VideoSettings& settings, const std::string& writeTo);

class FfmpegEncoder {
public:
    // Starts ffmpeg. Throws Vexception when it cannot be started.
    explicit FfmpegEncoder(VideoSettings settings);
    // When not finished: stops ffmpeg and removes the partial file.
    ~FfmpegEncoder();

    // One frame of width x height RGBA pixels, top row first. Throws Vexception when ffmpeg has
    // stopped, with ffmpeg's own last words.
    void writeFrame(const uint8_t* rgbaTopDown);
    // Ends the input, waits for ffmpeg and moves the finished video into place. Throws Vexception
    // when ffmpeg failed (the partial file is then removed).
    void finish();

    FfmpegEncoder(const FfmpegEncoder&) = delete;
    FfmpegEncoder& operator=(const FfmpegEncoder&) = delete;

private:
    std::string ffmpegSaid() const;

    VideoSettings settings;
    std::string partPath;
    ChildProcess process;
    // ffmpeg's standard error, for its own words when it fails.
    std::unique_ptr<TemporaryFile> log;
};

} // namespace Velmora
