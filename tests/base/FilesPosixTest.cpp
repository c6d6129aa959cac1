// What only POSIX systems have: FIFOs that would block a plain open, permission bits that a
// replaced file keeps, symbolic links that anyone may make, closed standard descriptors.
#include "base/Files.h"
#include "base/Platform.h"
#include "tests/base/BaseTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Velmora;

TEST_F(Scratch, FifosAreRefusedWithoutBlocking) {
    std::string bytes;
    std::string error;
    // A FIFO without a writer would block a plain open for ever.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readRegularFile(path("fifo"), 100, bytes, error));
    EXPECT_EQ(error, "is not a regular file");
    EXPECT_FALSE(writeFileReplacing(path("fifo"), "x", error));
    EXPECT_EQ(fileInfo(path("fifo")).type, FileType::Other);
    EXPECT_FALSE(writeFileReplacing("/dev/null", "x", error));
    EXPECT_EQ(error, "is not a regular file");
}

TEST_F(Scratch, ReplacingKeepsModeAndLinks) {
    const std::string target = write("track", "old");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink("track", path("link").c_str()), 0);

    std::string error;
    ASSERT_TRUE(writeFileReplacing(path("link"), "new", error)) << error;
    EXPECT_EQ(read("track"), "new");
    EXPECT_TRUE(linkInfo(path("link")).isLink) << "the link was replaced by a file";
    EXPECT_EQ(resolveLink(path("link")), path("track"));
    struct stat status;
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(listDirectory(folder).size(), 2u) << "a temporary file was left behind";
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

TEST_F(Scratch, ADanglingLinkIsTakenForAName) {
    std::string error;
    write("a", "first");
    ASSERT_EQ(symlink("nowhere", path("dangling").c_str()), 0);
    EXPECT_TRUE(pathExists(path("dangling")));
    EXPECT_FALSE(renameWithoutReplacing(path("a"), path("dangling"), error));
    EXPECT_EQ(error, "File exists");
    EXPECT_EQ(read("a"), "first");
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
