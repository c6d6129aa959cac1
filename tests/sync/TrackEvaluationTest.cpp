#include "sync/SyncDevice.h"
#include "sync/SyncTrack.h"
#include "sync/TrackData.h"
#include "tests/sync/SyncTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace Velmora;
using namespace SyncTest;

namespace {

TrackData twoKeys(std::int32_t firstInterpolation) {
    return makeTrack({{0, 0.0f, firstInterpolation}, {10, 1.0f, constant}});
}

const double inf = std::numeric_limits<double>::infinity();
const double quietNan = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(TrackEvaluation, LinearSegmentAndBothEnds) {
    const TrackData track = twoKeys(linear);
    EXPECT_DOUBLE_EQ(valueAt(track, 5.0), 0.5);
    EXPECT_DOUBLE_EQ(valueAt(track, 2.5), 0.25);
    EXPECT_NEAR(valueAt(track, 9.99), 0.999, 1e-12);
    for (double row : {10.0, 10.5, 11.0, 1e6}) {
        EXPECT_EQ(valueAt(track, row), 1.0) << row;
    }
    // Before the first key the first value holds (not 0 for lack of keys).
    const TrackData offset = makeTrack({{0, 3.0f, linear}, {10, 1.0f, constant}});
    EXPECT_EQ(valueAt(offset, -3.0), 3.0);
    EXPECT_EQ(valueAt(offset, -0.5), 3.0);
}

TEST(TrackEvaluation, InterpolationKinds) {
    EXPECT_DOUBLE_EQ(valueAt(twoKeys(smoothstep), 5.0), 0.5);
    EXPECT_DOUBLE_EQ(valueAt(twoKeys(smoothstep), 2.5), 0.15625);
    EXPECT_DOUBLE_EQ(valueAt(twoKeys(quadratic), 5.0), 0.25);
    EXPECT_DOUBLE_EQ(valueAt(twoKeys(quadratic), 2.5), 0.0625);
    for (double row : {0.0, 0.5, 5.0, 9.0, 9.999}) {
        EXPECT_EQ(valueAt(twoKeys(constant), row), 0.0) << row;
    }
    EXPECT_EQ(valueAt(twoKeys(constant), 10.0), 1.0);

    // The difference is taken in single precision, the blend in double.
    const TrackData fine = makeTrack({{0, 0.1f, linear}, {3, 0.7f, constant}});
    EXPECT_EQ(valueAt(fine, 1.0), double(0.1f) + (1.0 / 3.0) * double(0.7f - 0.1f));
}

TEST(TrackEvaluation, EmptyAndSingleKeyTracks) {
    const TrackData empty = makeTrack({});
    const TrackData single = makeTrack({{7, -2.5f, linear}});
    for (double row : {-1e9, -1.0, 0.0, 7.0, 7.5, 1e9, inf, -inf, quietNan}) {
        EXPECT_EQ(valueAt(empty, row), 0.0) << row;
        EXPECT_EQ(valueAt(single, row), -2.5) << row;
    }
}

TEST(TrackEvaluation, SegmentIsChosenByFloorNotTruncation) {
    const TrackData track = makeTrack({{-2, 0.0f, constant}, {-1, 10.0f, constant}, {0, 20.0f, constant}});
    EXPECT_EQ(valueAt(track, -0.5), 10.0); // row -1's segment; truncation would give row 0
    EXPECT_EQ(valueAt(track, -1.5), 0.0);
    // The fraction still drives the blend inside the segment.
    const TrackData across = makeTrack({{-1, 0.0f, linear}, {1, 2.0f, constant}});
    EXPECT_DOUBLE_EQ(valueAt(across, -0.5), 0.5);
    EXPECT_DOUBLE_EQ(valueAt(across, 0.5), 1.5);
}

TEST(TrackEvaluation, UnknownInterpolationCodes) {
    for (std::int32_t code : {4, -1, 127, -128}) {
        const TrackData track = makeTrack({{0, 1.0f, linear}, {10, 5.0f, code}, {20, 9.0f, code}});
        EXPECT_DOUBLE_EQ(valueAt(track, 5.0), 3.0) << code;
        EXPECT_EQ(valueAt(track, 10.0), 0.0) << code;
        EXPECT_EQ(valueAt(track, 19.9), 0.0) << code;
        // As the last key its value still holds at and after its row.
        EXPECT_EQ(valueAt(track, 20.0), 9.0) << code;
        EXPECT_EQ(valueAt(track, 1e7), 9.0) << code;
    }
}

TEST(TrackEvaluation, FindKey) {
    const TrackData track = makeTrack({{-5, 0, 0}, {0, 0, 0}, {3, 0, 0}, {100, 0, 0}});
    EXPECT_EQ(findKey(track, -5), 0);
    EXPECT_EQ(findKey(track, 0), 1);
    EXPECT_EQ(findKey(track, 3), 2);
    EXPECT_EQ(findKey(track, 100), 3);
    EXPECT_EQ(findKey(track, -6), -1); // before every key: i = 0
    EXPECT_EQ(findKey(track, 1), -3);  // first key after is index 2
    EXPECT_EQ(findKey(track, 99), -4);
    EXPECT_EQ(findKey(track, 101), -5); // after every key: i = key count
    EXPECT_EQ(findKey(makeTrack({}), 0), -1);
}

// Rows the music clock should never produce, and keys at the ends of the row range, must still
// give a defined value: no float-to-int overflow, no 32-bit row difference overflow.
TEST(TrackEvaluation, ExtremeRowsAreDefined) {
    const TrackData track = twoKeys(linear);
    EXPECT_EQ(valueAt(track, quietNan), 0.0);
    EXPECT_EQ(valueAt(track, -inf), 0.0);
    EXPECT_EQ(valueAt(track, inf), 1.0);
    EXPECT_EQ(valueAt(track, -1e300), 0.0);
    EXPECT_EQ(valueAt(track, 1e300), 1.0);
    EXPECT_EQ(valueAt(track, -3e9), 0.0);
    EXPECT_EQ(valueAt(track, 3e9), 1.0);

    const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    const std::int32_t highest = std::numeric_limits<std::int32_t>::max();
    const TrackData wide = makeTrack({{lowest, 0.0f, linear}, {highest, 1.0f, constant}});
    EXPECT_NEAR(valueAt(wide, -0.5), 0.5, 1e-9);
    EXPECT_NEAR(valueAt(wide, highest - 0.5), 1.0, 1e-9);
    EXPECT_NEAR(valueAt(wide, double(lowest) + 0.25), 0.0, 1e-9);
    EXPECT_EQ(valueAt(wide, double(highest)), 1.0);
    EXPECT_EQ(valueAt(wide, double(highest) + 0.75), 1.0);
    EXPECT_EQ(valueAt(wide, double(lowest) - 0.75), 0.0);
}

TEST(SyncTrackHandle, ReadsTheDeviceRowAtEveryCall) {
    ScratchDir dir;
    writeFile(dir.file("sync_fade.track"), trackImage({{0, 0.0f, linear}, {10, 1.0f, constant}}));
    SyncDevice device(dir.file("sync"));
    const SyncTrack fade(device, "fade");
    EXPECT_EQ(fade.value(), 0.0); // the default row source answers row 0

    double row = 2.5;
    device.setRowSource([&row] { return row; });
    EXPECT_DOUBLE_EQ(fade.value(), 0.25);
    row = 5.0;
    EXPECT_DOUBLE_EQ(fade.value(), 0.5);

    const SyncTrack copy = fade;
    EXPECT_EQ(&copy.data(), &fade.data());
    EXPECT_EQ(&SyncTrack(device, "fade").data(), &fade.data());

    device.setRowSource(nullptr); // back to the default source
    EXPECT_EQ(device.row(), 0.0);
}

// valueAt searches its segment its own way; it must agree with the plain rule built on findKey:
// r = floor(row); i = findKey(r), or the key before the insertion point; the ends hold the end
// values.
TEST(TrackEvaluation, AgreesWithFindKeyOnRandomTracks) {
    std::mt19937 random(5);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<TrackKey> keys(1 + random() % 40);
        std::int32_t row = std::int32_t(random() % 200) - 100;
        for (TrackKey& key : keys) {
            key = {row, float(random() % 2000) / 8.0f - 100.0f, std::int32_t(random() % 6) - 1};
            row += 1 + std::int32_t(random() % 20);
        }
        const TrackData track = makeTrack(keys);
        std::uniform_real_distribution<double> anyRow(keys.front().row - 5.0, keys.back().row + 5.0);
        for (int sample = 0; sample < 50; ++sample) {
            const double at = sample % 5 == 0 ? std::floor(anyRow(random)) : anyRow(random);
            int i = findKey(track, static_cast<int>(std::floor(at)));
            if (i < 0) {
                i = -i - 2;
            }
            double expected;
            if (i < 0) {
                expected = keys.front().value;
            } else if (i > track.keyCount() - 2) {
                expected = keys.back().value;
            } else {
                const double t = (at - keys[i].row) / double(keys[i + 1].row - keys[i].row);
                const double d = double(keys[i + 1].value - keys[i].value);
                const double v = keys[i].value;
                const double blends[] = {v, v + t * d, v + (3.0 - 2.0 * t) * (t * t) * d,
                                         v + std::pow(t, 2.0) * d};
                const std::int32_t code = keys[i].interpolation;
                expected = code >= 0 && code <= 3 ? blends[code] : 0.0;
            }
            ASSERT_EQ(valueAt(track, at), expected) << "trial " << trial << " row " << at;
        }
    }
}
