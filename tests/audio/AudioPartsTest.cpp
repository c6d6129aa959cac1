// The player's building blocks, without a device or a file: spectrum scaling, the clock's
// arithmetic (loop wraps included) and its hand-over between threads, and the decoded-file buffer.
#include "audio/PcmBuffer.h"
#include "audio/PlaybackClock.h"
#include "audio/Spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

using namespace Velmora;

namespace {

constexpr double pi = 3.14159265358979323846;

std::vector<float> sine(double cyclesPerBlock, double amplitude) {
    std::vector<float> samples(Spectrum::size);
    for (int n = 0; n < Spectrum::size; ++n)
        samples[n] = float(amplitude * std::sin(2.0 * pi * cyclesPerBlock * n / Spectrum::size + 0.3));
    return samples;
}

std::vector<float> magnitudesOf(const std::vector<float>& samples) {
    Spectrum spectrum;
    std::vector<float> magnitudes(Spectrum::bins, -1.0f);
    spectrum.compute(samples.data(), magnitudes.data());
    return magnitudes;
}

} // namespace

TEST(Spectrum, FullScaleSineAtBinCentreReadsOne) {
    const auto centred = magnitudesOf(sine(32.0, 1.0));
    EXPECT_NEAR(centred[32], 1.0f, 1e-3f);
    // The Hann window puts half the level into each neighbour and nothing further out.
    EXPECT_NEAR(centred[31], 0.5f, 1e-3f);
    EXPECT_NEAR(centred[33], 0.5f, 1e-3f);
    EXPECT_LT(*std::max_element(centred.begin() + 35, centred.end()), 1e-3f);
    EXPECT_LT(centred[0], 1e-3f);

    // The scale is linear in the level and holds at the top bin.
    EXPECT_NEAR(magnitudesOf(sine(500.0, 0.25))[500], 0.25f, 1e-3f);

    // Half-way between centres the peak drops to the Hann scalloping level.
    const auto between = magnitudesOf(sine(40.5, 1.0));
    EXPECT_NEAR(between[40], 0.85f, 0.01f);
    EXPECT_NEAR(between[41], 0.85f, 0.01f);

    // Silence and a constant offset (bin 0 reads twice the offset, as documented).
    const auto silent = magnitudesOf(std::vector<float>(Spectrum::size, 0.0f));
    EXPECT_EQ(*std::max_element(silent.begin(), silent.end()), 0.0f);
    EXPECT_NEAR(magnitudesOf(std::vector<float>(Spectrum::size, 0.5f))[0], 1.0f, 1e-3f);
}

TEST(PlaybackClock, PositionAdvancesWithTimeUpToOneBuffer) {
    PlaybackClock::Snapshot snapshot;
    snapshot.fileStart = 44100;
    snapshot.bufferFrames = 1024;
    snapshot.fileFramesInBuffer = 1024;
    snapshot.segment = 3;
    snapshot.timeNs = 5'000'000'000;

    auto at = [&](int64_t afterNs) {
        return PlaybackClock::positionAt(snapshot, snapshot.timeNs + afterNs, 44100);
    };
    EXPECT_DOUBLE_EQ(at(0).fileFrame, 44100.0);
    EXPECT_NEAR(at(10'000'000).fileFrame, 44100.0 + 441.0, 1e-6);
    // A late callback holds the position at the end of the buffer rather than running ahead.
    EXPECT_DOUBLE_EQ(at(100'000'000).fileFrame, 44100.0 + 1024.0);
    // A reading taken just before the callback's time stamp does not go back before it.
    EXPECT_DOUBLE_EQ(at(-1'000'000).fileFrame, 44100.0);
    EXPECT_EQ(at(100'000'000).segment, 3u);

    // The last buffer of the file (or the last decoded frames): 100 frames of music, then the
    // position holds.
    snapshot.fileFramesInBuffer = 100;
    EXPECT_DOUBLE_EQ(at(20'000'000).fileFrame, 44100.0 + 100.0);
}

TEST(PlaybackClock, LoopWrapsInsideABufferStartNewSegments) {
    // 1000 Hz, so that a millisecond is a frame. The buffer starts at 1000 in the loop 900..1100.
    PlaybackClock::Snapshot snapshot;
    snapshot.fileStart = 1000;
    snapshot.bufferFrames = 1024;
    snapshot.fileFramesInBuffer = 1024;
    snapshot.loopFrom = 900;
    snapshot.loopTo = 1100;
    snapshot.segment = 7;
    auto at = [&](int64_t frames) { return PlaybackClock::positionAt(snapshot, frames * 1'000'000, 1000); };
    EXPECT_DOUBLE_EQ(at(50).fileFrame, 1050.0);
    EXPECT_EQ(at(50).segment, 7u);
    EXPECT_DOUBLE_EQ(at(99).fileFrame, 1099.0);
    // Reaching the end is the loop's first frame.
    EXPECT_DOUBLE_EQ(at(100).fileFrame, 900.0);
    EXPECT_EQ(at(100).segment, 8u);
    EXPECT_DOUBLE_EQ(at(299).fileFrame, 1099.0);
    EXPECT_EQ(at(299).segment, 8u);
    EXPECT_DOUBLE_EQ(at(300).fileFrame, 900.0);
    EXPECT_EQ(at(300).segment, 9u);
    // The end of the buffer: 924 frames past the first wrap, four more wraps.
    EXPECT_DOUBLE_EQ(at(1024).fileFrame, 1024.0);
    EXPECT_EQ(at(1024).segment, 12u);
    EXPECT_DOUBLE_EQ(at(5000).fileFrame, 1024.0);

    // Starting before the loop: no wrap until its end.
    snapshot.fileStart = 500;
    EXPECT_DOUBLE_EQ(at(599).fileFrame, 1099.0);
    EXPECT_DOUBLE_EQ(at(600).fileFrame, 900.0);
    EXPECT_EQ(at(600).segment, 8u);

    // Holding after 650 frames (not decoded yet): the wrapped position at that frame, then still.
    snapshot.fileFramesInBuffer = 650;
    EXPECT_DOUBLE_EQ(at(1024).fileFrame, 950.0);
    EXPECT_EQ(at(1024).segment, 8u);
}

TEST(PlaybackClock, ReaderNeverSeesAHalfPublishedSnapshot) {
    PlaybackClock clock;
    PlaybackClock::Snapshot seen;
    EXPECT_FALSE(clock.read(seen));

    // Every published snapshot keeps fixed relations between its fields; a torn read breaks them.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        PlaybackClock::Snapshot snapshot;
        for (int64_t i = 1; i <= 200000; ++i) {
            snapshot.fileStart = i * 1024;
            snapshot.bufferFrames = int32_t(i % 1000);
            snapshot.fileFramesInBuffer = int32_t(i % 1000) / 2;
            snapshot.loopFrom = i * 5;
            snapshot.loopTo = i * 7;
            snapshot.segment = uint64_t(i) * 11;
            snapshot.command = uint32_t(i % 4096);
            snapshot.commandSegment = uint64_t(i) * 13;
            snapshot.timeNs = i * 3;
            clock.publish(snapshot);
        }
        done = true;
    });
    int64_t previous = 0;
    int reads = 0;
    while (!done.load() || reads == 0) {
        if (!clock.read(seen))
            continue;
        ++reads;
        const int64_t i = seen.fileStart / 1024;
        ASSERT_EQ(seen.fileStart, i * 1024);
        ASSERT_EQ(seen.bufferFrames, int32_t(i % 1000));
        ASSERT_EQ(seen.fileFramesInBuffer, int32_t(i % 1000) / 2);
        ASSERT_EQ(seen.loopFrom, i * 5);
        ASSERT_EQ(seen.loopTo, i * 7);
        ASSERT_EQ(seen.segment, uint64_t(i) * 11);
        ASSERT_EQ(seen.command, uint32_t(i % 4096));
        ASSERT_EQ(seen.commandSegment, uint64_t(i) * 13);
        ASSERT_EQ(seen.timeNs, i * 3);
        ASSERT_GE(i, previous);
        previous = i;
    }
    writer.join();
    ASSERT_TRUE(clock.read(seen));
    EXPECT_EQ(seen.fileStart, 200000 * 1024);
    clock.reset();
    EXPECT_FALSE(clock.read(seen));
}

namespace {
// Frame i holds left = i, right = i + 0.5 (exact in float for these sizes).
void fillCounting(PcmBuffer& buffer, int64_t from, int64_t to) {
    for (int64_t i = from; i < to; ++i) {
        buffer.writeAt(i)[0] = float(i);
        buffer.writeAt(i)[1] = float(i) + 0.5f;
    }
}
} // namespace

TEST(PcmBuffer, ReadsOnlyWhatWasPublished) {
    PcmBuffer buffer;
    buffer.allocate(100);
    EXPECT_EQ(buffer.capacity(), 100);
    EXPECT_EQ(buffer.available(), 0);
    fillCounting(buffer, 0, 40);
    buffer.publish(30);
    EXPECT_EQ(buffer.available(), 30);

    // Frames before 0 and from the published count on read as silence.
    std::vector<float> frames(2 * 6, -1.0f);
    buffer.copy(27, 6, frames.data());
    EXPECT_EQ(frames, (std::vector<float>{27, 27.5, 28, 28.5, 29, 29.5, 0, 0, 0, 0, 0, 0}));
    buffer.copy(-2, 3, frames.data());
    EXPECT_EQ(std::vector<float>(frames.begin(), frames.begin() + 6),
              (std::vector<float>{0, 0, 0, 0, 0, 0.5}));
    std::fill(frames.begin(), frames.end(), -1.0f);
    buffer.copy(std::numeric_limits<int64_t>::max() - 1, 2, frames.data());
    buffer.copy(std::numeric_limits<int64_t>::min(), 1, frames.data() + 4);
    EXPECT_EQ(std::vector<float>(frames.begin(), frames.begin() + 6), std::vector<float>(6, 0.0f));

    std::vector<float> mono(4, -1.0f);
    buffer.monoBefore(2, 4, mono.data());
    EXPECT_EQ(mono, (std::vector<float>{0, 0, 0.25f, 1.25f}));
    buffer.monoBefore(32, 4, mono.data());
    EXPECT_EQ(mono, (std::vector<float>{28.25f, 29.25f, 0, 0}));

    // Publishing never goes back, nor past the room.
    buffer.publish(10);
    EXPECT_EQ(buffer.available(), 30);
    buffer.publish(1000);
    EXPECT_EQ(buffer.available(), 100);
    buffer.release();
    EXPECT_EQ(buffer.available(), 0);
    EXPECT_EQ(buffer.capacity(), 0);
}

TEST(PcmBuffer, FinishingFillsTheRestWithSilence) {
    PcmBuffer buffer;
    buffer.allocate(50);
    fillCounting(buffer, 0, 20);
    buffer.publish(20);
    buffer.finishWithSilence();
    EXPECT_EQ(buffer.available(), 50);
    std::vector<float> frames(2 * 3, -1.0f);
    buffer.copy(19, 3, frames.data());
    EXPECT_EQ(frames, (std::vector<float>{19, 19.5, 0, 0, 0, 0}));
}

TEST(PcmBuffer, MinMaxPerBucketCountsSilenceAsZero) {
    PcmBuffer buffer;
    buffer.allocate(1000);
    // A mono value going 1, -1, 2, -2, ... with frame index.
    for (int64_t i = 0; i < 1000; ++i) {
        const float value = float(i / 2 + 1) * (i % 2 ? -1.0f : 1.0f);
        buffer.writeAt(i)[0] = value - 0.25f;
        buffer.writeAt(i)[1] = value + 0.25f;
    }
    buffer.publish(600);
    std::vector<float> low(5, -9.0f);
    std::vector<float> high(5, -9.0f);
    // Buckets of 100 from frame -50: the first half-silent, then whole ones, then past the
    // published 600.
    buffer.minMax(-50, 100, 5, low.data(), high.data());
    EXPECT_EQ(low, (std::vector<float>{-25, -75, -125, -175, -225}));
    EXPECT_EQ(high, (std::vector<float>{25, 75, 125, 175, 225}));
    buffer.minMax(550, 100, 3, low.data(), high.data());
    EXPECT_EQ(low[0], -300.0f);
    EXPECT_EQ(high[0], 300.0f);
    EXPECT_EQ(low[1], 0.0f);
    EXPECT_EQ(high[1], 0.0f);
    EXPECT_EQ(high[2], 0.0f);

    // A bucket of all positive values still reaches down to 0 when part of it is silence.
    buffer.minMax(-1, 2, 1, low.data(), high.data());
    EXPECT_EQ(low[0], 0.0f);
    EXPECT_EQ(high[0], 1.0f);
    buffer.minMax(0, 1, 1, low.data(), high.data());
    EXPECT_EQ(low[0], 1.0f);

    // Sizes that do not fit in 64 bits, or no size at all, give silence without reading outside.
    buffer.minMax(std::numeric_limits<int64_t>::max() - 10, std::numeric_limits<int64_t>::max() / 2, 5,
                  low.data(), high.data());
    EXPECT_EQ(low, std::vector<float>(5, 0.0f));
    // The second of these buckets holds the whole file; the third does not fit.
    buffer.minMax(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), 4, low.data(),
                  high.data());
    EXPECT_EQ(high, (std::vector<float>{0, 300, 0, 0, 0}));
    std::fill(high.begin(), high.end(), -9.0f);
    buffer.minMax(0, 0, 2, low.data(), high.data());
    EXPECT_EQ(high[0], 0.0f);
    EXPECT_EQ(high[2], -9.0f);
    buffer.minMax(0, 10, 0, low.data(), high.data());
    EXPECT_EQ(high[2], -9.0f);
}

TEST(PcmBuffer, ReadersSeeCompleteFramesWhileTheWriterFills) {
    PcmBuffer buffer;
    constexpr int64_t total = 200000;
    buffer.allocate(total);
    std::thread writer([&] {
        for (int64_t at = 0; at < total; at += 37) {
            const int64_t end = std::min(at + 37, total);
            fillCounting(buffer, at, end);
            buffer.publish(end);
        }
    });
    std::vector<float> frames(2 * 64);
    int64_t seen = 0;
    while (seen < total) {
        const int64_t available = buffer.available();
        ASSERT_GE(available, seen);
        seen = available;
        const int64_t first = std::max<int64_t>(available - 32, 0);
        buffer.copy(first, 64, frames.data());
        // What was published when this reader looked is there; later frames may be too.
        for (int64_t i = 0; i < 64; ++i) {
            const int64_t index = first + i;
            if (index < available || frames[2 * i] != 0.0f) {
                ASSERT_EQ(frames[2 * i], float(index)) << index;
            }
        }
    }
    writer.join();
}
