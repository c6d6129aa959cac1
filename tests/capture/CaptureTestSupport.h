// Helpers shared by the capture tests: scratch folders and whole-file reads (on every platform),
// shell command lines and programs in the background (POSIX systems: the end-to-end tests that use
// them run there only).
#pragma once

#include "tests/support/TestFiles.h"

#include <functional>
#include <string>
#include <vector>

namespace CaptureTest {

// A fresh folder under the system's temporary folder, removed with its contents by the destructor.
class ScratchFolder : public VelmoraTest::ScratchFolder {
public:
    ScratchFolder() : VelmoraTest::ScratchFolder("capture") {}
};

inline std::string readFile(const std::string& path) {
    return VelmoraTest::readFile(path);
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    VelmoraTest::writeFile(path, bytes);
}

inline bool exists(const std::string& path) {
    return VelmoraTest::exists(path);
}

// Names in a folder, sorted, without "." and "..".
inline std::vector<std::string> listFolder(const std::string& path) {
    return VelmoraTest::listFolder(path);
}

// POSIX systems only (CaptureTestSupport.cpp).

// A command line's words, split at spaces (no quoting: for fixed arguments).
std::vector<std::string> words(const std::string& text);
// "PATH=<folder>:<the test's PATH>", for RunOptions::environment.
std::string pathWith(const std::string& folder);

// Runs a shell command line and returns its exit status (-1 when it did not exit normally).
int runShell(const std::string& command);

// A shell command line run in the background ("exec" makes the last program take the shell's
// process id, so that signals reach it), for tests that signal or race programs.
class Background {
public:
    explicit Background(const std::string& command);
    ~Background(); // kills it when still running
    int pid() const { return child; }
    // Sends a signal.
    void signal(int number) const;
    // Waits up to `seconds` for the end; its exit status, or -1 (killed by a signal, or still
    // running after the time: then it is killed).
    int wait(double seconds);

    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

private:
    int child = -1;
};

// Waits up to `seconds` for `ready` to become true, checking every 5 ms.
bool waitFor(double seconds, const std::function<bool()>& ready);

} // namespace CaptureTest
