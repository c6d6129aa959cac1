// Feeds the track reader thousands of random, truncated and corrupted files (fixed seed) and
// checks what it keeps; under the sanitizers this also shows no read outside the data.
#include "sync/SyncDevice.h"
#include "sync/TrackFile.h"
#include "tests/sync/SyncTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

using namespace Velmora;
using namespace SyncTest;

namespace {

// In-memory files behind the callback table: every path opens the current image.
struct MemoryFile {
    const std::vector<unsigned char>* data;
    std::size_t at;
};
const std::vector<unsigned char>* currentImage = nullptr;
MemoryFile openFile;

FILE* memoryOpen(const char*, const char*) {
    openFile = {currentImage, 0};
    return reinterpret_cast<FILE*>(&openFile);
}

std::size_t memoryRead(void* buffer, std::size_t size, std::size_t count, FILE* file) {
    MemoryFile& memory = *reinterpret_cast<MemoryFile*>(file);
    const std::size_t wanted = std::min(size * count, memory.data->size() - memory.at);
    std::copy_n(memory.data->data() + memory.at, wanted, static_cast<unsigned char*>(buffer));
    memory.at += wanted;
    return wanted / size;
}

int memoryClose(FILE*) {
    return 0;
}

TrackFileCallbacks memoryFiles() {
    TrackFileCallbacks files;
    files.open = memoryOpen;
    files.read = memoryRead;
    files.close = memoryClose;
    return files;
}

// What any loaded track must satisfy, and evaluation at awkward rows must not trip over.
void checkTrack(const TrackData& track, std::mt19937& random) {
    for (int k = 1; k < track.keyCount(); ++k) {
        ASSERT_LT(track.keys[k - 1].row, track.keys[k].row);
    }
    for (int k = 0; k < track.keyCount(); ++k) {
        ASSERT_EQ(findKey(track, track.keys[k].row), k);
    }
    const double rows[] = {std::numeric_limits<double>::quiet_NaN(),
                           -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::infinity(),
                           -1e12,
                           1e12,
                           0.0,
                           -0.5};
    for (double row : rows) {
        valueAt(track, row);
    }
    std::uniform_real_distribution<double> anyRow(-3e9, 3e9);
    for (int i = 0; i < 8; ++i) {
        valueAt(track, anyRow(random));
    }
}

} // namespace

TEST(TrackFuzz, RandomFilesThroughTheDevice) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 400);
    SyncDevice device("mem", memoryFiles());
    for (int i = 0; i < 4000; ++i) {
        std::vector<unsigned char> image(static_cast<std::size_t>(length(random)));
        for (unsigned char& b : image) {
            b = static_cast<unsigned char>(byte(random));
        }
        // Make the count plausible often, so that keys get decoded, sorted and evaluated.
        if (image.size() >= 8 && i % 3 != 0) {
            const std::int32_t counts[] = {std::int32_t((image.size() - 8) / 9), std::int32_t(random() % 64),
                                           std::numeric_limits<std::int32_t>::max(), -1};
            const std::int32_t count = counts[random() % 4];
            for (int b = 0; b < 4; ++b) {
                image[b] = static_cast<unsigned char>(static_cast<std::uint32_t>(count) >> (8 * b));
            }
        }
        currentImage = &image;
        const TrackData& track = *device.getTrack(std::to_string(i).c_str());

        const TrackFile::Contents contents = TrackFile::decode(image.data(), image.size());
        const std::size_t room = image.size() < 8 ? 0 : (image.size() - 8) / 9;
        ASSERT_LE(contents.keys.size(), room);
        ASSERT_LE(contents.keys.size(), std::size_t(std::max(contents.count, 0)));
        ASSERT_EQ(track.keys.size(), TrackFile::sortKeys(contents.keys).size());
        checkTrack(track, random);
    }
}

TEST(TrackFuzz, TruncatedAndCorruptedValidFiles) {
    std::mt19937 random(7);
    std::vector<TrackKey> keys(60);
    std::int32_t row = -100;
    for (TrackKey& key : keys) {
        row += 1 + std::int32_t(random() % 50);
        key = {row, float(random() % 1000) / 7.0f, std::int32_t(random() % 4)};
    }
    const std::vector<unsigned char> valid = trackImage(keys);
    SyncDevice device("mem", memoryFiles());
    int name = 0;

    // Every prefix keeps exactly the keys it holds in full.
    for (std::size_t size = 0; size <= valid.size(); ++size) {
        const std::vector<unsigned char> prefix(valid.begin(), valid.begin() + std::ptrdiff_t(size));
        currentImage = &prefix;
        const TrackData& track = *device.getTrack(std::to_string(name++).c_str());
        const std::size_t complete = size < 8 ? 0 : (size - 8) / 9;
        ASSERT_EQ(track.keys.size(), complete) << size;
        for (std::size_t k = 0; k < complete; ++k) {
            ASSERT_EQ(track.keys[k].row, keys[k].row);
            ASSERT_EQ(track.keys[k].value, keys[k].value);
        }
    }

    // Flipped bits anywhere, including in the count.
    for (int i = 0; i < 3000; ++i) {
        std::vector<unsigned char> image = valid;
        for (int flips = 1 + int(random() % 4); flips > 0; --flips) {
            image[random() % image.size()] ^= static_cast<unsigned char>(1u << (random() % 8));
        }
        image.resize(random() % (image.size() + 1));
        currentImage = &image;
        checkTrack(*device.getTrack(std::to_string(name++).c_str()), random);
    }
}
