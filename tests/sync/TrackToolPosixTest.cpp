// The velmora-track program with what only POSIX systems can give it: closed standard descriptors.
#include "tests/sync/SyncTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

using namespace SyncTest;

TEST(TrackTool, RunsWithItsStandardDescriptorsClosed) {
    ScratchDir dir;
    const std::string source = dir.file("src.txt");
    VelmoraTest::writeFile(source,
                           "10 1 linear\n5 2 constant\n"); // out of order: a warning on standard error
    const std::string command = std::string("'") + VELMORA_TRACK_TOOL + "' build '" + source + "' '" +
                                dir.file("out.track") + "' <&- >&- 2>&-";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(dir.file("out.track")), trackImage({{10, 1.0f, linear}, {5, 2.0f, constant}}));
}
