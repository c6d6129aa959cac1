#include "capture/VideoCheck.h"

#include "base/Process.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace Velmora {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// A number, or -1 for "N/A" and anything else that is not one.
double number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && std::isfinite(value) ? value : -1.0;
}

// The last non-empty line of a program's output.
std::string lastLine(const std::string& text) {
    std::string last;
    for (std::string line : split(text, '\n')) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", value);
    return text;
}

} // namespace

VideoFacts parseVideoProbe(const std::string& text) {
    VideoFacts facts;
    for (std::string line : split(text, '\n')) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        std::string type;
        double duration = -1.0;
        double packets = -1.0;
        for (const std::string& field : split(line, '|')) {
            const std::size_t equals = field.find('=');
            if (equals == std::string::npos) {
                continue;
            }
            const std::string key = field.substr(0, equals);
            const std::string value = field.substr(equals + 1);
            if (key == "codec_type") {
                type = value;
            } else if (key == "duration") {
                duration = number(value);
            } else if (key == "nb_read_packets") {
                packets = number(value);
            }
        }
        if (type == "video") {
            if (facts.videoStreams++ == 0) {
                facts.videoPackets = packets >= 0.0 ? static_cast<int64_t>(packets) : -1;
                facts.videoSeconds = duration;
            }
        } else if (type == "audio") {
            if (facts.audioStreams++ == 0) {
                facts.audioSeconds = duration;
            }
        } else if (type.empty()) {
            facts.fileSeconds = duration;
        }
    }
    return facts;
}

bool probeVideo(const std::string& ffprobe, const std::string& path, VideoFacts& facts, std::string& error) {
    ProcessDesc desc;
    desc.program = ffprobe;
    desc.arguments = {"-v",
                      "error",
                      "-count_packets",
                      "-show_entries",
                      "stream=codec_type,nb_read_packets,duration:format=duration",
                      "-of",
                      "compact=p=0",
                      ffmpegFileUrl(path)};
    desc.captureOutput = true;
    ChildProcess process;
    if (!process.start(desc, error)) {
        error = "cannot run " + ffprobe + ": " + error;
        return false;
    }
    const std::string output = process.readAllOutput();
    const ExitStatus status = process.wait();
    if (!status.success()) {
        const std::string said = lastLine(output);
        error = "ffprobe cannot read it (" + (said.empty() ? status.describe() : said) + ")";
        return false;
    }
    facts = parseVideoProbe(output);
    return true;
}

std::string videoProblem(const VideoFacts& facts, int64_t frames, int fps, bool withAudio) {
    if (facts.videoStreams != 1) {
        return "it holds " + std::to_string(facts.videoStreams) + " video streams instead of one";
    }
    if (facts.videoPackets != frames) {
        return "it holds " + std::to_string(facts.videoPackets) + " of the " + std::to_string(frames) +
               " frames written";
    }
    const double expected = static_cast<double>(frames) / fps;
    const double length = facts.videoSeconds >= 0.0 ? facts.videoSeconds : facts.fileSeconds;
    // The container's own length may include the sound's last block: only a shorter one counts.
    const bool shortFile = facts.videoSeconds < 0.0 && length >= 0.0 && length < expected - 0.5 / fps;
    const bool wrongStream = facts.videoSeconds >= 0.0 && std::fabs(length - expected) > 0.5 / fps;
    if (shortFile || wrongStream) {
        return "its pictures last " + seconds(length) + " instead of " + seconds(expected);
    }
    if (withAudio && facts.audioStreams < 1) {
        return "it holds no sound stream";
    }
    return "";
}

std::string ffmpegFileUrl(const std::string& path) {
    return "file:" + path;
}

} // namespace Velmora
