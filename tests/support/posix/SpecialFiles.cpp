#include "tests/support/TestFiles.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

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

SilencedOutput::SilencedOutput() {
    std::fflush(stdout);
    saved = ::dup(1);
    std::freopen("/dev/null", "w", stdout);
}

SilencedOutput::~SilencedOutput() {
    std::fflush(stdout);
    if (saved >= 0) {
        ::dup2(saved, 1);
        ::close(saved);
    }
}

} // namespace VelmoraTest
