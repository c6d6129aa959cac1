#include "app/capture/FfmpegEncoder.h"

#include "base/Platform.h"
#include "base/Vexception.h"

#include <cctype>

namespace Velmora {

namespace {

bool endsWithMkv(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return tail == ".mkv";
}

} // namespace

std::vector<std::string> ffmpegArguments(const VideoSettings& settings, const std::string& writeTo) {
    std::string size = std::to_string(settings.width) + "x" + std::to_string(settings.height);
    std::vector<std::string> args = {"-hide_banner", "-loglevel", "error",      "-y",
                                     "-f",           "rawvideo",  "-pix_fmt",   "rgba",
                                     "-video_size",  size,        "-framerate", std::to_string(settings.fps),
                                     "-i",           "pipe:0"};
    if (!settings.audio.empty()) {
        args.insert(args.end(), {"-i", settings.audio, "-map", "0:v:0", "-map", "1:a:0"});
    }
    // Convert with the HD colour matrix and say so, so that players show the colours drawn.
    // "veryfast" costs under half the processor time of "medium" for files about 6 % larger at the
    // same quality (CRF 18): on a software-rendering machine the encoder shares the cores with the
    // renderer, and on a real GPU it would be the slowest part of a capture.
    args.insert(args.end(), {"-vf", "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p", "-c:v",
                             "libx264", "-preset", "veryfast", "-crf", "18", "-pix_fmt", "yuv420p",
                             "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709"});
    if (!settings.audio.empty()) {
        // The audio covers the planned span; a capture stopped early ends the audio with the pictures.
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k", "-shortest"});
    }
    if (endsWithMkv(settings.output)) {
        args.insert(args.end(), {"-f", "matroska"});
    } else {
        args.insert(args.end(), {"-movflags", "+faststart", "-f", "mp4"});
    }
    args.push_back(writeTo);
    return args;
}

FfmpegEncoder::FfmpegEncoder(VideoSettings settingsIn) : settings(std::move(settingsIn)) {
    partPath = settings.output + ".part";
    ignoreBrokenPipes();

    log = std::make_unique<TemporaryFile>("", "-ffmpeg.log");
    if (!log->valid() || !log->close(false)) {
        throw Vexception("Cannot start ffmpeg: no temporary file for its messages: " + log->error());
    }
    ProcessDesc desc;
    desc.program = settings.ffmpeg;
    desc.arguments = ffmpegArguments(settings, partPath);
    desc.pipeInput = true;
    desc.errorFile = log->path();
    std::string error;
    if (!process.start(desc, error)) {
        throw Vexception("Cannot start " + settings.ffmpeg + ": " + error);
    }
}

FfmpegEncoder::~FfmpegEncoder() {
    if (process.running()) {
        process.closeInput();
        process.kill();
        process.wait();
        removeFile(partPath);
    }
}

std::string FfmpegEncoder::ffmpegSaid() const {
    std::string text;
    std::string error;
    if (!log || !readRegularFile(log->path(), 1 << 20, text, error)) {
        return "";
    }
    // Keep the last two non-empty lines, on one line.
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    std::string said;
    for (size_t i = lines.size() > 2 ? lines.size() - 2 : 0; i < lines.size(); ++i) {
        said += (said.empty() ? "" : " / ") + lines[i];
    }
    return said;
}

void FfmpegEncoder::writeFrame(const uint8_t* rgbaTopDown) {
    if (!process.running()) {
        throw Vexception("ffmpeg input already closed");
    }
    const size_t size = static_cast<size_t>(settings.width) * settings.height * 4;
    std::string error;
    if (!process.writeInput(rgbaTopDown, size, error)) {
        // ffmpeg has gone: collect its exit and its reason.
        process.closeInput();
        const ExitStatus status = process.wait();
        removeFile(partPath);
        const std::string said = ffmpegSaid();
        throw Vexception("ffmpeg " + status.describe() + " (" + error + " writing to it)" +
                         (said.empty() ? "" : ": " + said));
    }
}

void FfmpegEncoder::finish() {
    if (!process.running()) {
        throw Vexception("ffmpeg is not running");
    }
    process.closeInput();
    const ExitStatus status = process.wait();
    if (!status.success()) {
        removeFile(partPath);
        const std::string said = ffmpegSaid();
        throw Vexception("ffmpeg failed to write " + settings.output + (said.empty() ? "" : ": " + said));
    }
    std::string error;
    if (!renameFile(partPath, settings.output, error)) {
        removeFile(partPath);
        throw Vexception("Cannot write " + settings.output + ": " + error);
    }
}

} // namespace Velmora
