#include "app/capture/FfmpegEncoder.h"

#include "engine/Vexception.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
    std::signal(SIGPIPE, SIG_IGN);

    log = std::tmpfile();
    if (log == nullptr) {
        throw Vexception(std::string("Cannot start ffmpeg: no temporary file for its messages: ") +
                         std::strerror(errno));
    }
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        std::fclose(log);
        throw Vexception(std::string("Cannot start ffmpeg: ") + std::strerror(errno));
    }
    // A larger pipe lets a whole row block go through per write.
    fcntl(pipeEnds[1], F_SETPIPE_SZ, 1 << 20);

    std::vector<std::string> args = ffmpegArguments(settings, partPath);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("ffmpeg"));
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fileno(log), 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigset_t noMask;
    sigemptyset(&noMask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &noMask);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    int result = posix_spawn(&pid, settings.ffmpeg.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[0]);
    if (result != 0) {
        pid = -1;
        ::close(pipeEnds[1]);
        std::fclose(log);
        log = nullptr;
        throw Vexception("Cannot start " + settings.ffmpeg + ": " + std::strerror(result));
    }
    input = pipeEnds[1];
}

FfmpegEncoder::~FfmpegEncoder() {
    if (pid > 0) {
        closeInput();
        kill(pid, SIGKILL);
        waitForExit();
        ::unlink(partPath.c_str());
    }
    if (log != nullptr) {
        std::fclose(log);
    }
}

void FfmpegEncoder::closeInput() {
    if (input >= 0) {
        ::close(input);
        input = -1;
    }
}

int FfmpegEncoder::waitForExit() {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    pid = -1;
    return status;
}

std::string FfmpegEncoder::ffmpegSaid() const {
    if (log == nullptr) {
        return "";
    }
    std::fflush(log);
    std::string text;
    char buffer[4096];
    if (std::fseek(log, 0, SEEK_SET) == 0) {
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, log)) > 0) {
            text.append(buffer, n);
            if (text.size() > 65536) {
                text.erase(0, text.size() - 4096);
            }
        }
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
    if (input < 0) {
        throw Vexception("ffmpeg input already closed");
    }
    size_t size = static_cast<size_t>(settings.width) * settings.height * 4;
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(input, rgbaTopDown + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            int error = n < 0 ? errno : EIO;
            // ffmpeg has gone: collect its exit and its reason.
            closeInput();
            int status = waitForExit();
            ::unlink(partPath.c_str());
            std::string said = ffmpegSaid();
            std::string how = WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                              : WIFSIGNALED(status)
                                  ? "was killed by signal " + std::to_string(WTERMSIG(status))
                                  : std::string("stopped");
            throw Vexception("ffmpeg " + how + " (" + std::strerror(error) + " writing to it)" +
                             (said.empty() ? "" : ": " + said));
        }
        done += static_cast<size_t>(n);
    }
}

void FfmpegEncoder::finish() {
    if (pid <= 0) {
        throw Vexception("ffmpeg is not running");
    }
    closeInput();
    int status = waitForExit();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ::unlink(partPath.c_str());
        std::string said = ffmpegSaid();
        throw Vexception("ffmpeg failed to write " + settings.output + (said.empty() ? "" : ": " + said));
    }
    if (std::rename(partPath.c_str(), settings.output.c_str()) != 0) {
        int error = errno;
        ::unlink(partPath.c_str());
        throw Vexception("Cannot write " + settings.output + ": " + std::strerror(error));
    }
}

} // namespace Velmora
