// What only Windows has: drive letters, '\' separators, device names, names in UTF-16, paths past
// the classic 260-character limit, and files that other programs hold open.
#include "base/Files.h"
#include "base/Platform.h"
#include "tests/base/BaseTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace Velmora;

namespace {

std::string backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

} // namespace

TEST(PathNamesOnWindows, DrivesSharesAndBothSeparators) {
    EXPECT_TRUE(isPathSeparator('\\'));
    EXPECT_EQ(parentFolder("C:\\data\\shaders\\bleh.fs"), "C:\\data\\shaders");
    EXPECT_EQ(baseName("C:\\data\\shaders\\bleh.fs"), "bleh.fs");
    EXPECT_EQ(parentFolder("C:\\show.mp4"), "C:\\");
    EXPECT_EQ(parentFolder("C:/show.mp4"), "C:/");
    EXPECT_EQ(parentFolder("C:show.mp4"), "C:");
    EXPECT_EQ(baseName("C:show.mp4"), "show.mp4");
    EXPECT_EQ(parentFolder("\\\\server\\share\\show.mp4"), "\\\\server\\share\\");
    EXPECT_EQ(parentFolder("data\\shaders/bleh.fs"), "data\\shaders");
    EXPECT_EQ(baseName("out\\"), "");
    const std::string temporary = temporaryFolder();
    EXPECT_TRUE(isDirectory(temporary)) << temporary;
    EXPECT_FALSE(isPathSeparator(temporary.back())) << temporary;
}

TEST_F(Scratch, BackslashPathsNameTheSameFiles) {
    std::string error;
    ASSERT_TRUE(makeDirectories(backslashed(path("one/two")), error)) << error;
    ASSERT_TRUE(writeFileReplacing(backslashed(path("one/two/file.txt")), "via backslashes", error)) << error;
    EXPECT_EQ(read("one/two/file.txt"), "via backslashes");
    EXPECT_TRUE(sameFile(path("one/two/file.txt"), backslashed(path("one/two/file.txt"))));
    EXPECT_EQ(listDirectory(backslashed(path("one/two"))), (std::vector<std::string>{"file.txt"}));
    TemporaryFile part(backslashed(path("one/two/file.txt")), ".part");
    ASSERT_TRUE(part.valid()) << part.error();
    EXPECT_TRUE(sameFile(parentFolder(part.path()), path("one/two")));
}

TEST_F(Scratch, NamesOutsideTheCodePageRoundTrip) {
    // "café ƒ 日本.txt"
    const std::string name = "caf\xc3\xa9 \xc6\x92 \xe6\x97\xa5\xe6\x9c\xac.txt";
    std::string error;
    ASSERT_TRUE(writeFileReplacing(path(name), "unicode", error)) << error;
    EXPECT_EQ(listDirectory(folder), (std::vector<std::string>{name}));
    EXPECT_EQ(read(name), "unicode");
    EXPECT_EQ(fileInfo(path(name)).size, 7u);
    EXPECT_TRUE(removeFile(path(name)));
    EXPECT_TRUE(listDirectory(folder).empty());
}

TEST_F(Scratch, PathsPastTheClassicLimitWork) {
    std::string deep = folder;
    while (deep.size() < 400) {
        deep += "/a-folder-name-of-some-length";
    }
    std::string error;
    ASSERT_TRUE(makeDirectories(deep, error)) << error;
    const std::string file = deep + "/file.txt";
    ASSERT_GT(file.size(), 260u);
    EXPECT_EQ(pathNameProblem(file), "");
    ASSERT_TRUE(writeFileReplacing(file, "far down", error)) << error;
    std::string bytes;
    ASSERT_TRUE(readRegularFile(file, 100, bytes, error)) << error;
    EXPECT_EQ(bytes, "far down");
    EXPECT_EQ(listDirectory(deep), (std::vector<std::string>{"file.txt"}));
    TemporaryFile part(file, ".part");
    ASSERT_TRUE(part.valid()) << part.error();
    ASSERT_TRUE(part.close(true)) << part.error();
    ASSERT_TRUE(moveIntoPlace(part.path(), file, error)) << error;
    part.keep();
    EXPECT_EQ(fileInfo(file).size, 0u);
    EXPECT_TRUE(removeFile(file));
    EXPECT_FALSE(pathExists(file));
}

TEST_F(Scratch, DeviceNamesAreNeverFilesToReplace) {
    std::string error;
    for (const std::string& device :
         {std::string("NUL"), std::string("CON"), std::string("nul"), std::string("com1"),
          std::string("LPT9.txt"), path("aux"), path("Con .log")}) {
        EXPECT_FALSE(writeFileReplacing(device, "x", error)) << device;
        EXPECT_EQ(error, "is not a regular file") << device;
        EXPECT_EQ(replacementTarget(device, error), "") << device;
        EXPECT_EQ(fileInfo(device).type, FileType::Other) << device;
    }
    // Names that only begin like one are files.
    ASSERT_TRUE(writeFileReplacing(path("console.txt"), "x", error)) << error;
    ASSERT_TRUE(writeFileReplacing(path("com10"), "x", error)) << error;
    EXPECT_EQ(VelmoraTest::listFolder(folder), (std::vector<std::string>{"com10", "console.txt"}));
}

TEST_F(Scratch, AFileHeldOpenElsewhereIsReplacedWholeOrLeftAsItWas) {
    write("track.txt", "old");
    std::string error;
    {
        // A reader that lets go within a moment (a virus scanner, an editor's look at the file):
        // the save waits for it.
        std::FILE* reader = openRegularFile(path("track.txt"), 100, error);
        ASSERT_NE(reader, nullptr) << error;
        std::thread release([reader] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::fclose(reader);
        });
        EXPECT_TRUE(writeFileReplacing(path("track.txt"), "new", error)) << error;
        release.join();
    }
    EXPECT_EQ(read("track.txt"), "new");
    {
        // A handle held all along: the save either goes through or says why, and never leaves
        // half a file or a temporary one.
        std::ifstream other(path("track.txt"), std::ios::binary);
        ASSERT_TRUE(other.is_open());
        const bool replaced = writeFileReplacing(path("track.txt"), "newer", error);
        other.close();
        EXPECT_EQ(read("track.txt"), replaced ? "newer" : "new") << error;
        if (!replaced) {
            EXPECT_NE(error.find("cannot replace it"), std::string::npos) << error;
        }
    }
    EXPECT_EQ(listDirectory(folder), (std::vector<std::string>{"track.txt"}));
}

TEST_F(Scratch, LinksAreFollowedWhereThisProcessMayMakeThem) {
    write("track", "old");
    if (!VelmoraTest::makeSymlink("track", path("link"))) {
        GTEST_SKIP() << "this process may not make symbolic links (developer mode or the privilege)";
    }
    std::string error;
    EXPECT_TRUE(linkInfo(path("link")).isLink);
    EXPECT_TRUE(sameFile(resolveLink(path("link")), path("track")));
    ASSERT_TRUE(writeFileReplacing(path("link"), "new", error)) << error;
    EXPECT_EQ(read("track"), "new");
    EXPECT_TRUE(linkInfo(path("link")).isLink) << "the link was replaced by a file";
}
