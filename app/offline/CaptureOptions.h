// Options of the two offline runs (capture to video or PNG frames, and the timedemo benchmark),
// their parsing from command-line words and the checks made before anything is rendered.
//
// Pure data and file-system queries: nothing here opens a window, renders, or creates a file.
#pragma once

#include <cstdint>
#include <string>

namespace Velmora {

enum class OfflineMode { None, Capture, Timedemo, Assemble };

// Where a capture goes, decided from the OUT path alone (see `captureOutputKind`).
enum class CaptureOutputKind { Video, Folder, Unsupported };

struct CaptureOptions {
    OfflineMode mode = OfflineMode::None;
    std::string output; // --capture OUT
    int width = 1280;   // --size WxH
    int height = 720;
    int fps = 30;      // --fps N: frames per second of the offline clock
    double from = 0.0; // --from SECONDS
    double to = -1.0;  // --to SECONDS; only meaningful when hasTo
    bool hasTo = false;
    bool hasFps = false;  // --fps was given
    bool hasFrom = false; // --from was given
    std::string report;   // --report FILE: the timedemo's figures as JSON
    int64_t preroll = -1; // --preroll N: frames drawn, not written, before the first (-1: default)
    int64_t overlap = -1; // --overlap N: a chunk's frames past its end (-1: default)
    int chunkIndex = -1;  // --chunk I/N: render chunk I of N of the span into the folder OUT
    int chunkCount = 0;
    std::string assemble; // --assemble DIR: join DIR's chunks into OUT
};

constexpr int maxCaptureSide = 16384;
constexpr int maxCaptureFps = 1000;

// "1280x720" (also "1280X720"): both sides whole numbers in 1 .. maxCaptureSide.
bool parseCaptureSize(const std::string& text, int& width, int& height);
// A whole number of frames per second in 1 .. maxCaptureFps.
bool parseCaptureFps(const std::string& text, int& fps);
// A finite, non-negative number of seconds ("90", "1.5").
bool parseCaptureSeconds(const std::string& text, double& seconds);

// The rule for OUT, in this order:
//  1. ends with '/'                               -> Folder
//  2. names an existing directory                 -> Folder
//  3. last path component ends in .mp4 or .mkv   -> Video (case-insensitive)
//  4. last path component has no extension        -> Folder (created when the capture starts)
//  5. any other extension                         -> Unsupported
CaptureOutputKind captureOutputKind(const std::string& path);

// Checks that only involve the options themselves (sizes, span, output type). Returns the error
// text (one line, without a program-name prefix), or an empty string when the options are usable.
std::string checkCaptureOptions(const CaptureOptions& options);

// Checks that OUT (and the timedemo's --report FILE) can be written without creating anything: the
// names are not too long for the system, the folder or the file's parent can be created or written
// to, a folder holds no earlier capture, a file path is not a folder or a device. Returns the error
// text or an empty string.
std::string checkCaptureOutput(const CaptureOptions& options);

// Command-line support. `applyOfflineOption` records one of --capture OUT, --timedemo, --fps N,
// --from SECONDS, --to SECONDS, --report FILE (name as given, value empty for --timedemo) and returns the
// problem, or an empty string. `finishOfflineOptions` runs after every option was read: it takes the size of
// --size (0 when not given), refuses window options for an off-screen run, and runs checkCaptureOptions.
std::string applyOfflineOption(CaptureOptions& options, const std::string& name, const std::string& value);
std::string finishOfflineOptions(CaptureOptions& options, bool windowOptionGiven, int width, int height);
// The paragraph of --help on the off-screen runs: the OUT rule, the timedemo report, exit statuses.
std::string offlineHelp();

} // namespace Velmora
