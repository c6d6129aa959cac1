// Helpers shared by the capture tests: scratch folders and whole-file reads.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace CaptureTest {

// A fresh folder under the system's temporary folder, removed with its contents by the destructor.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/velmora-capture-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path = name.data();
    }
    ~ScratchFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Names in a folder, sorted, without "." and "..".
std::vector<std::string> listFolder(const std::string& path);

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
