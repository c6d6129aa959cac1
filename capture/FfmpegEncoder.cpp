#include "capture/FfmpegEncoder.h"

#include "base/Platform.h"
#include "base/Vexception.h"
#include "capture/VideoCheck.h"

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

// ffprobe comes with ffmpeg: the one beside it first, so that both are of one installation.
std::string findProbe(const std::string& ffmpeg) {
    const std::string beside =
        baseName(ffmpeg) == ffmpeg ? "" : findProgramOnPath(parentFolder(ffmpeg) + "/ffprobe");
    return beside.empty() ? findProgramOnPath("ffprobe") : beside;
}

} // namespace

std::string partialVideoName(const std::string& output, int attempt) {
    const std::string folder = baseName(output) == output ? "" : parentFolder(output) + "/";
    const std::string name = baseName(output);
    const std::size_t dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    return folder + stem + ".partial" + (attempt > 1 ? "-" + std::to_string(attempt) : "") + extension;
}

std::vector<std::string> ffmpegArguments(const VideoSettings& settings, const std::string& writeTo) {
    std::string size = std::to_string(settings.width) + "x" + std::to_string(settings.height);
    // -xerror: a failed write (a full disk) ends ffmpeg with an error status; without it ffmpeg
    // reports a failed trailer and still exits 0, leaving a file without its index.
    std::vector<std::string> args = {"-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-xerror",
                                     "-y",
                                     "-f",
                                     "rawvideo",
                                     "-pix_fmt",
                                     "rgba",
                                     "-video_size",
                                     size,
                                     "-framerate",
                                     std::to_string(settings.fps),
                                     "-i",
                                     "pipe:0"};
    if (!settings.audio.empty()) {
        args.insert(args.end(), {"-i", ffmpegFileUrl(settings.audio), "-map", "0:v:0", "-map", "1:a:0"});
    }
    // Convert with the HD colour matrix and say so, so that players show the colours drawn.
    // "veryfast" costs under half the processor time of "medium" for files about 6 % larger at the
    // same quality (CRF 18): on a software-rendering machine the encoder shares the cores with the
    // renderer, and on a real GPU it would be the slowest part of a capture.
    args.insert(args.end(), {"-vf", "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p", "-c:v",
                             "libx264", "-preset", "veryfast", "-crf", "18", "-pix_fmt", "yuv420p",
                             "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709"});
    // The same frames give the same file on every machine: x264's output depends on its number of
    // threads, so it is pinned, and the container carries no version strings, dates or metadata.
    args.insert(args.end(), {"-threads:v", std::to_string(videoEncoderThreads)});
    if (!settings.audio.empty()) {
        // The audio covers the planned span; a capture stopped early ends the audio with the pictures.
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k", "-shortest"});
    }
    args.insert(args.end(), {"-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact",
                             "-map_metadata", "-1"});
    if (endsWithMkv(settings.output)) {
        args.insert(args.end(), {"-f", "matroska"});
    } else {
        args.insert(args.end(), {"-movflags", "+faststart", "-f", "mp4"});
    }
    args.push_back(ffmpegFileUrl(writeTo));
    return args;
}

FfmpegEncoder::FfmpegEncoder(VideoSettings settingsIn) : settings(std::move(settingsIn)) {
    ignoreBrokenPipes();
    if (settings.ffprobe.empty()) {
        settings.ffprobe = findProbe(settings.ffmpeg);
    }
    std::string error;
    target = replacementTarget(settings.output, error);
    if (target.empty()) {
        throw Vexception("Cannot write " + settings.output + ": " + error);
    }
    part = std::make_unique<TemporaryFile>(target, ".part");
    if (!part->valid() || !part->close(false)) {
        throw Vexception("Cannot write " + settings.output +
                         ": no temporary file beside it: " + part->error());
    }
    partPath = part->path();

    log = std::make_unique<TemporaryFile>("", "-ffmpeg.log");
    if (!log->valid() || !log->close(false)) {
        throw Vexception("Cannot start ffmpeg: no temporary file for its messages: " + log->error());
    }
    ProcessDesc desc;
    desc.program = settings.ffmpeg;
    desc.arguments = ffmpegArguments(settings, partPath);
    desc.pipeInput = true;
    desc.errorFile = log->path();
    if (!process.start(desc, error)) {
        throw Vexception("Cannot start " + settings.ffmpeg + ": " + error);
    }
}

FfmpegEncoder::~FfmpegEncoder() {
    if (process.running()) {
        process.closeInput();
        process.kill();
        process.wait();
    }
    // `part` removes the unfinished file, unless it was kept.
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
        part.reset();
        const std::string said = ffmpegSaid();
        throw Vexception("ffmpeg " + status.describe() + " (" + error + " writing to it)" +
                         (said.empty() ? "" : ": " + said));
    }
    ++frames;
}

bool FfmpegEncoder::complete(std::string& why) {
    if (!process.running()) {
        why = "ffmpeg is not running";
        return false;
    }
    process.closeInput();
    const ExitStatus status = process.wait();
    if (!status.success()) {
        const std::string said = ffmpegSaid();
        why = "ffmpeg failed to write " + settings.output + " (it " + status.describe() + ")" +
              (said.empty() ? "" : ": " + said);
        return false;
    }
    VideoFacts facts;
    std::string error;
    if (!probeVideo(settings.ffprobe, partPath, facts, error)) {
        why = "the video ffmpeg wrote is broken: " + error;
        return false;
    }
    const std::string problem = videoProblem(facts, frames, settings.fps, !settings.audio.empty());
    if (!problem.empty()) {
        why = "the video ffmpeg wrote is incomplete: " + problem;
        return false;
    }
    return true;
}

void FfmpegEncoder::finish() {
    std::string why;
    if (!complete(why)) {
        part.reset();
        throw Vexception(why);
    }
    // Flushed to the device before the rename, so that a crash cannot leave an empty file under
    // the output's name.
    std::string error;
    if (!moveIntoPlace(partPath, target, error)) {
        part.reset();
        throw Vexception("Cannot write " + settings.output + ": " + error);
    }
    part->keep();
    part.reset();
}

std::string FfmpegEncoder::keepPartial(std::string& why) {
    if (!process.running()) {
        // ffmpeg has already failed (writeFrame said why): its file is gone.
        part.reset();
        why = "no video was kept";
        return "";
    }
    if (frames == 0) {
        if (process.running()) {
            process.closeInput();
            process.wait();
        }
        part.reset();
        why = "no frame was written, so no partial video was kept";
        return "";
    }
    if (!complete(why)) {
        part.reset();
        return "";
    }
    std::string kept;
    for (int attempt = 1; attempt <= 1000 && kept.empty(); ++attempt) {
        const std::string name = partialVideoName(target, attempt);
        if (!pathExists(name)) {
            kept = name;
        }
    }
    WriteOptions options;
    options.replace = false;
    std::string error;
    if (kept.empty() || !moveIntoPlace(partPath, kept, error, options)) {
        part.reset();
        why = "the partial video could not be kept: " +
              (kept.empty() ? "no free name beside the output" : error);
        return "";
    }
    part->keep();
    part.reset();
    return kept;
}

} // namespace Velmora
