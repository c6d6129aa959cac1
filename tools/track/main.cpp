// velmora-track: looks at, builds and evaluates sync track files. See `usage` below.
#include "base/Files.h"
#include "base/Platform.h"
#include "sync/TrackData.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Velmora::TrackFile;
using Velmora::TrackKey;
using Velmora::TrackText;

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

// A text source larger than this is refused: millions of keys, far beyond any show.
constexpr std::uint64_t maxSourceBytes = 64ull << 20;

const char* const usage = "usage: velmora-track dump FILE.track\n"
                          "       velmora-track build SOURCE OUT.track\n"
                          "       velmora-track eval FILE.track ROW [ROW...]\n"
                          "       velmora-track --help\n";

const char* const help =
    "\n"
    "Looks at, builds and evaluates the demo's sync track files.\n"
    "\n"
    "  dump   prints the keys of a track file in the text form below, in file order.\n"
    "  build  compiles a text-form SOURCE ('-' reads standard input) into OUT.track.\n"
    "         Errors are reported as SOURCE:LINE: error: ...; on any error nothing is\n"
    "         written and an existing OUT.track is left as it was. The output of dump\n"
    "         builds back to the identical file. OUT.track is replaced only when it is\n"
    "         a regular file (keeping its permissions; through a symbolic link, the file\n"
    "         it leads to) and never when it is SOURCE itself.\n"
    "  eval   prints the track's value at each ROW (a number, fraction kept), one per\n"
    "         line, exactly as the demo evaluates it.\n"
    "\n"
    "Text form: one key per line, three fields separated by spaces or tabs:\n"
    "\n"
    "  ROW  VALUE  INTERPOLATION\n"
    "\n"
    "  ROW            whole number, -2147483648..2147483647 (24 rows per second)\n"
    "  VALUE          32-bit float: 0.5, -2, 1e3, inf, -inf, nan (nan:0xHHHHHHHH\n"
    "                 gives the exact bits of a NaN)\n"
    "  INTERPOLATION  how the value moves from this key to the next one:\n"
    "                   constant    stays at VALUE until the next key\n"
    "                   linear      straight line to the next key's value\n"
    "                   smoothstep  eases in and out (3t^2 - 2t^3)\n"
    "                   quadratic   eases in (t^2)\n"
    "                 any letter case; a raw code -128..127 is also accepted\n"
    "                 (codes other than 0..3 evaluate to 0 up to the next key)\n"
    "\n"
    "'#' starts a comment that runs to the end of the line; blank lines are ignored.\n"
    "Write keys in ascending row order: a key out of order or on a row that already\n"
    "has a key gets a warning (the demo sorts keys by row and keeps the last key of a\n"
    "row). Before the first key a track holds the first value, from the last key on\n"
    "the last value; a track without keys is 0 everywhere.\n"
    "\n"
    "Example (sync_fade.track):\n"
    "\n"
    "  # fade in over the first 4 seconds, hold, then drop at row 480\n"
    "  0    0    smoothstep\n"
    "  96   1    constant     # full from 4 s\n"
    "  480  -1   constant\n"
    "\n"
    "Exit status: 0 on success, 1 when a file cannot be read, built or written,\n"
    "2 on a usage error.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "velmora-track: %s\n%s", message.c_str(), usage);
    return exitUsage;
}

int fileError(const std::string& path, const std::string& message) {
    std::fprintf(stderr, "velmora-track: %s: %s\n", path.c_str(), message.c_str());
    return exitFailure;
}

bool readTrack(const std::string& path, TrackFile::Contents& contents) {
    if (Velmora::isDirectory(path)) {
        fileError(path, "is a folder, not a track file");
        return false;
    }
    std::string error;
    if (!TrackFile::load(path, contents, error)) {
        fileError(path, "cannot open: " + error);
        return false;
    }
    return true;
}

void warn(const std::string& path, const std::string& message) {
    std::fprintf(stderr, "%s: warning: %s\n", path.c_str(), message.c_str());
}

// Everything the engine would read differently from what the file seems to say.
void reportAnomalies(const std::string& path, const TrackFile::Contents& contents) {
    if (!contents.countComplete) {
        warn(path, "shorter than the 8-byte key count; the track has no keys");
        return;
    }
    if (contents.countHigh != 0) {
        warn(path, "bytes 4 to 7 of the key count are not zero (they are ignored)");
    }
    if (contents.count < 0) {
        warn(path, "negative key count " + std::to_string(contents.count) + "; the track has no keys");
    } else if (contents.keys.size() < static_cast<std::size_t>(contents.count)) {
        warn(path, "the key count says " + std::to_string(contents.count) + " keys but only " +
                       std::to_string(contents.keys.size()) + " are complete; only those are used");
    }
    if (contents.trailingData) {
        warn(path, "bytes after the last key are not part of the track");
    }
    for (std::size_t k = 1; k < contents.keys.size(); ++k) {
        if (contents.keys[k].row <= contents.keys[k - 1].row) {
            warn(path, "keys are not in strictly ascending row order; the demo sorts them by row and "
                       "keeps the last key of a row (eval shows the result)");
            break;
        }
    }
}

int dump(const std::string& path) {
    TrackFile::Contents contents;
    if (!readTrack(path, contents)) {
        return exitFailure;
    }
    reportAnomalies(path, contents);
    for (const TrackKey& key : contents.keys) {
        std::printf("%s\n", TrackText::formatKey(key).c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : fileError("standard output", std::strerror(errno));
}

bool readText(const std::string& path, std::string& text, std::string& error) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    // Regular files only: a folder, a FIFO or a device is refused with the reason.
    return Velmora::readRegularFile(path, maxSourceBytes, text, error);
}

int build(const std::string& source, const std::string& out) {
    // Writing the output must never destroy the source: the same file, also through a link.
    if (source != "-" && (source == out || Velmora::sameFile(source, out))) {
        return fileError(out, "is the source file itself; choose another output (nothing written)");
    }
    std::string text;
    std::string reason;
    if (!readText(source, text, reason)) {
        return fileError(source, "cannot read: " + reason);
    }
    const TrackText::Result result = TrackText::parse(text);
    const std::string name = source == "-" ? "<stdin>" : source;
    for (const TrackText::Message& message : result.messages) {
        std::fprintf(stderr, "%s:%d: %s: %s\n", name.c_str(), message.line,
                     message.error ? "error" : "warning", message.text.c_str());
    }
    if (!result.ok()) {
        std::fprintf(stderr, "velmora-track: %s not written\n", out.c_str());
        return exitFailure;
    }
    std::string error;
    const std::vector<unsigned char> image = TrackFile::encode(result.keys);
    if (!Velmora::writeFileReplacing(out, std::string(image.begin(), image.end()), error)) {
        return fileError(out, error);
    }
    return 0;
}

bool parseRowArgument(const char* text, double& row) {
    char* end = nullptr;
    row = std::strtod(text, &end);
    return end != text && *end == '\0';
}

int eval(const std::string& path, int count, char** rows) {
    std::vector<double> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (!parseRowArgument(rows[i], values[i])) {
            return usageError(std::string("ROW '") + rows[i] + "' is not a number");
        }
    }
    TrackFile::Contents contents;
    if (!readTrack(path, contents)) {
        return exitFailure;
    }
    Velmora::TrackData track;
    track.name = path;
    track.keys = TrackFile::sortKeys(std::move(contents.keys));
    for (double row : values) {
        std::printf("%.17g\n", Velmora::valueAt(track, row));
    }
    return std::fflush(stdout) == 0 ? 0 : fileError("standard output", std::strerror(errno));
}

int run(int argc, char** argv) {
    if (argc < 2) {
        return usageError("missing command");
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::printf("%s%s", usage, help);
        return 0;
    }
    if (command == "dump") {
        return argc == 3 ? dump(argv[2]) : usageError("dump takes one track file");
    }
    if (command == "build") {
        return argc == 4 ? build(argv[2], argv[3]) : usageError("build takes a source and an output file");
    }
    if (command == "eval") {
        return argc >= 4 ? eval(argv[2], argc - 3, argv + 3) : usageError("eval takes a track file and rows");
    }
    return usageError("unknown command '" + command + "'");
}

} // namespace

int main(int argc, char** argv) {
    Velmora::prepareProcess();
    Velmora::ProgramArguments arguments(argc, argv);
    try {
        return run(arguments.count(), arguments.values());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmora-track: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "velmora-track: unknown error\n");
    }
    return exitFailure;
}
