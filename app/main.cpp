// Entry point: settings, window and GL start-up, the demo object, and the frame loop.
//
// Everything runs on this one thread. Exceptions are caught only here, at the top: the message is
// printed as "ERROR - <message>" on standard error and the program exits with status 1.

#include "app/CommandLine.h"
#include "app/DemoSettings.h"
#include "app/check/CheckRun.h"
#include "app/offline/OfflineRun.h"
#include "app/setup/SetupDialog.h"
#include "base/Logger.h"
#include "base/Platform.h"
#include "edit/EditSession.h"
#include "player/Player.h"

#include <exception>
#include <string>

namespace {

void say(Velmora::LogStream stream, const std::string& text) {
    Velmora::Logger::instance().say(stream, text);
}

// What a successful command printed (help, version, the check's summary) must have reached standard
// output (not a full disk, not a closed pipe): otherwise status 1 with the reason on standard error.
// A failed command has said why already.
int withOutputChecked(int status) {
    if (status != 0) {
        return status;
    }
    std::string error;
    if (!Velmora::Logger::instance().outputWritten(error)) {
        say(Velmora::LogStream::Error, "velmora: cannot write to standard output: " + error + "\n");
        return 1;
    }
    return status;
}

int run(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        say(Velmora::LogStream::Output, commandLineHelp(argv[0]));
        return withOutputChecked(0);
    case CommandLine::Action::Version:
        say(Velmora::LogStream::Output, versionText() + "\n");
        return withOutputChecked(0);
    case CommandLine::Action::Error:
        say(Velmora::LogStream::Error, commandLine.error + "\n");
        return 2;
    case CommandLine::Action::Check:
        return withOutputChecked(Velmora::runDataCheck());
    case CommandLine::Action::Run:
        break;
    }
    // --capture and --timedemo: off-screen, with the offline clock, no dialog (app/offline). The
    // timedemo checks that its report reached standard output; a capture's product is its file.
    if (commandLine.offline.mode != Velmora::OfflineMode::None) {
        return Velmora::runOffline(commandLine.offline);
    }

    // --edit: the live show with its transport, hot reload and the edit server (edit/).
    if (commandLine.edit) {
        Velmora::EditOptions options;
        options.width = commandLine.width;
        options.height = commandLine.height;
        options.from = commandLine.offline.from;
        options.paused = commandLine.paused;
        options.port = commandLine.port;
        options.vsync = commandLine.vsync;
        Velmora::EditSession session(options);
        return session.run();
    }

    DemoSettings settings;
    // "Die", Escape or the dialog's close box end the program before anything is made. When no
    // dialog can be shown (-1) the demo starts with the defaults.
    if (!commandLine.skipDialog && runSetupDialog(&settings) == 0) {
        return -1;
    }
    applyCommandLine(commandLine, &settings);

    Velmora::PlayerDesc desc;
    desc.width = settings.width;
    desc.height = settings.height;
    desc.fullscreen = settings.windowed != 1;
    desc.vsync = settings.vsync == 1;
    // Window, GLEW, the one vertex-array object, the sync device (reading the music's clock).
    Velmora::Player player(desc);
    // Tempo 180: 24 sync rows per second. The music starts before the demo is built, so loading
    // happens while it already plays.
    player.openMusic(false);
    player.music().play();
    // The demo, then the end track "e", which ends the presentation when it goes below 0.
    player.buildShow();
    // The demo goes when the player does; the process-wide instances are released at exit in the
    // reverse order of their creation, the window (glfwTerminate) last.
    return player.runShow();
}

void reportFatal(const char* message) {
    // Log lines written so far come out before the error (say flushes standard output first).
    say(Velmora::LogStream::Error, std::string("ERROR - ") + (message != nullptr ? message : "") + "\n");
}

} // namespace

int main(int argc, char** argv) {
    Velmora::prepareProcess();
    Velmora::ProgramArguments arguments(argc, argv);
    try {
        return run(arguments.count(), arguments.values());
    } catch (const std::exception& exception) {
        reportFatal(exception.what());
    } catch (const char* message) {
        // Window creation throws a plain C string.
        reportFatal(message);
    } catch (...) {
        reportFatal("unknown exception");
    }
    return 1;
}
