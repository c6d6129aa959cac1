// Process-wide platform services: start-up hygiene, interruption requests, the environment and
// the console. One implementation file per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Velmora {

// Call first in every program of ours: standard input, output and error are made valid (opened on
// the null device when the parent closed them, so that no later file or connection takes their
// place and receives our output). With glibc the heap is tuned for software GL (it returns the
// renderer's per-frame working memory to the system and faults it back in otherwise); on Windows
// the console shows our UTF-8 text while we run.
void prepareProcess();

// Call before the window system starts (glfwInit). On Windows it loads the system's game
// controller library (xinput1_4.dll, from the system folder) and keeps it for the life of the
// process: the window library loads it by name and frees it when it ends, and under wine a thread
// of that library can still be running then, which crashed programs at exit now and then.
// Nothing to do elsewhere.
void prepareWindowSystem();

// Fills `out` with bytes from the system's cryptographic random source; false when it fails.
bool randomBytes(void* out, std::size_t count);

// Options of a listening socket (a native socket handle): the port is ours alone while we listen
// (no second listener beside us), and can be listened on again at once after we close it.
void prepareListeningSocket(std::intptr_t socket);

// This process's id, and whether a process with that id runs (true when unsure).
long currentProcessId();
bool processRunning(long id);

// Processor time this process has used so far (user and system), in seconds.
double processCpuSeconds();

// The value of an environment variable, or empty.
std::string environmentVariable(const std::string& name);
// Full path of the running program's file (empty when the system does not say).
std::string executablePath();
// Sets (replaces) an environment variable of this process; false when the system refuses.
bool setEnvironmentVariable(const std::string& name, const std::string& value);
bool isTerminal(std::FILE* stream);

// The program's arguments in UTF-8, for main(): argv as it is on POSIX systems; on Windows read
// again from the wide command line, so that names outside the code page arrive intact.
class ProgramArguments {
public:
    ProgramArguments(int argc, char** argv);
    int count() const { return static_cast<int>(words.size()); }
    // Null-terminated, as argv.
    char** values() { return pointers.data(); }

    ProgramArguments(const ProgramArguments&) = delete;
    ProgramArguments& operator=(const ProgramArguments&) = delete;

private:
    std::vector<std::string> words;
    std::vector<char*> pointers;
};

// While one lives, Ctrl-C and termination requests (SIGINT, SIGTERM; the console's close events on
// Windows) do not end the process: they set a flag that long runs check between frames.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    static bool requested();
    // The signal number, for the message ("SIGTERM"), or a platform name.
    static std::string what();

    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// A write to a pipe whose reader has gone fails with an error instead of ending the process.
void ignoreBrokenPipes();

} // namespace Velmora
