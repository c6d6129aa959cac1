// Bounded reads of regular files only, and replacing writes that never leave a broken or foreign
// file behind, against the real file system.
#include "base/Files.h"
#include "base/FileWatcher.h"
#include "base/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
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
