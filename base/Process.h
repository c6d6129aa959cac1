// Running another program: started directly (no shell), optionally fed through a pipe on its
// standard input, its standard error kept in a file for messages, its own process group so that a
// Ctrl-C in the terminal reaches only us. One implementation file per platform.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Velmora {

struct ProcessDesc {
    std::string program;                // a path; see findProgramOnPath
    std::vector<std::string> arguments; // without the program itself
    bool pipeInput = false;             // standard input from writeInput; otherwise empty
    bool captureOutput = false;         // standard output and error collected (readAllOutput)
    std::string outputFile;             // when not captured: standard output goes here (empty: nowhere)
    std::string errorFile;              // when not captured: standard error goes here (empty: nowhere)
    bool ownProcessGroup = true;        // keyboard interrupts do not reach it
    // Variables set for it on top of ours ("NAME=value"; a name given here replaces ours).
    std::vector<std::string> environment;
    // The folder it starts in (empty: ours).
    std::string workingDirectory;
};

struct ExitStatus {
    bool started = false;
    bool exited = false; // ended by itself, with `code`
    int code = -1;
    int signal = 0; // killed by this signal (POSIX)
    bool success() const { return started && exited && code == 0; }
    // "exited with status 1", "was killed by signal 9".
    std::string describe() const;
};

class ChildProcess {
public:
    ChildProcess();
    // Kills the process when it still runs and waits for it.
    ~ChildProcess();

    // False with the reason when it cannot be started.
    bool start(const ProcessDesc& desc, std::string& error);
    // Writes all of `size` bytes to its standard input; false with the reason (the program has
    // gone: "Broken pipe") otherwise.
    bool writeInput(const void* data, std::size_t size, std::string& error);
    void closeInput();
    // Everything it wrote on standard output and error, until it closed them (captureOutput).
    std::string readAllOutput();
    // Waits for the end.
    ExitStatus wait();
    // Waits at most `seconds`; nothing when it still runs then.
    std::optional<ExitStatus> waitFor(double seconds);
    // Asks it to end: SIGTERM; on Windows a Ctrl-Break through our console, or else WM_CLOSE to its
    // windows, and when it has neither it is ended at once.
    void interrupt();
    // Ends it at once.
    void kill();
    bool running() const;
    // The system's id of the process while it runs (see processRunning), or 0.
    long id() const;

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

private:
    struct State;
    std::unique_ptr<State> state;
};

// Full path of `program` found on PATH (with the platform's executable suffix), or empty.
std::string findProgramOnPath(const std::string& program);

} // namespace Velmora
