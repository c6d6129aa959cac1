// Files for tests, the same on every platform: scratch folders that go away with their contents,
// whole-file reads and writes, and the few special files a platform can make (a FIFO, a link, a
// device to read from). Paths are UTF-8 with '/', as the program's own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace VelmoraTest {

// A new, empty folder in the system's temporary folder ("velmora-TAG-PID-N"), removed with
// everything in it when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& tag = "test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

// The whole file ("" when it cannot be read).
std::string readFile(const std::string& path);
// Creates or empties the file and writes `bytes`; throws when it cannot.
void writeFile(const std::string& path, const std::string& bytes);
// Something is at the path (a dangling link too).
bool exists(const std::string& path);
// Names in a folder, sorted.
std::vector<std::string> listFolder(const std::string& path);
// Creates a folder (and its parents); throws when it cannot.
void makeFolder(const std::string& path);
// Removes a file or a folder with everything in it; nothing there is fine.
void removeAll(const std::string& path);
// Sets the file's size (sparse where the file system allows): a huge file that costs no space.
void resizeFile(const std::string& path, std::uint64_t size);
// Takes away the right to write the file (the read-only attribute on Windows).
void makeReadOnly(const std::string& path);
// A symbolic link at `link` to `target` (relative to the link's folder or absolute); false where
// the system does not let this process make one (Windows without the privilege).
bool makeSymlink(const std::string& target, const std::string& link);

// `link` made to show what `target` (an absolute path, a file or a folder) holds: a symbolic link,
// or a copy where the system does not let this process link. Throws when neither works.
void linkOrCopy(const std::string& target, const std::string& link);

// Platform files (tests/support/posix, tests/support/win32).

// A FIFO at the path; false where the system has none (Windows).
bool makeFifo(const std::string& path);
// A device that opens for reading but is no regular file: "/dev/zero", "NUL" on Windows.
std::string deviceFile();
// Whether ChildProcess::interrupt() asks a child to end (rather than ending it): POSIX signals
// always; on Windows a Ctrl-Break, which needs a console.
bool interruptReachesChildren();
// While one lives, what this process writes on standard output goes nowhere (a benchmark's report
// stays readable while the show's loading lines are silenced).
class SilencedOutput {
public:
    SilencedOutput();
    ~SilencedOutput();
    SilencedOutput(const SilencedOutput&) = delete;
    SilencedOutput& operator=(const SilencedOutput&) = delete;

private:
    int saved = -1;
};

// This process's id.
long processId();

} // namespace VelmoraTest
