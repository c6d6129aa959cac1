// Bounded reads of regular files only, and replacing writes that never leave a broken or foreign
// file behind, against the real file system. What only one kind of system has (FIFOs, permission
// bits, links anyone may make; drive letters and backslashes) is in FilesPosixTest.cpp and
// FilesWin32Test.cpp.
#include "base/Files.h"
#include "base/CheckedMath.h"
#include "base/FileWatcher.h"
#include "base/Platform.h"
#include "base/Process.h"
#include "tests/base/BaseTestSupport.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

using namespace Velmora;

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
    EXPECT_FALSE(readRegularFile(path("none/deeper"), 100, bytes, error));
    EXPECT_EQ(error, "No such file or directory");

    // A device is refused without reading from it.
    EXPECT_EQ(openRegularFile(VelmoraTest::deviceFile(), 1 << 30, error), nullptr);
    EXPECT_EQ(error, "is not a regular file");
    EXPECT_EQ(fileInfo(VelmoraTest::deviceFile()).type, FileType::Other);
}

TEST_F(Scratch, FileInfoTellsFilesFoldersAndNothingApart) {
    write("five", "12345");
    const FileInfo file = fileInfo(path("five"));
    EXPECT_EQ(file.type, FileType::Regular);
    EXPECT_EQ(file.size, 5u);
    // Within a day of now: the clock and the file system agree on the epoch.
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    EXPECT_LT(std::llabs(file.modifiedNs - now), 86400LL * 1000000000LL);
    EXPECT_EQ(fileInfo(folder).type, FileType::Directory);
    EXPECT_TRUE(isDirectory(folder));
    const FileInfo missing = fileInfo(path("none"));
    EXPECT_EQ(missing.type, FileType::Missing);
    EXPECT_EQ(missing.error, "No such file or directory");
    EXPECT_TRUE(sameFile(path("five"), folder + "/./five"));
    EXPECT_FALSE(sameFile(path("five"), folder));
    EXPECT_FALSE(sameFile(path("five"), path("none")));
    EXPECT_TRUE(canWriteInto(folder));
    EXPECT_TRUE(canWriteFile(path("five")));
    EXPECT_FALSE(canWriteInto(path("none")));
    EXPECT_EQ(listDirectory(folder), (std::vector<std::string>{"five"})) << "a probe file was left behind";
}

TEST_F(Scratch, FoldersAreMadeWithTheirParentsAndFilesRemoved) {
    std::string error;
    ASSERT_TRUE(makeDirectories(path("a/b/c"), error)) << error;
    EXPECT_TRUE(isDirectory(path("a/b/c")));
    EXPECT_TRUE(makeDirectories(path("a/b"), error)) << "an existing folder is fine";
    write("a/file", "x");
    EXPECT_FALSE(makeDirectories(path("a/file/d"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(makeDirectories(path("a/file"), error));
    EXPECT_EQ(error, "exists and is not a folder");
    EXPECT_TRUE(removeFile(path("a/file")));
    EXPECT_FALSE(pathExists(path("a/file")));
    EXPECT_TRUE(removeFile(path("a/file"))) << "nothing at the path is what was asked for";
    EXPECT_EQ(VelmoraTest::listFolder(path("a")), (std::vector<std::string>{"b"}));
}

TEST_F(Scratch, ReplacingLeavesNoTemporaryFiles) {
    write("track", "old");
    std::string error;
    ASSERT_TRUE(writeFileReplacing(path("track"), "new", error)) << error;
    EXPECT_EQ(read("track"), "new");
    ASSERT_TRUE(writeFileReplacing(path("fresh"), "", error)) << error;
    EXPECT_EQ(fileInfo(path("fresh")).type, FileType::Regular);
    WriteOptions quick;
    quick.sync = false;
    quick.verify = false;
    ASSERT_TRUE(writeFileReplacing(path("track"), std::string(300000, 'z'), error, quick)) << error;
    EXPECT_EQ(fileInfo(path("track")).size, 300000u);
    EXPECT_EQ(VelmoraTest::listFolder(folder), (std::vector<std::string>{"fresh", "track"}))
        << "a temporary file was left behind";
}

TEST_F(Scratch, ReplacingRefusesWhatIsNotAWritableRegularFile) {
    std::string error;
    EXPECT_FALSE(writeFileReplacing(folder, "x", error));
    EXPECT_EQ(error, "is a folder, not a file");
    EXPECT_FALSE(writeFileReplacing(VelmoraTest::deviceFile(), "x", error));
    EXPECT_EQ(error, "is not a regular file");

    const std::string locked = write("locked", "keep");
    VelmoraTest::makeReadOnly(locked);
    if (!canWriteFile(locked)) { // root may write anything
        EXPECT_FALSE(writeFileReplacing(locked, "lost", error));
        EXPECT_NE(error.find("not writable"), std::string::npos) << error;
        EXPECT_EQ(read("locked"), "keep");
    }
    EXPECT_FALSE(writeFileReplacing(path("no/such/folder/x"), "x", error));
    EXPECT_EQ(VelmoraTest::listFolder(folder), (std::vector<std::string>{"locked"}));
}

TEST_F(Scratch, TemporaryFilesAreUniqueAndGoAway) {
    std::string first;
    {
        TemporaryFile a(path("out.mp4"), ".part");
        TemporaryFile b(path("out.mp4"), ".part");
        ASSERT_TRUE(a.valid()) << a.error();
        ASSERT_TRUE(b.valid()) << b.error();
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(sameFile(parentFolder(a.path()), folder));
        std::fputs("data", a.stream());
        EXPECT_TRUE(a.close(true)) << a.error();
        first = a.path();
        EXPECT_EQ(fileInfo(first).size, 4u);
    }
    EXPECT_FALSE(pathExists(first));
    EXPECT_TRUE(listDirectory(folder).empty());

    TemporaryFile kept("", "-audio.wav");
    ASSERT_TRUE(kept.valid()) << kept.error();
    EXPECT_TRUE(sameFile(parentFolder(kept.path()), temporaryFolder()));
    kept.keep();
    ASSERT_TRUE(kept.close(false));
    EXPECT_TRUE(pathExists(kept.path()));
    EXPECT_TRUE(removeFile(kept.path()));
}

TEST_F(Scratch, AFinishedFileMovesIntoPlace) {
    std::string error;
    write("show.mp4", "old");
    {
        TemporaryFile part(path("show.mp4"), ".part");
        std::fputs("new", part.stream());
        ASSERT_TRUE(part.close(false)) << part.error();
        ASSERT_TRUE(moveIntoPlace(part.path(), replacementTarget(path("show.mp4"), error), error)) << error;
        part.keep();
    }
    EXPECT_EQ(read("show.mp4"), "new");

    // Where nothing may be replaced, a file that is there stays, and the temporary one goes.
    WriteOptions keep;
    keep.replace = false;
    {
        TemporaryFile part(path("show.mp4"), ".part");
        std::fputs("newer", part.stream());
        ASSERT_TRUE(part.close(false));
        EXPECT_FALSE(moveIntoPlace(part.path(), path("show.mp4"), error, keep));
        EXPECT_EQ(error, "File exists");
        EXPECT_FALSE(pathExists(part.path()));
        part.keep();
    }
    EXPECT_EQ(read("show.mp4"), "new");
    EXPECT_EQ(replacementTarget(folder, error), "");
    EXPECT_EQ(error, "is a folder, not a file");
    EXPECT_EQ(VelmoraTest::listFolder(folder), (std::vector<std::string>{"show.mp4"}));
}

TEST_F(Scratch, RenamingWithoutReplacingKeepsWhatIsThere) {
    std::string error;
    write("a", "first");
    write("b", "second");
    EXPECT_FALSE(renameWithoutReplacing(path("a"), path("b"), error));
    EXPECT_EQ(error, "File exists");
    EXPECT_EQ(read("b"), "second");
    ASSERT_TRUE(renameWithoutReplacing(path("a"), path("c"), error)) << error;
    EXPECT_EQ(read("c"), "first");
    EXPECT_FALSE(pathExists(path("a")));
    ASSERT_TRUE(renameFile(path("c"), path("b"), error)) << error;
    EXPECT_EQ(read("b"), "first");
    EXPECT_FALSE(renameFile(path("none"), path("b"), error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_TRUE(syncFile(path("b"), error)) << error;
    EXPECT_FALSE(syncFile(path("none"), error));
}

TEST(PathNames, OverlongNamesAreSeenFromTheTextAlone) {
    EXPECT_EQ(pathNameProblem("out/show.mp4"), "");
    EXPECT_EQ(pathNameProblem(std::string(255, 'a') + "/x"), "");
    EXPECT_EQ(pathNameProblem("out/" + std::string(256, 'a') + "/x.mp4"), "File name too long");
    std::string deep;
    for (int i = 0; i < 5000; ++i) {
        deep += "abcdefghi/";
    }
    EXPECT_EQ(pathNameProblem(deep + "x"), "File name too long");
}

TEST(PathNames, FolderAndNameOfAPath) {
    EXPECT_EQ(parentFolder("data/shaders/bleh.fs"), "data/shaders");
    EXPECT_EQ(baseName("data/shaders/bleh.fs"), "bleh.fs");
    EXPECT_EQ(parentFolder("bleh.fs"), ".");
    EXPECT_EQ(baseName("bleh.fs"), "bleh.fs");
    EXPECT_EQ(parentFolder("/top"), "/");
    EXPECT_EQ(baseName("out/"), "");
    EXPECT_TRUE(isPathSeparator('/'));
    EXPECT_FALSE(isPathSeparator(':'));
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
    // A name of two-byte characters is cut between them, never inside one.
    std::string accents;
    for (int i = 0; i < 62; ++i) {
        accents += "\xc3\xa9"; // é
    }
    TemporaryFile cut(path(std::string(120, 'x') + accents + ".mp4"), ".part");
    ASSERT_TRUE(cut.valid()) << cut.error();
    const std::string name = baseName(cut.path());
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(std::count(name.begin(), name.end(), '\xc3'), std::count(name.begin(), name.end(), '\xa9'))
        << name;
    EXPECT_LT(std::count(name.begin(), name.end(), '\xc3'), 62) << "the name was not shortened";
}

TEST_F(Scratch, OnlyTemporaryFilesOfEndedProcessesAreRemoved) {
    // The id of a process that runs (a child of ours), and of one that has ended (the same, later).
    ChildProcess child;
    ProcessDesc desc;
    desc.program = childHelper();
    desc.arguments = {"sleep", "30"};
    std::string error;
    ASSERT_TRUE(child.start(desc, error)) << error;
    const std::string running = std::to_string(child.id());
    const std::string self = std::to_string(currentProcessId());
    write(".show.mp4-" + running + "-a1b2c3.part", "its process still runs");
    write(".show.mp4-" + self + "-a1b2c3.part", "ours, still in use");
    write(".show.mp4-999999996-a1b2c3.partial", "another suffix");
    write(".other.mp4-999999996-a1b2c3.part", "another file's");
    write("show.mp4.part", "not one of ours");
    write(".show.mp4-999999996-a1b2c3.part", "no process has this id");
    write(".show.mp4-x99-a1b2c3.part", "no process id");
    EXPECT_EQ(removeAbandonedTemporaries(path("show.mp4"), ".part"), 1);
    EXPECT_FALSE(pathExists(path(".show.mp4-999999996-a1b2c3.part")));
    EXPECT_EQ(listDirectory(folder).size(), 6u);

    child.kill();
    child.wait();
    EXPECT_EQ(removeAbandonedTemporaries(path("show.mp4"), ".part"), 1) << "the ended child's file stays";
    EXPECT_FALSE(pathExists(path(".show.mp4-" + running + "-a1b2c3.part")));
    EXPECT_TRUE(processRunning(currentProcessId()));
    EXPECT_FALSE(processRunning(999999996));
}

TEST_F(Scratch, WatcherSeesWritesAndRenameSaves) {
    std::unique_ptr<FileWatcher> watcher = FileWatcher::create();
    std::string error;
    ASSERT_TRUE(watcher->watch(folder, error)) << error;
    EXPECT_FALSE(watcher->watch(path("missing"), error));
    EXPECT_FALSE(error.empty());
    write("direct.txt", "1");
    // An editor's save: a temporary file renamed over the original.
    write("saved.txt", "0");
    write(".saved.swp", "2");
    ASSERT_TRUE(renameFile(path(".saved.swp"), path("saved.txt"), error)) << error;
    // A folder made in it is not a file change.
    ASSERT_TRUE(makeDirectories(path("sub"), error));
    std::vector<std::string> seen;
    for (int i = 0; i < 400; ++i) {
        for (const std::string& changed : watcher->changes()) {
            seen.push_back(changed);
        }
        const bool both = std::find(seen.begin(), seen.end(), path("direct.txt")) != seen.end() &&
                          std::find(seen.begin(), seen.end(), path("saved.txt")) != seen.end();
        if (both) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(std::find(seen.begin(), seen.end(), path("direct.txt")), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), path("saved.txt")), seen.end());
    EXPECT_EQ(std::find(seen.begin(), seen.end(), path("sub")), seen.end());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (const std::string& late : watcher->changes()) {
        EXPECT_TRUE(late == path("direct.txt") || late == path("saved.txt") || late == path(".saved.swp"))
            << late;
    }
    EXPECT_TRUE(watcher->changes().empty());

    // A file removed, with a folder put in its place: the name is reported.
    ASSERT_TRUE(removeFile(path("direct.txt")));
    ASSERT_TRUE(makeDirectories(path("direct.txt"), error));
    seen.clear();
    for (int i = 0; i < 400 && std::find(seen.begin(), seen.end(), path("direct.txt")) == seen.end(); ++i) {
        for (const std::string& changed : watcher->changes()) {
            seen.push_back(changed);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(std::find(seen.begin(), seen.end(), path("direct.txt")), seen.end());
}

TEST(Platform, RandomBytesDifferAndTheEnvironmentIsReadAndSet) {
    unsigned char first[32] = {};
    unsigned char second[32] = {};
    ASSERT_TRUE(randomBytes(first, sizeof first));
    ASSERT_TRUE(randomBytes(second, sizeof second));
    EXPECT_NE(std::string(first, first + 32), std::string(second, second + 32));
    EXPECT_TRUE(randomBytes(first, 0));

    ASSERT_TRUE(setEnvironmentVariable("VELMORA_TEST_VARIABLE", "caf\xc3\xa9 = 1"));
    EXPECT_EQ(environmentVariable("VELMORA_TEST_VARIABLE"), "caf\xc3\xa9 = 1");
    EXPECT_EQ(environmentVariable("VELMORA_NO_SUCH_VARIABLE"), "");
}

TEST(CheckedMath, SumsAndProductsThatDoNotFitAreRefused) {
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();
    std::int64_t result = 7;
    EXPECT_TRUE(checkedAdd(most - 1, 1, result));
    EXPECT_EQ(result, most);
    EXPECT_FALSE(checkedAdd(most, 1, result));
    EXPECT_FALSE(checkedAdd(least, -1, result));
    EXPECT_EQ(result, most) << "a refused sum leaves the result";
    EXPECT_TRUE(checkedAdd(least, most, result));
    EXPECT_EQ(result, -1);

    EXPECT_TRUE(checkedMultiply(3037000499LL, 3037000499LL, result));
    EXPECT_FALSE(checkedMultiply(3037000500LL, 3037000500LL, result));
    EXPECT_FALSE(checkedMultiply(-3037000500LL, 3037000500LL, result));
    EXPECT_TRUE(checkedMultiply(least, 1, result));
    EXPECT_EQ(result, least);
    EXPECT_FALSE(checkedMultiply(least, -1, result));
    EXPECT_FALSE(checkedMultiply(-1, least, result));
    EXPECT_TRUE(checkedMultiply(-4, -5, result));
    EXPECT_EQ(result, 20);
    EXPECT_TRUE(checkedMultiply(0, least, result));
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(checkedMultiply(most / 2 + 1, 2, result));
    EXPECT_FALSE(checkedMultiply(-2, most / 2 + 2, result));
}
