// Stands in for ffmpeg.exe and ffprobe.exe (one source, two programs: VELMORA_STANDIN_PROBE picks
// the second), so that the Windows build's video capture can be tested under wine, where no Windows
// ffmpeg is at hand. They check what velmora.exe gives them and leave a record instead of a video:
//
//   ffmpeg.exe  takes the arguments the capture passes (raw RGBA frames on its standard input, an
//               optional WAV file, a "file:" output), reads every byte of the input and writes the
//               record "velmora-ffmpeg-stand-in" with the frames, their size, the frame rate, the
//               container and how many frames were not black. Anything unexpected (a partial frame,
//               a WAV file that is not one, an unknown argument layout) is an error on stderr and
//               status 1. With VELMORA_STANDIN_FAIL set it reads one frame, prints its value as
//               the reason (as ffmpeg prints a failed write) and ends with status 1.
//   ffprobe.exe reads such a record and prints what ffprobe prints for the capture's question
//               (compact, one line per stream and one for the container); anything else is
//               "Invalid data found when processing input", status 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {

const char* const recordMagic = "velmora-ffmpeg-stand-in";

int refuse(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
}

// The path of a "file:" URL, or "" when the text is not one.
std::string filePath(const std::string& url) {
    return url.rfind("file:", 0) == 0 ? url.substr(5) : "";
}

// The value following `name` in the arguments, or "".
std::string valueOf(const std::vector<std::string>& args, const std::string& name) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == name) {
            return args[i + 1];
        }
    }
    return "";
}

bool isWaveFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return false;
    }
    char header[12] = {};
    const size_t got = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    return got == sizeof header && std::memcmp(header, "RIFF", 4) == 0 &&
           std::memcmp(header + 8, "WAVE", 4) == 0;
}

int ffmpeg(const std::vector<std::string>& args) {
    if (args.empty() || valueOf(args, "-f") != "rawvideo" || valueOf(args, "-pix_fmt") != "rgba" ||
        valueOf(args, "-i") != "pipe:0") {
        return refuse("stand-in ffmpeg: not the capture's arguments");
    }
    int width = 0;
    int height = 0;
    if (std::sscanf(valueOf(args, "-video_size").c_str(), "%dx%d", &width, &height) != 2 || width <= 0 ||
        height <= 0 || width > 16384 || height > 16384) {
        return refuse("stand-in ffmpeg: no usable -video_size");
    }
    const int fps = std::atoi(valueOf(args, "-framerate").c_str());
    const std::string output = filePath(args.back());
    if (fps <= 0 || output.empty()) {
        return refuse("stand-in ffmpeg: no frame rate or no file: output");
    }
    std::string audio;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-i" && args[i + 1] != "pipe:0") {
            audio = filePath(args[i + 1]);
            if (!isWaveFile(audio)) {
                return refuse("stand-in ffmpeg: " + args[i + 1] + " is not a WAV file");
            }
        }
    }
    std::string container;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-f" && args[i + 1] != "rawvideo") {
            container = args[i + 1];
        }
    }

    _setmode(_fileno(stdin), _O_BINARY);
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    std::vector<unsigned char> frame(frameBytes);
    long frames = 0;
    long litFrames = 0;
    for (;;) {
        const size_t got = std::fread(frame.data(), 1, frameBytes, stdin);
        if (got == 0) {
            break;
        }
        if (got != frameBytes) {
            return refuse("stand-in ffmpeg: the input ends inside a frame (" + std::to_string(got) + " of " +
                          std::to_string(frameBytes) + " bytes)");
        }
        ++frames;
        for (size_t i = 0; i < frameBytes; i += 4) {
            if (frame[i] != 0 || frame[i + 1] != 0 || frame[i + 2] != 0) {
                ++litFrames;
                break;
            }
        }
        if (const char* reason = std::getenv("VELMORA_STANDIN_FAIL")) {
            return refuse(std::string("stand-in ffmpeg: ") + reason);
        }
    }

    FILE* file = std::fopen(output.c_str(), "wb");
    if (!file) {
        return refuse("stand-in ffmpeg: cannot create " + output);
    }
    const int written = std::fprintf(
        file, "%s\nframes=%ld\nlit=%ld\nsize=%dx%d\nfps=%d\naudio=%d\ncontainer=%s\n", recordMagic, frames,
        litFrames, width, height, fps, audio.empty() ? 0 : 1, container.c_str());
    if (std::fclose(file) != 0 || written < 0) {
        return refuse("stand-in ffmpeg: cannot write " + output);
    }
    return 0;
}

int ffprobe(const std::vector<std::string>& args) {
    const std::string path = args.empty() ? "" : filePath(args.back());
    FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
    char magic[64] = {};
    long frames = -1;
    int fps = 0;
    int audio = 0;
    const bool read = file && std::fscanf(file, "%63s frames=%ld lit=%*d size=%*dx%*d fps=%d audio=%d", magic,
                                          &frames, &fps, &audio) == 4;
    if (file) {
        std::fclose(file);
    }
    if (!read || std::strcmp(magic, recordMagic) != 0 || fps <= 0) {
        std::printf("%s: Invalid data found when processing input\n",
                    args.empty() ? "" : args.back().c_str());
        return 1;
    }
    const double seconds = static_cast<double>(frames) / fps;
    std::printf("codec_type=video|duration=%.6f|nb_read_packets=%ld\n", seconds, frames);
    if (audio) {
        std::printf("codec_type=audio|duration=%.6f|nb_read_packets=%ld\n", seconds,
                    static_cast<long>(seconds * 44100 / 1024));
    }
    std::printf("duration=%.6f\n", seconds);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

#ifdef VELMORA_STANDIN_PROBE
constexpr bool standsInForProbe = true;
#else
constexpr bool standsInForProbe = false;
#endif

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return standsInForProbe ? ffprobe(args) : ffmpeg(args);
}
