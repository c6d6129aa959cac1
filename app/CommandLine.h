// The program's command line: parsed into a plain record, with no display and no side effects, so
// it can be tested on its own.
//
// Giving a window choice (--windowed, --fullscreen, --size) skips the setup dialog as if it had been
// confirmed with that choice; a confirmed dialog asks for swap interval 0 unless --vsync is given.
// Options are rows of one table in CommandLine.cpp: to add one, add a field here and a row there.
#pragma once

#include "app/DemoSettings.h"
#include "app/offline/CaptureOptions.h"

#include <string>

struct CommandLine {
    enum class Action {
        Run,     // start the presentation
        Help,    // print the usage and exit 0
        Version, // print the version and exit 0
        Check,   // check the data folder (--check) and exit 0 or 1
        Error,   // print `error` on standard error and exit 2, before any window opens
    };

    // Window sizes outside 1..maxSize on either side are refused.
    static constexpr int maxSize = 16384;

    Action action = Action::Run;
    std::string error; // one line naming the problem, for Action::Error

    bool skipDialog = false; // a window choice was given: no setup dialog
    int windowed = -1;       // -1 not given, 1 --windowed, 0 --fullscreen
    int width = 0;           // 0 not given; otherwise --size
    int height = 0;
    bool vsync = false; // --vsync: keep the driver's swap interval

    // Off-screen runs: --capture OUT, --timedemo, --fps, --from, --to (see app/offline).
    Velmora::CaptureOptions offline;

    // --edit: the live show with transport, hot reload and the edit server (see edit/). It takes
    // --size, --from (in offline.from), --paused and --port.
    bool edit = false;
    bool paused = false;
    int port = 0; // 0: any free port
    bool hasPort = false;
};

// argv[0] is the program name; the rest are options. Never exits or prints.
CommandLine parseCommandLine(int argc, const char* const* argv);

// "WxH" with decimal W and H in 1..CommandLine::maxSize. On failure returns false and says why.
bool parseSize(const std::string& text, int* width, int* height, std::string* problem);

// Writes the command line's choices into the settings, as a confirmed setup dialog would: size and
// windowed flag when given, vsync 0 when the dialog is skipped, and vsync 1 again with --vsync.
void applyCommandLine(const CommandLine& commandLine, DemoSettings* settings);

// The usage text printed by --help, one option a line.
std::string commandLineHelp(const char* programName);

// "velmora <version>", printed by --version.
std::string versionText();
