#include "tests/capture/CaptureTestSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace CaptureTest {

int runShell(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

Background::Background(const std::string& command) {
    child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

Background::~Background() {
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

void Background::signal(int number) const {
    if (child > 0) {
        kill(child, number);
    }
}

int Background::wait(double seconds) {
    if (child <= 0) {
        return -1;
    }
    int status = 0;
    const bool ended = waitFor(seconds, [&] { return waitpid(child, &status, WNOHANG) == child; });
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        child = -1;
        return -1;
    }
    child = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool waitFor(double seconds, const std::function<bool()>& ready) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) {
        result.push_back(word);
    }
    return result;
}

std::string pathWith(const std::string& folder) {
    const char* path = std::getenv("PATH");
    return "PATH=" + folder + ":" + (path != nullptr ? path : "");
}

} // namespace CaptureTest
