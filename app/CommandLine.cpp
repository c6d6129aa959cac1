#include "app/CommandLine.h"

#include <cstring>

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace {

struct Option {
    const char* name;     // "--size"
    const char* argument; // name of its value in the usage ("WxH"), or null when it takes none
    const char* help;
    // Records the option in the command line; returns the problem, or an empty string.
    std::string (*apply)(CommandLine& commandLine, const std::string& value);
};

// Decimal digits only, at most 9 of them; no sign, no spaces.
bool parseSide(const std::string& text, int* value);

std::string chooseWindowed(CommandLine& commandLine, int windowed) {
    if (commandLine.windowed != -1 && commandLine.windowed != windowed) {
        return "--windowed and --fullscreen exclude each other";
    }
    commandLine.windowed = windowed;
    commandLine.skipDialog = true;
    return "";
}

const Option options[] = {
    {"--windowed", nullptr, "skip the setup dialog and open a window",
     [](CommandLine& c, const std::string&) { return chooseWindowed(c, 1); }},
    {"--fullscreen", nullptr, "skip the setup dialog and go fullscreen on the primary monitor",
     [](CommandLine& c, const std::string&) { return chooseWindowed(c, 0); }},
    {"--size", "WxH", "skip the setup dialog and use this size (default 1280x720)",
     [](CommandLine& c, const std::string& value) {
         std::string problem;
         if (!parseSize(value, &c.width, &c.height, &problem)) {
             return "bad size '" + value + "': " + problem;
         }
         c.skipDialog = true;
         return std::string();
     }},
    {"--vsync", nullptr, "keep the driver's swap interval (otherwise 0 once a size is chosen)",
     [](CommandLine& c, const std::string&) {
         c.vsync = true;
         return std::string();
     }},
    {"--capture", "OUT", "render the show off-screen to a video (.mp4, .mkv) or a PNG folder",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--capture", value);
     }},
    {"--timedemo", nullptr, "draw every frame off-screen as fast as possible and print frame times",
     [](CommandLine& c, const std::string&) {
         return Velmora::applyOfflineOption(c.offline, "--timedemo", "");
     }},
    {"--fps", "N", "frames per second of --capture and --timedemo (default 30)",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--fps", value);
     }},
    {"--from", "SECONDS", "start --capture, --timedemo or --edit at this music time (default 0)",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--from", value);
     }},
    {"--to", "SECONDS", "stop --capture or --timedemo before this music time (default: the end)",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--to", value);
     }},
    {"--chunk", "I/N", "with --capture DIR: draw chunk I (from 0) of N of the span, for --assemble",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--chunk", value);
     }},
    {"--preroll", "N", "frames drawn, not written, before a capture's or chunk's first frame",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--preroll", value);
     }},
    {"--overlap", "N", "with --chunk: frames drawn and written past the chunk's end (default 2 s of frames)",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--overlap", value);
     }},
    {"--assemble", "DIR", "with --capture OUT: prove and join the chunks in DIR into OUT",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--assemble", value);
     }},
    {"--edit", nullptr, "edit mode: the live show with pause, seek, loop, hot reload and an edit server",
     [](CommandLine& c, const std::string&) {
         c.edit = true;
         return std::string();
     }},
    {"--paused", nullptr, "with --edit: start paused",
     [](CommandLine& c, const std::string&) {
         c.paused = true;
         return std::string();
     }},
    {"--port", "N", "with --edit: serve on 127.0.0.1 port N (default: a free port)",
     [](CommandLine& c, const std::string& value) {
         int port = 0;
         if (!parseSide(value, &port) || port > 65535) {
             return "bad --port '" + value + "': a port number from 0 to 65535";
         }
         c.port = port;
         c.hasPort = true;
         return std::string();
     }},
    {"--report", "FILE", "with --timedemo: also write the figures to FILE as JSON",
     [](CommandLine& c, const std::string& value) {
         return Velmora::applyOfflineOption(c.offline, "--report", value);
     }},
    {"--check", nullptr, "check the data folder (files, tracks, shaders, music); draws nothing",
     [](CommandLine& c, const std::string&) {
         c.action = CommandLine::Action::Check;
         return std::string();
     }},
    {"--help", nullptr, "print this help and exit",
     [](CommandLine& c, const std::string&) {
         c.action = CommandLine::Action::Help;
         return std::string();
     }},
    {"--version", nullptr, "print the version and exit",
     [](CommandLine& c, const std::string&) {
         c.action = CommandLine::Action::Version;
         return std::string();
     }},
};

const Option* findOption(const std::string& name) {
    for (const Option& option : options) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

bool parseSide(const std::string& text, int* value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    int result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + (c - '0');
    }
    *value = result;
    return true;
}

// The edit mode is always a window of its own size, never an off-screen run.
std::string finishEditOptions(CommandLine& commandLine) {
    Velmora::CaptureOptions& offline = commandLine.offline;
    if (offline.mode != Velmora::OfflineMode::None) {
        return "--edit excludes --capture and --timedemo";
    }
    if (commandLine.windowed == 0) {
        return "--edit always opens a window: --fullscreen does not apply";
    }
    if (offline.hasFps || offline.hasTo) {
        return "--fps and --to do not apply to --edit";
    }
    if (commandLine.width == 0) {
        commandLine.width = 1280;
        commandLine.height = 720;
    }
    commandLine.skipDialog = true;
    return "";
}

CommandLine failure(std::string message) {
    CommandLine commandLine;
    commandLine.action = CommandLine::Action::Error;
    commandLine.error = "velmora: " + message;
    return commandLine;
}

} // namespace

bool parseSize(const std::string& text, int* width, int* height, std::string* problem) {
    const size_t cross = text.find('x');
    int w = 0;
    int h = 0;
    if (cross == std::string::npos || !parseSide(text.substr(0, cross), &w) ||
        !parseSide(text.substr(cross + 1), &h)) {
        *problem = "expected WIDTHxHEIGHT in decimal pixels, such as 1280x720";
        return false;
    }
    if (w < 1 || h < 1 || w > CommandLine::maxSize || h > CommandLine::maxSize) {
        *problem = "width and height must be 1 to " + std::to_string(CommandLine::maxSize);
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine commandLine;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i] != nullptr ? argv[i] : "";
        // "--size=1280x720" is the same as "--size 1280x720".
        std::string value;
        bool valueAttached = false;
        const size_t equals = word.find('=');
        if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word.erase(equals);
            valueAttached = true;
        }
        const Option* option = findOption(word);
        if (option == nullptr) {
            if (word.compare(0, 1, "-") == 0) {
                return failure("unknown option '" + word + "' (see --help)");
            }
            return failure("unexpected argument '" + word + "' (see --help)");
        }
        if (option->argument != nullptr && !valueAttached) {
            if (i + 1 >= argc || argv[i + 1] == nullptr) {
                return failure(std::string(option->name) + " needs a value " + option->argument);
            }
            value = argv[++i];
        } else if (option->argument == nullptr && valueAttached) {
            return failure(std::string(option->name) + " takes no value");
        }
        std::string problem = option->apply(commandLine, value);
        if (!problem.empty()) {
            return failure(problem);
        }
    }
    if (commandLine.action == CommandLine::Action::Check &&
        (commandLine.offline.mode != Velmora::OfflineMode::None || commandLine.skipDialog ||
         commandLine.vsync || commandLine.offline.hasFps || commandLine.offline.hasFrom ||
         commandLine.offline.hasTo || !commandLine.offline.report.empty() || commandLine.edit ||
         commandLine.offline.chunkCount > 0 || !commandLine.offline.assemble.empty() ||
         commandLine.offline.preroll >= 0 || commandLine.offline.overlap >= 0 || commandLine.paused ||
         commandLine.hasPort)) {
        return failure("--check takes no other option");
    }
    if (commandLine.action == CommandLine::Action::Run && commandLine.edit) {
        const std::string problem = finishEditOptions(commandLine);
        if (!problem.empty()) {
            return failure(problem);
        }
        return commandLine;
    }
    if (commandLine.action == CommandLine::Action::Run && (commandLine.paused || commandLine.hasPort)) {
        return failure("--paused and --port only apply to --edit");
    }
    if (commandLine.action == CommandLine::Action::Run) {
        std::string problem = Velmora::finishOfflineOptions(commandLine.offline,
                                                            commandLine.windowed != -1 || commandLine.vsync,
                                                            commandLine.width, commandLine.height);
        if (!problem.empty()) {
            return failure(problem);
        }
    }
    return commandLine;
}

void applyCommandLine(const CommandLine& commandLine, DemoSettings* settings) {
    if (commandLine.width != 0) {
        settings->width = commandLine.width;
        settings->height = commandLine.height;
    }
    if (commandLine.windowed != -1) {
        settings->windowed = commandLine.windowed;
    }
    if (commandLine.skipDialog) {
        settings->vsync = 0;
    }
    if (commandLine.vsync) {
        settings->vsync = 1;
    }
}

std::string commandLineHelp(const char* programName) {
    std::string text = "Usage: ";
    text += programName;
    text += " [options]\n"
            "Plays the presentation. Without a window choice a setup dialog asks for one.\n\n";
    for (const Option& option : options) {
        std::string left = std::string("  ") + option.name;
        if (option.argument != nullptr) {
            left += std::string(" ") + option.argument;
        }
        if (left.size() < 20) {
            left.resize(20, ' ');
        } else {
            left += "  ";
        }
        text += left + option.help + "\n";
    }
    text += Velmora::offlineHelp();
    return text;
}

std::string versionText() {
    return std::string("velmora ") + VELMORA_VERSION;
}
