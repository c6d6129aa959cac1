#include "tests/support/TestFiles.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

namespace VelmoraTest {

bool makeFifo(const std::string&) {
    // Windows has named pipes, but only in their own name space (\\.\pipe\), never at a path.
    return false;
}

std::string deviceFile() {
    return "NUL";
}

bool interruptReachesChildren() {
    // Ctrl-Break goes through a console; a process without one can only end its children.
    return ::GetConsoleWindow() != nullptr;
}

SilencedOutput::SilencedOutput() {
    std::fflush(stdout);
    saved = ::_dup(1);
    std::freopen("NUL", "w", stdout);
}

SilencedOutput::~SilencedOutput() {
    std::fflush(stdout);
    if (saved >= 0) {
        ::_dup2(saved, 1);
        ::_close(saved);
    }
}

} // namespace VelmoraTest
