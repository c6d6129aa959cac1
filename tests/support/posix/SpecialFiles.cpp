#include "tests/support/TestFiles.h"

#include <sys/stat.h>

namespace VelmoraTest {

bool makeFifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

std::string deviceFile() {
    return "/dev/zero";
}

bool interruptReachesChildren() {
    return true;
}

} // namespace VelmoraTest
