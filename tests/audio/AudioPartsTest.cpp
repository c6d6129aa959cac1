// The player's building blocks, without a device or a file: spectrum scaling, the clock's
// arithmetic and its hand-over between threads, the decoded-frame ring and the sample history.
#include "audio/FrameRing.h"
#include "audio/PlaybackClock.h"
#include "audio/SampleHistory.h"
#include "audio/Spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
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
    snapshot.outputFrames = 44100;
    snapshot.fileFrames = 44100;
    snapshot.bufferFrames = 1024;
    snapshot.fileFramesInBuffer = 1024;
    snapshot.timeNs = 5'000'000'000;

    auto at = [&](int64_t afterNs) {
        return PlaybackClock::positionAt(snapshot, snapshot.timeNs + afterNs, 44100);
    };
    EXPECT_DOUBLE_EQ(at(0).fileFrame, 44100.0);
    EXPECT_NEAR(at(10'000'000).fileFrame, 44100.0 + 441.0, 1e-6);
    // A late callback holds the position at the end of the buffer rather than running ahead.
    EXPECT_DOUBLE_EQ(at(100'000'000).fileFrame, 44100.0 + 1024.0);
    EXPECT_DOUBLE_EQ(at(100'000'000).outputFrame, 44100.0 + 1024.0);
    // A reading taken just before the callback's time stamp does not go back before it.
    EXPECT_DOUBLE_EQ(at(-1'000'000).fileFrame, 44100.0);

    // The last buffer of the file: 100 frames of music, then silence. The file position stops
    // at its end while the output position keeps going.
    snapshot.fileFramesInBuffer = 100;
    EXPECT_DOUBLE_EQ(at(20'000'000).fileFrame, 44100.0 + 100.0);
    EXPECT_NEAR(at(20'000'000).outputFrame, 44100.0 + 882.0, 1e-6);
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
            snapshot.outputFrames = i * 1024;
            snapshot.fileFrames = i * 512;
            snapshot.bufferFrames = int32_t(i % 1000);
            snapshot.fileFramesInBuffer = int32_t(i % 1000) / 2;
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
        const int64_t i = seen.outputFrames / 1024;
        ASSERT_EQ(seen.outputFrames, i * 1024);
        ASSERT_EQ(seen.fileFrames, i * 512);
        ASSERT_EQ(seen.bufferFrames, int32_t(i % 1000));
        ASSERT_EQ(seen.fileFramesInBuffer, int32_t(i % 1000) / 2);
        ASSERT_EQ(seen.timeNs, i * 3);
        ASSERT_GE(i, previous);
        previous = i;
    }
    writer.join();
    ASSERT_TRUE(clock.read(seen));
    EXPECT_EQ(seen.outputFrames, 200000 * 1024);
    clock.reset();
    EXPECT_FALSE(clock.read(seen));
}

TEST(FrameRing, WrapsAroundAndRespectsCapacity) {
    FrameRing ring(6); // rounded up to 8
    EXPECT_EQ(ring.capacity(), 8u);
    std::vector<float> in(2 * 10);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = float(i);
    EXPECT_EQ(ring.write(in.data(), 10), 8u); // only what fits
    EXPECT_EQ(ring.writable(), 0u);

    std::vector<float> out(2 * 10, -1.0f);
    EXPECT_EQ(ring.read(out.data(), 5), 5u);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 10),
              std::vector<float>(in.begin(), in.begin() + 10));
    // The next write crosses the end of the storage.
    EXPECT_EQ(ring.write(in.data(), 4), 4u);
    EXPECT_EQ(ring.readable(), 7u);
    EXPECT_EQ(ring.read(out.data(), 10), 7u);
    const std::vector<float> expected = {10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 14), expected);
    EXPECT_EQ(ring.read(out.data(), 1), 0u);
}

TEST(FrameRing, CarriesFramesInOrderBetweenThreads) {
    FrameRing ring(64);
    constexpr int total = 200000;
    std::thread producer([&] {
        std::vector<float> chunk(2 * 37);
        int next = 0;
        while (next < total) {
            const int count = std::min(37, total - next);
            for (int i = 0; i < count; ++i)
                chunk[2 * i] = chunk[2 * i + 1] = float(next + i);
            next += int(ring.write(chunk.data(), size_t(count)));
        }
    });
    std::vector<float> chunk(2 * 50);
    int expected = 0;
    while (expected < total) {
        const size_t got = ring.read(chunk.data(), 50);
        for (size_t i = 0; i < got; ++i, ++expected) {
            ASSERT_EQ(chunk[2 * i], float(expected));
            ASSERT_EQ(chunk[2 * i + 1], float(expected));
        }
    }
    producer.join();
}

TEST(SampleHistory, KeepsTheLatestWindowAsMono) {
    SampleHistory history;
    std::vector<float> out(4, -1.0f);
    // Nothing written: a window ending at 0 is all zeros; one ending later is not held yet.
    EXPECT_TRUE(history.read(0, 4, out.data()));
    EXPECT_EQ(out, std::vector<float>(4, 0.0f));
    EXPECT_FALSE(history.read(1, 4, out.data()));

    std::vector<float> stereo(2 * 1000);
    for (int i = 0; i < 1000; ++i) {
        stereo[2 * i] = float(i);
        stereo[2 * i + 1] = float(i) + 1.0f;
    }
    history.append(stereo.data(), 1000);
    ASSERT_TRUE(history.read(2, 4, out.data()));
    EXPECT_EQ(out, (std::vector<float>{0.0f, 0.0f, 0.5f, 1.5f}));
    ASSERT_TRUE(history.read(1000, 4, out.data()));
    EXPECT_EQ(out, (std::vector<float>{996.5f, 997.5f, 998.5f, 999.5f}));

    // Once the writer has gone a whole capacity past a window, that window is gone.
    for (int block = 0; block < 9; ++block)
        history.append(stereo.data(), 1000);
    EXPECT_FALSE(history.read(1000, 4, out.data()));
    EXPECT_TRUE(history.read(10000, 1024, std::vector<float>(1024).data()));
    EXPECT_FALSE(history.read(10000, int(SampleHistory::capacity) + 1, std::vector<float>(9000).data()));
}
