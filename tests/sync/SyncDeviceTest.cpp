#include "sync/SyncDevice.h"
#include "sync/SyncTrack.h"
#include "tests/sync/SyncTestSupport.h"

#include <gtest/gtest.h>

#include <stdio.h>

using namespace Velmora;
using namespace SyncTest;

namespace {

int openCalls = 0;
std::string lastPath;

FILE* countingOpen(const char* path, const char* mode) {
    ++openCalls;
    lastPath = path;
    return ::fopen(path, mode);
}

TrackFileCallbacks countingFiles() {
    TrackFileCallbacks files;
    files.open = countingOpen;
    return files;
}

} // namespace

TEST(SyncDevice, LoadsEachNameOnceFromItsOwnFile) {
    ScratchDir dir;
    writeFile(dir.file("sync_e.track"), trackImage({{0, 1.0f, constant}}));
    writeFile(dir.file("sync_E.track"), trackImage({{0, 2.0f, constant}}));
    openCalls = 0;
    SyncDevice device(dir.file("sync"), countingFiles());

    TrackData* lower = device.getTrack("e");
    EXPECT_EQ(lastPath, dir.file("sync_e.track"));
    TrackData* upper = device.getTrack("E");
    EXPECT_EQ(lastPath, dir.file("sync_E.track"));
    EXPECT_EQ(openCalls, 2);
    ASSERT_NE(lower, upper);
    EXPECT_EQ(lower->name, "e");
    // Names differ in case; on a file system that ignores case (Windows) both are one file.
    const bool oneFile = readFile(dir.file("sync_e.track")) == readFile(dir.file("sync_E.track"));
    EXPECT_EQ(valueAt(*lower, 0.0), oneFile ? 2.0 : 1.0);
    EXPECT_EQ(valueAt(*upper, 0.0), 2.0);

    // Asking again returns the same track and reads nothing.
    EXPECT_EQ(device.getTrack("e"), lower);
    EXPECT_EQ(SyncTrack(device, "E").data().keys.size(), 1u);
    EXPECT_EQ(openCalls, 2);
    EXPECT_EQ(device.trackCount(), 2u);
}

TEST(SyncDevice, MissingFileIsASilentEmptyTrackNotRetried) {
    ScratchDir dir;
    openCalls = 0;
    SyncDevice device(dir.file("sync"), countingFiles());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    TrackData* missing = device.getTrack("nothere");
    const SyncTrack handle(device, "nothere");
    const double value = handle.value();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(missing->keys.empty());
    EXPECT_EQ(value, 0.0);

    // Appearing later changes nothing: the name was already loaded, as empty.
    writeFile(dir.file("sync_nothere.track"), trackImage({{0, 1.0f, constant}}));
    EXPECT_TRUE(device.getTrack("nothere")->keys.empty());
    EXPECT_EQ(openCalls, 1);
}

TEST(SyncDevice, LoadedKeysAreSortedAndBounded) {
    ScratchDir dir;
    // Out of order, row 10 twice: sorted, and the later key of row 10 wins.
    writeFile(dir.file("sync_shuffled.track"),
              trackImage({{10, 1.0f, linear}, {0, 0.0f, linear}, {10, 3.0f, constant}, {5, 2.0f, linear}}));
    // Announces five keys, holds two and a half.
    std::vector<unsigned char> cut =
        trackImage(5, 0, {{0, 1.0f, linear}, {4, 2.0f, linear}, {8, 3.0f, linear}});
    cut.resize(cut.size() - 4);
    writeFile(dir.file("sync_cut.track"), cut);
    writeFile(dir.file("sync_zero.track"), std::vector<unsigned char>(8, 0));
    writeFile(dir.file("sync_high.track"), trackImage(1, 0x01010101, {{3, 4.0f, constant}}));

    SyncDevice device(dir.file("sync"));
    const TrackData& shuffled = *device.getTrack("shuffled");
    ASSERT_EQ(shuffled.keyCount(), 3);
    EXPECT_EQ(shuffled.keys[0].row, 0);
    EXPECT_EQ(shuffled.keys[1].row, 5);
    EXPECT_EQ(shuffled.keys[2].row, 10);
    EXPECT_EQ(shuffled.keys[2].value, 3.0f);
    EXPECT_DOUBLE_EQ(valueAt(shuffled, 7.5), 2.5);

    const TrackData& truncated = *device.getTrack("cut");
    ASSERT_EQ(truncated.keyCount(), 2);
    EXPECT_EQ(valueAt(truncated, 100.0), 2.0);

    EXPECT_EQ(device.getTrack("zero")->keyCount(), 0);
    ASSERT_EQ(device.getTrack("high")->keyCount(), 1);
    EXPECT_EQ(device.getTrack("high")->keys[0].value, 4.0f);
}

TEST(SyncDevice, PathsHaveNoLengthLimit) {
    // A name far past the old 260-character buffer reaches fopen whole.
    const std::string name(1000, 'n');
    openCalls = 0;
    SyncDevice device("./prefix", countingFiles());
    EXPECT_TRUE(device.getTrack(name.c_str())->keys.empty());
    EXPECT_EQ(lastPath, "./prefix_" + name + ".track");

    // A real file more than 260 characters deep loads.
    ScratchDir dir;
    std::string folder = dir.path;
    while (folder.size() < 300) {
        folder += "/" + std::string(60, 'd');
        VelmoraTest::makeFolder(folder);
    }
    writeFile(folder + "/sync_deep.track", trackImage({{0, 6.0f, constant}}));
    SyncDevice deep(folder + "/sync");
    EXPECT_EQ(valueAt(*deep.getTrack("deep"), 0.0), 6.0);
}

TEST(SyncDevice, ProcessWideInstance) {
    SyncDevice& device = SyncDevice::instance();
    EXPECT_EQ(&device, &SyncDevice::instance());
    EXPECT_EQ(device.basePath(), "./data/science/sync");
    EXPECT_EQ(device.row(), 0.0);
    // Handles made by name alone use the process-wide device.
    const SyncTrack absent("velmora-test-no-such-track");
    EXPECT_EQ(&absent.data(), device.getTrack("velmora-test-no-such-track"));
    EXPECT_EQ(absent.value(), 0.0);
    // A null name is the empty name.
    EXPECT_EQ(device.getTrack(nullptr), device.getTrack(""));
}
