#include "sync/TrackFile.h"
#include "sync/SyncDevice.h"
#include "tests/support/ReplacedNewDelete.h"
#include "tests/sync/SyncTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

using namespace Velmora;
using namespace SyncTest;

// The largest single allocation made through operator new in this test program, to show that an
// announced key count never turns into an allocation of that size.
static std::atomic<std::size_t> largestAllocation{0};

void noteAllocation(std::size_t size) {
    std::size_t seen = largestAllocation.load();
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
    }
}

namespace {

bool sameKeys(const std::vector<TrackKey>& a, const std::vector<TrackKey>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(TrackKey)) == 0);
}

const std::vector<TrackKey> threeKeys = {{0, 0.0f, linear}, {10, 1.0f, smoothstep}, {20, -4.5f, constant}};

} // namespace

TEST(TrackFile, DecodesTheLayout) {
    // Little-endian fields, the interpolation byte sign-extended.
    const std::vector<unsigned char> bytes = {1,    0,    0,    0,    0,    0,    0,    0,   0x01,
                                              0x02, 0x03, 0x84, 0x00, 0x00, 0xc0, 0x3f, 0xff};
    const TrackFile::Contents contents = TrackFile::decode(bytes.data(), bytes.size());
    ASSERT_EQ(contents.keys.size(), 1u);
    EXPECT_EQ(contents.keys[0].row, std::int32_t(0x84030201u));
    EXPECT_EQ(contents.keys[0].value, 1.5f);
    EXPECT_EQ(contents.keys[0].interpolation, -1);
    EXPECT_FALSE(contents.trailingData);

    EXPECT_EQ(TrackFile::encode(contents.keys), bytes);
    const std::vector<unsigned char> image = trackImage(threeKeys);
    EXPECT_EQ(TrackFile::encode(threeKeys), image);
    EXPECT_TRUE(sameKeys(TrackFile::decode(image.data(), image.size()).keys, threeKeys));
}

TEST(TrackFile, CountField) {
    // Eight zero bytes: a track without keys.
    const std::vector<unsigned char> zero(8, 0);
    TrackFile::Contents contents = TrackFile::decode(zero.data(), zero.size());
    EXPECT_TRUE(contents.countComplete);
    EXPECT_TRUE(contents.keys.empty());

    // Bytes 4..7 of the count are ignored.
    const std::vector<unsigned char> high = trackImage(3, 0xdeadbeef, threeKeys);
    contents = TrackFile::decode(high.data(), high.size());
    EXPECT_EQ(contents.countHigh, 0xdeadbeefu);
    EXPECT_TRUE(sameKeys(contents.keys, threeKeys));

    // Shorter than the count field: no keys.
    for (std::size_t size = 0; size < 8; ++size) {
        contents = TrackFile::decode(high.data(), size);
        EXPECT_FALSE(contents.countComplete);
        EXPECT_TRUE(contents.keys.empty());
    }

    // Anything after the announced keys is not part of the track.
    const std::vector<unsigned char> more = trackImage(2, 0, threeKeys);
    contents = TrackFile::decode(more.data(), more.size());
    EXPECT_EQ(contents.keys.size(), 2u);
    EXPECT_TRUE(contents.trailingData);
}

TEST(TrackFile, KeepsOnlyKeysPresentInFull) {
    const std::vector<unsigned char> image = trackImage(threeKeys);
    for (std::size_t size = 8; size <= image.size(); ++size) {
        const TrackFile::Contents contents = TrackFile::decode(image.data(), size);
        const std::size_t complete = (size - 8) / 9;
        EXPECT_TRUE(sameKeys(contents.keys, {threeKeys.begin(), threeKeys.begin() + complete})) << size;
    }
    // A negative count reads nothing, whatever follows.
    for (std::int32_t count : {-1, -3, std::numeric_limits<std::int32_t>::min()}) {
        const std::vector<unsigned char> negative = trackImage(count, 0, threeKeys);
        EXPECT_TRUE(TrackFile::decode(negative.data(), negative.size()).keys.empty()) << count;
    }
}

TEST(TrackFile, HugeCountAllocatesOnlyForDataPresent) {
    ScratchDir dir;
    const std::string path = dir.file("huge.track");
    writeFile(path, trackImage(std::numeric_limits<std::int32_t>::max(), 0, threeKeys));
    largestAllocation = 0;
    TrackFile::Contents contents;
    ASSERT_TRUE(TrackFile::read(TrackFileCallbacks{}, path.c_str(), contents));
    EXPECT_LT(largestAllocation.load(), std::size_t(1) << 20);
    EXPECT_EQ(contents.count, std::numeric_limits<std::int32_t>::max());
    EXPECT_TRUE(sameKeys(contents.keys, threeKeys));
    EXPECT_FALSE(contents.trailingData);

    // A long file is read in full through the chunked reader.
    std::vector<TrackKey> many(20000);
    for (std::size_t k = 0; k < many.size(); ++k) {
        many[k] = {std::int32_t(k * 3), float(k) * 0.25f, std::int32_t(k % 4)};
    }
    std::vector<unsigned char> image = trackImage(many);
    image.push_back(0x55);
    writeFile(path, image);
    ASSERT_TRUE(TrackFile::read(TrackFileCallbacks{}, path.c_str(), contents));
    EXPECT_TRUE(sameKeys(contents.keys, many));
    EXPECT_TRUE(contents.trailingData);
}

TEST(TrackFile, SortKeysOrdersByRowAndKeepsLastOfARow) {
    const std::vector<TrackKey> sorted = TrackFile::sortKeys({{20, 1.0f, 0},
                                                              {5, 2.0f, 1},
                                                              {20, 3.0f, 2},
                                                              {-7, 4.0f, 3},
                                                              {5, 5.0f, 0},
                                                              {20, 6.0f, 1},
                                                              {9, 7.0f, 2}});
    const std::vector<TrackKey> expected = {{-7, 4.0f, 3}, {5, 5.0f, 0}, {9, 7.0f, 2}, {20, 6.0f, 1}};
    EXPECT_TRUE(sameKeys(sorted, expected));
    EXPECT_TRUE(sameKeys(TrackFile::sortKeys(threeKeys), threeKeys));
    EXPECT_TRUE(sameKeys(TrackFile::sortKeys({{1, 1.0f, 0}, {1, 2.0f, 1}}), {{1, 2.0f, 1}}));
}

TEST(TrackFile, OnlyRegularFilesWithinTheLimitAreRead) {
    ScratchDir dir;
    // A FIFO without a writer (where the system has them) would block a plain open for ever; a
    // sparse file of 2 GB would be read key by key for a minute and a half.
    const bool fifo = VelmoraTest::makeFifo(dir.file("sync_fifo.track"));
    writeFile(dir.file("sync_huge.track"), trackImage(0x7fffffff, 0, threeKeys));
    VelmoraTest::resizeFile(dir.file("sync_huge.track"), 2100000000LL);
    VelmoraTest::makeFolder(dir.file("sync_folder.track"));
    writeFile(dir.file("sync_good.track"), trackImage(threeKeys));
    const std::size_t largestBefore = largestAllocation.load();

    TrackFile::Contents contents;
    std::string error;
    if (fifo) {
        EXPECT_FALSE(TrackFile::load(dir.file("sync_fifo.track"), contents, error));
        EXPECT_EQ(error, "is not a regular file");
    }
    EXPECT_FALSE(TrackFile::load(VelmoraTest::deviceFile(), contents, error));
    EXPECT_EQ(error, "is not a regular file");
    EXPECT_FALSE(TrackFile::load(dir.file("sync_huge.track"), contents, error));
    EXPECT_NE(error.find("larger than the limit of 67108864 bytes"), std::string::npos) << error;
    EXPECT_FALSE(TrackFile::load(dir.file("sync_folder.track"), contents, error));
    EXPECT_EQ(error, "is a folder, not a file");
    EXPECT_FALSE(TrackFile::load(dir.file("sync_none.track"), contents, error));
    EXPECT_EQ(error, "No such file or directory");
    ASSERT_TRUE(TrackFile::load(dir.file("sync_good.track"), contents, error)) << error;
    EXPECT_TRUE(sameKeys(contents.keys, threeKeys));

    // The device reads each of them as a missing file: a track without keys, at once.
    SyncDevice device(dir.file("sync"));
    for (const char* name : {"fifo", "huge", "folder", "none"}) {
        EXPECT_EQ(device.getTrack(name)->keyCount(), 0) << name;
    }
    EXPECT_EQ(device.getTrack("good")->keyCount(), 3);
    EXPECT_LT(largestAllocation.load(), std::max<std::size_t>(largestBefore, 1 << 20));
}
