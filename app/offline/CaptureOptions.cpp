#include "app/offline/CaptureOptions.h"

#include "base/Files.h"
#include "base/Platform.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace Velmora {

namespace {

// Parses a whole decimal number made only of digits, within 1 .. limit.
bool parseWholeNumber(const std::string& text, int limit, int& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    long result = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        result = result * 10 + (c - '0');
    }
    if (result < 1 || result > limit) {
        return false;
    }
    value = static_cast<int>(result);
    return true;
}

std::string lowercase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The nearest existing ancestor of a path that does not exist yet ("a/b/c" -> "a" when only "a" exists).
std::string nearestExisting(std::string path) {
    while (path.size() > 1 && isPathSeparator(path.back())) {
        path.pop_back();
    }
    while (!pathExists(path)) {
        std::string parent = parentFolder(path);
        if (parent == path) {
            break;
        }
        path = parent;
    }
    return path;
}

// True when the folder already holds files a capture writes, so a new capture would mix with them.
bool holdsEarlierCapture(const std::string& directory) {
    for (const std::string& name : listDirectory(directory)) {
        if (name == "audio.wav" || (name.compare(0, 6, "frame_") == 0 && name.size() > 10 &&
                                    name.compare(name.size() - 4, 4, ".png") == 0)) {
            return true;
        }
    }
    return false;
}

// The process id of a running capture that marked the folder as its own (see CaptureFolderClaim),
// or 0.
long captureInProgress(const std::string& directory) {
    std::string owner;
    std::string error;
    if (!readRegularFile(directory + "/.velmora-capture", 64, owner, error)) {
        return 0;
    }
    const long id = std::atol(owner.c_str());
    return id > 0 && processRunning(id) ? id : 0;
}

} // namespace

bool parseCaptureSize(const std::string& text, int& width, int& height) {
    size_t cross = text.find_first_of("xX");
    if (cross == std::string::npos) {
        return false;
    }
    int w = 0;
    int h = 0;
    if (!parseWholeNumber(text.substr(0, cross), maxCaptureSide, w) ||
        !parseWholeNumber(text.substr(cross + 1), maxCaptureSide, h)) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

bool parseCaptureFps(const std::string& text, int& fps) {
    return parseWholeNumber(text, maxCaptureFps, fps);
}

bool parseCaptureSeconds(const std::string& text, double& seconds) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < 0.0) {
        return false;
    }
    seconds = value;
    return true;
}

CaptureOutputKind captureOutputKind(const std::string& path) {
    if (!path.empty() && isPathSeparator(path.back())) {
        return CaptureOutputKind::Folder;
    }
    if (isDirectory(path)) {
        return CaptureOutputKind::Folder;
    }
    std::string name = baseName(path);
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) {
        return CaptureOutputKind::Folder;
    }
    std::string extension = lowercase(name.substr(dot));
    if (extension == ".mp4" || extension == ".mkv") {
        return CaptureOutputKind::Video;
    }
    return CaptureOutputKind::Unsupported;
}

std::string checkCaptureOptions(const CaptureOptions& options) {
    const bool farmOption = options.chunkCount > 0 || options.overlap >= 0 || !options.assemble.empty();
    if (farmOption || options.preroll >= 0) {
        if (options.mode != OfflineMode::Capture && options.mode != OfflineMode::Assemble) {
            return "--chunk, --assemble, --preroll and --overlap only apply to --capture";
        }
        if (options.overlap >= 0 && options.chunkCount == 0) {
            return "--overlap only applies to --chunk";
        }
        if (options.mode == OfflineMode::Assemble && (options.chunkCount > 0 || options.preroll >= 0)) {
            return "--assemble takes its plan from the chunks' manifests: no --chunk or --preroll";
        }
    }
    if (options.mode == OfflineMode::None) {
        if (options.hasFps || options.hasFrom || options.hasTo) {
            return "--fps, --from and --to only apply to --capture and --timedemo";
        }
        if (!options.report.empty()) {
            return "--report only applies to --timedemo";
        }
        return "";
    }
    if (!options.report.empty() && options.mode != OfflineMode::Timedemo) {
        return "--report only applies to --timedemo";
    }
    if (options.width < 1 || options.height < 1 || options.width > maxCaptureSide ||
        options.height > maxCaptureSide) {
        return "the size must be WxH with both sides from 1 to " + std::to_string(maxCaptureSide);
    }
    if (options.fps < 1 || options.fps > maxCaptureFps) {
        return "--fps must be a whole number from 1 to " + std::to_string(maxCaptureFps);
    }
    if (!(options.from >= 0.0) || !std::isfinite(options.from)) {
        return "--from must be a number of seconds, 0 or more";
    }
    if (options.hasTo && !(options.to > options.from)) {
        return "--to must be later than --from";
    }
    if (options.mode == OfflineMode::Timedemo) {
        return "";
    }
    if (options.output.empty()) {
        return "--capture needs an output: a .mp4 or .mkv file, or a folder for PNG frames";
    }
    switch (captureOutputKind(options.output)) {
    case CaptureOutputKind::Unsupported:
        return "cannot capture to '" + options.output +
               "': the output must end in .mp4 or .mkv, or be a folder (ending in a separator or without "
               "extension)";
    case CaptureOutputKind::Video:
        // H.264 in 4:2:0 halves the colour planes: odd sides cannot be encoded.
        if (options.width % 2 != 0 || options.height % 2 != 0) {
            return "a video needs an even width and height (" + std::to_string(options.width) + "x" +
                   std::to_string(options.height) + " given); use a folder for odd sizes";
        }
        break;
    case CaptureOutputKind::Folder:
        break;
    }
    return "";
}

namespace {

// The timedemo's report file: a regular file or a new name in an existing, writable folder.
std::string checkReportOutput(const std::string& report) {
    const std::string tooLong = pathNameProblem(report);
    if (!tooLong.empty()) {
        return "cannot write the report '" + report + "': " + tooLong;
    }
    if (pathExists(report) && !isDirectory(report) && !canWriteFile(report)) {
        return "cannot write the report '" + report + "': the file is not writable";
    }
    std::string problem;
    if (replacementTarget(report, problem).empty()) {
        return "cannot write the report '" + report + "': it " + problem;
    }
    const std::string parent = parentFolder(report);
    if (!isDirectory(parent)) {
        return "cannot write the report '" + report + "': the folder '" + parent + "' does not exist";
    }
    if (!canWriteInto(parent)) {
        return "cannot write the report '" + report + "': the folder '" + parent + "' is not writable";
    }
    return "";
}

} // namespace

std::string checkCaptureOutput(const CaptureOptions& options) {
    if (options.mode == OfflineMode::Timedemo) {
        return options.report.empty() ? "" : checkReportOutput(options.report);
    }
    const std::string& out = options.output;
    // A name longer than the system allows would fail only when the capture creates it.
    const std::string tooLong = pathNameProblem(out);
    if (!tooLong.empty()) {
        return "cannot write '" + out + "': " + tooLong;
    }
    if (captureOutputKind(out) == CaptureOutputKind::Folder) {
        if (isDirectory(out)) {
            if (!canWriteInto(out)) {
                return "cannot write into the folder '" + out + "': " + std::strerror(EACCES);
            }
            const long writer = captureInProgress(out);
            if (writer > 0) {
                return "cannot capture into '" + out + "': another capture (process " +
                       std::to_string(writer) + ") is writing into it";
            }
            if (holdsEarlierCapture(out)) {
                return "the folder '" + out +
                       "' already holds a capture (frame_*.png or audio.wav); remove it or choose another "
                       "folder";
            }
            return "";
        }
        std::string ancestor = nearestExisting(out);
        if (!isDirectory(ancestor)) {
            return "cannot create the folder '" + out + "': '" + ancestor + "' is not a folder";
        }
        if (!canWriteInto(ancestor)) {
            return "cannot create the folder '" + out + "': '" + ancestor + "' is not writable";
        }
        return "";
    }
    if (isDirectory(out)) {
        return "cannot write the video '" + out + "': it is a folder";
    }
    std::string parent = parentFolder(out);
    if (!isDirectory(parent)) {
        return "cannot write the video '" + out + "': the folder '" + parent + "' does not exist";
    }
    if (!canWriteInto(parent)) {
        return "cannot write the video '" + out + "': the folder '" + parent + "' is not writable";
    }
    if (pathExists(out) && !canWriteFile(out)) {
        return "cannot write the video '" + out + "': the file is not writable";
    }
    std::string problem;
    if (pathExists(out) && replacementTarget(out, problem).empty()) {
        return "cannot write the video '" + out + "': it " + problem;
    }
    return "";
}

std::string applyOfflineOption(CaptureOptions& options, const std::string& name, const std::string& value) {
    if (name == "--capture" || name == "--timedemo") {
        OfflineMode mode = name == "--capture" ? OfflineMode::Capture : OfflineMode::Timedemo;
        if (options.mode != OfflineMode::None && options.mode != mode) {
            return "--capture and --timedemo exclude each other";
        }
        if (options.mode == mode) {
            return name + " given twice";
        }
        options.mode = mode;
        if (mode == OfflineMode::Capture) {
            if (value.empty()) {
                return "--capture needs an output: a .mp4 or .mkv file, or a folder for PNG frames";
            }
            options.output = value;
        }
        return "";
    }
    if (name == "--report") {
        if (value.empty()) {
            return "--report needs a file name";
        }
        options.report = value;
        return "";
    }
    if (name == "--preroll" || name == "--overlap") {
        int64_t frames = 0;
        errno = 0;
        char* stop = nullptr;
        const long long parsed = std::strtoll(value.c_str(), &stop, 10);
        if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || errno != 0 ||
            *stop != '\0' || parsed > 1000000) {
            return "bad " + name + " '" + value + "': a whole number of frames from 0 to 1000000";
        }
        frames = parsed;
        (name == "--preroll" ? options.preroll : options.overlap) = frames;
        return "";
    }
    if (name == "--chunk") {
        // I/N: chunk I (from 0) of N.
        const size_t slash = value.find('/');
        char* stop = nullptr;
        errno = 0;
        const long index = slash == std::string::npos ? -1 : std::strtol(value.c_str(), &stop, 10);
        const bool indexOk = slash != std::string::npos && slash > 0 && stop == value.c_str() + slash &&
                             std::isdigit(static_cast<unsigned char>(value[0]));
        const long count = indexOk ? std::strtol(value.c_str() + slash + 1, &stop, 10) : 0;
        if (!indexOk || errno != 0 || *stop != '\0' || slash + 1 >= value.size() ||
            !std::isdigit(static_cast<unsigned char>(value[slash + 1])) || count < 1 || count > 100000 ||
            index < 0 || index >= count) {
            return "bad --chunk '" + value + "': I/N, chunk I (from 0) of N chunks, N from 1 to 100000";
        }
        options.chunkIndex = static_cast<int>(index);
        options.chunkCount = static_cast<int>(count);
        return "";
    }
    if (name == "--assemble") {
        if (value.empty()) {
            return "--assemble needs the folder of the chunks";
        }
        options.assemble = value;
        return "";
    }
    if (name == "--fps") {
        if (!parseCaptureFps(value, options.fps)) {
            return "bad --fps '" + value + "': a whole number from 1 to " + std::to_string(maxCaptureFps);
        }
        options.hasFps = true;
        return "";
    }
    if (name == "--from" || name == "--to") {
        double seconds = 0.0;
        if (!parseCaptureSeconds(value, seconds)) {
            return "bad " + name + " '" + value + "': a number of seconds, 0 or more";
        }
        if (name == "--from") {
            options.from = seconds;
            options.hasFrom = true;
        } else {
            options.to = seconds;
            options.hasTo = true;
        }
        return "";
    }
    return "unknown option '" + name + "'";
}

std::string finishOfflineOptions(CaptureOptions& options, bool windowOptionGiven, int width, int height) {
    if (!options.assemble.empty()) {
        if (options.mode != OfflineMode::Capture) {
            return "--assemble needs --capture OUT: the video or folder to write";
        }
        if (options.hasFps || options.hasFrom || options.hasTo || width > 0) {
            return "--assemble takes the size, frame rate and span from the chunks' manifests";
        }
        options.mode = OfflineMode::Assemble;
    }
    if (options.mode != OfflineMode::None) {
        if (windowOptionGiven) {
            return "--windowed, --fullscreen and --vsync do not apply to --capture and --timedemo, "
                   "which draw off-screen";
        }
        if (width > 0 && height > 0) {
            options.width = width;
            options.height = height;
        }
    }
    return checkCaptureOptions(options);
}

std::string offlineHelp() {
    return "\n"
           "--capture OUT and --timedemo draw the show off-screen (invisible window, no sound, any\n"
           "screen size) with the offline clock: frame k at FROM + k/FPS seconds of the music, until\n"
           "the end track goes below 0, --to, or the end of the music. Size 1280x720 and 30 fps unless\n"
           "--size and --fps say otherwise.\n"
           "  OUT ending in .mp4 or .mkv: one H.264/AAC video with the music of the same span (needs\n"
           "  the ffmpeg program, on Windows ffmpeg.exe beside velmora.exe or on the PATH, and an even\n"
           "  width and height; an existing file is replaced only once the new video is complete).\n"
           "  Any other OUT is a folder: an existing folder, a path ending in '/' (or '\\' on\n"
           "  Windows), or a name without extension (created if needed; it must not hold an earlier\n"
           "  capture). It receives frame_000000.png, frame_000001.png, ... and audio.wav (16-bit\n"
           "  stereo PCM) of the same span.\n"
           "  --timedemo prints, on standard output, lines 'timedemo: size WxH fps N from S',\n"
           "  'timedemo: frames N', 'timedemo: total S s', then mean, median, p99, worst (with its\n"
           "  frame) and first frame times as 'timedemo: NAME MS ms'; --report FILE also writes them\n"
           "  to FILE as a JSON object (width, height, fps, from_s, frames, total_s, mean_ms,\n"
           "  median_ms, p99_ms, worst_ms, worst_frame, first_ms).\n"
           "  Before drawing, both check the data folder (see --check) and that every shader compiles\n"
           "  and links. A capture stopped early (Ctrl-C, SIGTERM, an error) keeps the frames written:\n"
           "  a video of them goes beside OUT as NAME.partial.EXT, OUT itself is left as it was.\n"
           "--chunk I/N with --capture DIR draws chunk I (from 0) of N of the span into DIR/chunk-NNNN/:\n"
           "  --preroll frames before it (default 5 s of frames) and --overlap frames past it (default\n"
           "  2 s, less for short chunks), its frames as PNG and a manifest. --assemble DIR --capture OUT\n"
           "  checks DIR's chunks (same plan, build, data and renderer), proves that each equals the\n"
           "  one-machine render, draws again only what it cannot prove, and writes OUT once, bit for\n"
           "  bit as one --capture would. --preroll N alone sets the frames a capture draws before its\n"
           "  first (default 7).\n"
           "Exit status: 0 done; 1 stopped midway (frames and videos written stay valid), a broken\n"
           "data folder or shader (named on standard error; nothing is created), or standard output\n"
           "could not be written; 2 bad arguments or an output that cannot be written (nothing is\n"
           "created).\n";
}

} // namespace Velmora
