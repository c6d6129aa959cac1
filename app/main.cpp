// Entry point: settings, window and GL start-up, the demo object, and the frame loop.
//
// Everything runs on this one thread. Exceptions are caught only here, at the top: the message is
// printed as "ERROR - <message>" on standard error and the program exits with status 1.

#include "app/CommandLine.h"
#include "app/DemoSettings.h"
#include "app/capture/OfflineRun.h"
#include "app/check/CheckRun.h"
#include "app/setup/SetupDialog.h"
#include "audio/Music.h"
#include "base/Platform.h"
#include "demo/Demo.h"
#include "engine/VertexArray.h"
#include "engine/Window.h"
#include "sync/SyncDevice.h"
#include "sync/SyncTrack.h"

#include <GL/glew.h>
// GLEW must come before GLFW so that GLFW does not pull in the system GL header first.
#include <GLFW/glfw3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

// The end track's value ends the presentation when it is below 0 or not a number.
bool endReached(double endValue) {
    return !(endValue >= 0.0);
}

// What a successful command printed (help, version, the check's summary) must have reached standard
// output (not a full disk, not a closed pipe): otherwise status 1 with the reason on standard error.
// A failed command has said why already.
int withOutputChecked(int status) {
    if (status != 0) {
        return status;
    }
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "velmora: cannot write to standard output: %s\n",
                     errno != 0 ? std::strerror(errno) : "a write failed");
        return 1;
    }
    return status;
}

int run(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(commandLineHelp(argv[0]).c_str(), stdout);
        return withOutputChecked(0);
    case CommandLine::Action::Version:
        std::puts(versionText().c_str());
        return withOutputChecked(0);
    case CommandLine::Action::Error:
        std::fprintf(stderr, "%s\n", commandLine.error.c_str());
        return 2;
    case CommandLine::Action::Check:
        return withOutputChecked(Velmora::runDataCheck());
    case CommandLine::Action::Run:
        break;
    }
    // --capture and --timedemo: off-screen, with the offline clock, no dialog (app/capture). The
    // timedemo checks that its report reached standard output; a capture's product is its file.
    if (commandLine.offline.mode != Velmora::OfflineMode::None) {
        return Velmora::runOffline(commandLine.offline);
    }

    DemoSettings settings;
    // "Die", Escape or the dialog's close box end the program before anything is made. When no
    // dialog can be shown (-1) the demo starts with the defaults.
    if (!commandLine.skipDialog && runSetupDialog(&settings) == 0) {
        return -1;
    }
    applyCommandLine(commandLine, &settings);

    const bool fullscreen = settings.windowed != 1;
    const bool vsync = settings.vsync == 1;
    Velmora::Window& window = Velmora::Window::instance();
    window.open(settings.width, settings.height, "Velmora", fullscreen, vsync);
    Velmora::Window::initGlew();
    // The one vertex-array object, bound for the rest of the run.
    Velmora::VertexArray::instance().bind();

    // The sync device reads its row from the music clock.
    Velmora::SyncDevice& sync = Velmora::SyncDevice::instance();
    sync.setRowSource([]() { return Velmora::Music::instance().row(); });
    // Tempo 180: 24 sync rows per second. The music starts before the demo is built, so loading
    // happens while it already plays.
    Velmora::Music::instance().open("./data/sydaembient.mp3", 180.0);
    Velmora::Music::instance().play();

    Demo::Demo demo;

    // The track "e" ends the presentation when it goes below 0.
    Velmora::SyncTrack end("e");

    double previous = glfwGetTime();
    if (!window.shouldClose()) {
        for (;;) {
            if (endReached(end.value())) {
                break;
            }
            const double now = glfwGetTime();
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            demo.update(now - previous);
            previous = now;
            demo.draw();
            window.swapBuffers();
            window.pollEvents();
            if (window.shouldClose()) {
                break;
            }
        }
    }
    // The end track goes, then the demo and its scene; the process-wide instances are released at
    // exit in the reverse order of their creation, the window (glfwTerminate) last.
    return 0;
}

void reportFatal(const char* message) {
    // Log lines written so far come out before the error.
    std::fflush(stdout);
    std::fprintf(stderr, "ERROR - %s\n", message != nullptr ? message : "");
}

} // namespace

int main(int argc, char** argv) {
    Velmora::prepareProcess();
    try {
        return run(argc, argv);
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
