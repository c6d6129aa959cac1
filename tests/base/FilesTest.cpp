// Bounded reads of regular files only, and replacing writes that never leave a broken or foreign
// file behind, against the real file system.
#include "base/Files.h"
#include "base/FileWatcher.h"
#include "base/Platform.h"
#include "base/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Velmora;

namespace {

class Scratch : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = temporaryFolder() + "/velmora-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }

    std::string path(const std::string& name) const { return folder + "/" + name; }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    std::string read(const std::string& name) const {
        std::string bytes;
        std::string error;
        EXPECT_TRUE(readRegularFile(path(name), 1 << 20, bytes, error)) << error;
        return bytes;
    }

    std::string folder;
};

} // namespace

TEST_F(Scratch, ReadsOnlyRegularFilesWithinTheirLimit) {
    std::string bytes;
    std::string error;
    EXPECT_TRUE(readRegularFile(write("a", std::string("x\0y", 3)), 3, bytes, error));
    EXPECT_EQ(bytes, std::string("x\0y", 3));

    EXPECT_FALSE(readRegularFile(path("a"), 2, bytes, error));
    EXPECT_NE(error.find("larger than the limit of 2 bytes"), std::string::npos) << error;
    EXPECT_TRUE(bytes.empty());

    EXPECT_FALSE(readRegularFile(folder, 100, bytes, error));
    EXPECT_EQ(error, "is a folder, not a file");
    EXPECT_FALSE(readRegularFile(path("none"), 100, bytes, error));
    EXPECT_EQ(error, "No such file or directory");

    // A FIFO without a writer would block a plain open for ever.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readRegularFile(path("fifo"), 100, bytes, error));
    EXPECT_EQ(error, "is not a regular file");
    EXPECT_EQ(openRegularFile("/dev/zero", 1 << 30, error), nullptr);
}

TEST_F(Scratch, ReplacingKeepsModeAndLinksAndLeavesNoTemporaryFiles) {
    const std::string target = write("track", "old");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink("track", path("link").c_str()), 0);

    std::string error;
    ASSERT_TRUE(writeFileReplacing(path("link"), "new", error)) << error;
    EXPECT_EQ(read("track"), "new");
    EXPECT_TRUE(linkInfo(path("link")).isLink) << "the link was replaced by a file";
    struct stat status;
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);

    ASSERT_TRUE(writeFileReplacing(path("fresh"), "", error)) << error;
    EXPECT_EQ(fileInfo(path("fresh")).type, FileType::Regular);
    EXPECT_EQ(listDirectory(folder).size(), 3u) << "a temporary file was left behind";
}

TEST_F(Scratch, ReplacingRefusesWhatIsNotAWritableRegularFile) {
    std::string error;
    EXPECT_FALSE(writeFileReplacing(folder, "x", error));
    EXPECT_EQ(error, "is a folder, not a file");
    EXPECT_FALSE(writeFileReplacing("/dev/null", "x", error));
    EXPECT_EQ(error, "is not a regular file");
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(writeFileReplacing(path("fifo"), "x", error));
    EXPECT_EQ(fileInfo(path("fifo")).type, FileType::Other);

    const std::string locked = write("locked", "keep");
    ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
    if (access(locked.c_str(), W_OK) != 0) { // root may write anything
        EXPECT_FALSE(writeFileReplacing(locked, "lost", error));
        EXPECT_EQ(read("locked"), "keep");
    }
    EXPECT_FALSE(writeFileReplacing(path("no/such/folder/x"), "x", error));
    EXPECT_EQ(listDirectory(folder).size(), 2u);
}

TEST_F(Scratch, TemporaryFilesAreUniqueAndGoAway) {
    std::string first;
    {
        TemporaryFile a(path("out.mp4"), ".part");
        TemporaryFile b(path("out.mp4"), ".part");
        ASSERT_TRUE(a.valid()) << a.error();
        ASSERT_TRUE(b.valid()) << b.error();
        EXPECT_NE(a.path(), b.path());
        EXPECT_EQ(parentFolder(a.path()), folder);
        std::fputs("data", a.stream());
        EXPECT_TRUE(a.close(true)) << a.error();
        first = a.path();
        EXPECT_EQ(fileInfo(first).size, 4u);
    }
    EXPECT_FALSE(pathExists(first));
    EXPECT_TRUE(listDirectory(folder).empty());
}

TEST_F(Scratch, AFinishedFileMovesIntoPlaceWithTheReplacedFilesModeOrTheUsualOne) {
    std::string error;
    const std::string old = write("show.mp4", "old");
    ASSERT_EQ(chmod(old.c_str(), 0604), 0);
    ASSERT_EQ(symlink("show.mp4", path("latest.mp4").c_str()), 0);
    EXPECT_EQ(replacementTarget(path("latest.mp4"), error), folder + "/show.mp4");
    {
        TemporaryFile part(path("show.mp4"), ".part");
        std::fputs("new", part.stream());
        ASSERT_TRUE(part.close(false)) << part.error();
        ASSERT_TRUE(moveIntoPlace(part.path(), replacementTarget(path("latest.mp4"), error), error)) << error;
    }
    EXPECT_EQ(read("show.mp4"), "new");
    EXPECT_TRUE(linkInfo(path("latest.mp4")).isLink);
    struct stat status;
    ASSERT_EQ(stat(old.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0604u);

    // A new file gets what a plain create would give, not the temporary file's private 0600.
    const mode_t mask = umask(022);
    {
        TemporaryFile part(path("fresh.mp4"), ".part");
        ASSERT_TRUE(part.close(false));
        ASSERT_TRUE(moveIntoPlace(part.path(), path("fresh.mp4"), error)) << error;
    }
    umask(mask);
    ASSERT_EQ(stat(path("fresh.mp4").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);

    // Never replaced: folders, devices, FIFOs, looping links.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("loop", path("loop").c_str()), 0);
    for (const std::string& refused : {folder, std::string("/dev/null"), path("fifo"), path("loop")}) {
        error.clear();
        EXPECT_EQ(replacementTarget(refused, error), "") << refused;
        EXPECT_FALSE(error.empty()) << refused;
    }
    EXPECT_EQ(listDirectory(folder).size(), 5u) << "a temporary file was left behind";
}

TEST_F(Scratch, RenamingWithoutReplacingKeepsWhatIsThere) {
    std::string error;
    write("a", "first");
    write("b", "second");
    EXPECT_FALSE(renameWithoutReplacing(path("a"), path("b"), error));
    EXPECT_EQ(error, "File exists");
    EXPECT_EQ(read("b"), "second");
    ASSERT_EQ(symlink("nowhere", path("dangling").c_str()), 0);
    EXPECT_FALSE(renameWithoutReplacing(path("a"), path("dangling"), error));
    ASSERT_TRUE(renameWithoutReplacing(path("a"), path("c"), error)) << error;
    EXPECT_EQ(read("c"), "first");
    EXPECT_FALSE(pathExists(path("a")));
}

TEST(PathNames, OverlongNamesAreSeenFromTheTextAlone) {
    EXPECT_EQ(pathNameProblem("out/show.mp4"), "");
    EXPECT_EQ(pathNameProblem(std::string(255, 'a') + "/x"), "");
    EXPECT_EQ(pathNameProblem("out/" + std::string(256, 'a') + "/x.mp4"), "File name too long");
    std::string deep;
    for (int i = 0; i < 500; ++i) {
        deep += "abcdefghi/";
    }
    EXPECT_EQ(pathNameProblem(deep + "x"), "File name too long");
}

TEST_F(Scratch, TemporaryNamesCarryTheProcessAndFitTheFolder) {
    const std::string pid = std::to_string(currentProcessId());
    TemporaryFile beside(path("show.mp4"), ".part");
    ASSERT_TRUE(beside.valid()) << beside.error();
    EXPECT_EQ(baseName(beside.path()).rfind(".show.mp4-" + pid + "-", 0), 0u) << beside.path();
    EXPECT_EQ(beside.path().substr(beside.path().size() - 5), ".part");
    // A name already at the limit still gets a temporary file beside it.
    TemporaryFile longName(path(std::string(250, 'n') + ".mp4"), ".part");
    ASSERT_TRUE(longName.valid()) << longName.error();
    EXPECT_LE(baseName(longName.path()).size(), 255u);
}

TEST_F(Scratch, OnlyTemporaryFilesOfEndedProcessesAreRemoved) {
    // The id of a process that has ended.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const std::string dead = std::to_string(child);
    const std::string self = std::to_string(currentProcessId());
    write(".show.mp4-" + dead + "-a1B2c3.part", "stale");
    write(".show.mp4-" + self + "-a1B2c3.part", "ours, still in use");
    write(".show.mp4-1-a1B2c3.part", "pid 1 always runs");
    write(".show.mp4-" + dead + "-a1B2c3.partial", "another suffix");
    write(".other.mp4-" + dead + "-a1B2c3.part", "another file's");
    write("show.mp4.part", "not one of ours");
    EXPECT_EQ(removeAbandonedTemporaries(path("show.mp4"), ".part"), 1);
    EXPECT_FALSE(pathExists(path(".show.mp4-" + dead + "-a1B2c3.part")));
    EXPECT_EQ(listDirectory(folder).size(), 5u);
}

TEST(Platform, ClosedStandardDescriptorsAreOpenedOnTheNullDevice) {
    // In a child: close 0-2, prepare, then see where each one leads.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int report = fcntl(pipeEnds[1], F_DUPFD, 10);
        close(0);
        close(1);
        close(2);
        prepareProcess();
        struct stat null;
        stat("/dev/null", &null);
        char answer[3];
        for (int fd = 0; fd <= 2; ++fd) {
            struct stat status;
            answer[fd] = fstat(fd, &status) == 0 && status.st_rdev == null.st_rdev ? 'y' : 'n';
        }
        // The next file opened does not take a standard descriptor's place.
        const int next = open("/dev/null", O_RDONLY);
        const bool ok = write(report, answer, 3) == 3 && write(report, next > 2 ? "y" : "n", 1) == 1;
        _exit(ok ? 0 : 1);
    }
    close(pipeEnds[1]);
    char answer[5] = {0};
    size_t got = 0;
    for (ssize_t n = 1; got < 4 && n > 0; got += n > 0 ? static_cast<size_t>(n) : 0) {
        n = read(pipeEnds[0], answer + got, 4 - got);
    }
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_STREQ(answer, "yyyy");
}

TEST_F(Scratch, WatcherSeesWritesAndRenameSaves) {
    std::unique_ptr<FileWatcher> watcher = FileWatcher::create();
    std::string error;
    ASSERT_TRUE(watcher->watch(folder, error)) << error;
    EXPECT_FALSE(watcher->watch(path("missing"), error));
    write("direct.txt", "1");
    // An editor's save: a temporary file renamed over the original.
    write(".direct.swp", "2");
    ASSERT_EQ(rename(path(".direct.swp").c_str(), path("saved.txt").c_str()), 0);
    std::vector<std::string> seen;
    for (int i = 0; i < 100 && seen.size() < 3; ++i) {
        for (const std::string& changed : watcher->changes()) {
            seen.push_back(changed);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(std::find(seen.begin(), seen.end(), path("direct.txt")), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), path("saved.txt")), seen.end());
    EXPECT_TRUE(watcher->changes().empty());
}

TEST(Process, FeedsInputCollectsOutputAndReportsTheExit) {
    ProcessDesc desc;
    desc.program = findProgramOnPath("sh");
    ASSERT_FALSE(desc.program.empty());
    desc.arguments = {"-c", "cat; echo err >&2; exit 3"};
    desc.pipeInput = true;
    desc.captureOutput = true;
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.start(desc, error)) << error;
    ASSERT_TRUE(child.writeInput("hello\n", 6, error)) << error;
    child.closeInput();
    EXPECT_EQ(child.readAllOutput(), "hello\nerr\n");
    const ExitStatus status = child.wait();
    EXPECT_EQ(status.describe(), "exited with status 3");
    EXPECT_FALSE(status.success());

    desc.program = "/no/such/program";
    ChildProcess missing;
    EXPECT_FALSE(missing.start(desc, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(findProgramOnPath("no-such-program-anywhere"), "");
}
