#include "tests/support/TestFiles.h"

#include <windows.h>

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

} // namespace VelmoraTest
