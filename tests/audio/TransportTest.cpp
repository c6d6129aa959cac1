// The live player's callback side driven by hand, without a device: which frames each buffer
// plays after a seek, a pause, a resume and at loop wraps (to the sample), the clock the control
// side reads from it, and the fades that keep those jumps from clicking.
#include "audio/Transport.h"
#include "audio/PcmBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace Velmora;

namespace {

// 1000 frames a second, so that a frame is a millisecond.
constexpr int rate = 1000;
constexpr int64_t ms = 1'000'000;

// A file whose frame i reads i on the left and i + 0.5 on the right.
struct CountingFile {
    explicit CountingFile(int64_t frames, int64_t decoded = -1) {
        pcm.allocate(frames);
        for (int64_t i = 0; i < frames; ++i) {
            pcm.writeAt(i)[0] = float(i);
            pcm.writeAt(i)[1] = float(i) + 0.5f;
        }
        pcm.publish(decoded < 0 ? frames : decoded);
    }
    PcmBuffer pcm;
};

// The left channel of one buffer rendered at `nowNs`.
std::vector<float> renderLeft(Transport& transport, int frames, int64_t nowNs) {
    std::vector<float> out(2 * frames, -1.0f);
    transport.renderAt(out.data(), frames, nowNs);
    std::vector<float> left(frames);
    for (int i = 0; i < frames; ++i) {
        left[i] = out[2 * i];
        if (out[2 * i + 1] != 0.0f || out[2 * i] != 0.0f) {
            EXPECT_EQ(out[2 * i + 1], out[2 * i] + 0.5f) << "frame " << i;
        }
    }
    return left;
}

std::vector<float> counting(int64_t from, int64_t count) {
    std::vector<float> values(count);
    for (int64_t i = 0; i < count; ++i)
        values[i] = float(from + i);
    return values;
}

std::vector<float> silence(int count) {
    return std::vector<float>(count, 0.0f);
}

} // namespace

TEST(Transport, PlaysSeeksAndHoldsAtTheEnd) {
    CountingFile file(5000);
    Transport transport(0); // no fades: every frame is the file's own
    transport.attach(&file.pcm, 5000, rate);

    // Paused at 0 until play: silence, and the clock at 0.
    EXPECT_EQ(renderLeft(transport, 100, 0), silence(100));
    EXPECT_EQ(transport.heardSeconds(50 * ms), 0.0);
    transport.play();
    EXPECT_TRUE(transport.isPlaying());
    EXPECT_EQ(transport.heardSeconds(60 * ms), 0.0) << "until the callback takes it";
    EXPECT_EQ(renderLeft(transport, 1024, 100 * ms), counting(0, 1024));
    EXPECT_DOUBLE_EQ(transport.heardSeconds(400 * ms), 0.3);
    // Never ahead of the buffer handed over.
    EXPECT_DOUBLE_EQ(transport.heardSeconds(5000 * ms), 1.024);

    // A seek reads its target at once, and the next buffer starts there.
    transport.seek(2.5);
    EXPECT_EQ(transport.heardSeconds(5001 * ms), 2.5);
    EXPECT_EQ(renderLeft(transport, 1024, 6000 * ms), counting(2500, 1024));
    EXPECT_DOUBLE_EQ(transport.heardSeconds(6010 * ms), 2.51);
    // Backwards, to a position that is not a whole frame: the clock reads the target exactly and
    // never less, although the sound starts at the nearest frame.
    transport.seek(1.0004);
    EXPECT_EQ(transport.heardSeconds(6100 * ms), 1.0004);
    EXPECT_EQ(renderLeft(transport, 10, 7000 * ms), counting(1000, 10));
    EXPECT_EQ(transport.heardSeconds(7000 * ms), 1.0004);
    EXPECT_DOUBLE_EQ(transport.heardSeconds(7005 * ms), 1.005);

    // Outside the file: clamped.
    transport.seek(-3.0);
    EXPECT_EQ(transport.heardSeconds(7006 * ms), 0.0);
    transport.seek(1e9);
    EXPECT_EQ(transport.heardSeconds(7007 * ms), 5.0);
    transport.seek(std::nan(""));
    EXPECT_EQ(transport.heardSeconds(7008 * ms), 0.0);

    // The end: the last frames, then silence, and the position stays at the end.
    transport.seek(4.9);
    std::vector<float> expected = counting(4900, 100);
    expected.resize(1024, 0.0f);
    EXPECT_EQ(renderLeft(transport, 1024, 8000 * ms), expected);
    EXPECT_DOUBLE_EQ(transport.heardSeconds(8500 * ms), 5.0);
    EXPECT_EQ(renderLeft(transport, 1024, 9000 * ms), silence(1024));
    EXPECT_DOUBLE_EQ(transport.heardSeconds(9500 * ms), 5.0);
}

TEST(Transport, PauseHoldsTheHeardPositionAndResumeContinuesFromIt) {
    CountingFile file(5000);
    Transport transport(0);
    transport.attach(&file.pcm, 5000, rate);
    transport.play();
    renderLeft(transport, 1024, 0);
    renderLeft(transport, 1024, 1024 * ms);
    // 300.5 ms into the second buffer.
    transport.pause(1324 * ms + ms / 2);
    EXPECT_FALSE(transport.isPlaying());
    const double held = transport.heardSeconds(1400 * ms);
    EXPECT_DOUBLE_EQ(held, 1.3245);
    // The device buffer already ran on to 2048, but nothing more plays, and the clock holds.
    EXPECT_EQ(renderLeft(transport, 1024, 2048 * ms), silence(1024));
    EXPECT_EQ(renderLeft(transport, 1024, 3072 * ms), silence(1024));
    for (int64_t t : {2100, 3000, 3500, 9000})
        EXPECT_EQ(transport.heardSeconds(t * ms), held);

    // Resume: the sound restarts where the clock stood (the nearest frame), the clock continues
    // from the held value, never below it.
    transport.play();
    EXPECT_EQ(transport.heardSeconds(9100 * ms), held);
    EXPECT_EQ(renderLeft(transport, 1024, 10000 * ms), counting(1325, 1024));
    EXPECT_EQ(transport.heardSeconds(10000 * ms), 1.325);
    EXPECT_DOUBLE_EQ(transport.heardSeconds(10100 * ms), 1.425);

    // Pausing twice, or playing twice, changes nothing.
    transport.pause(10200 * ms);
    transport.pause(10300 * ms);
    EXPECT_DOUBLE_EQ(transport.heardSeconds(10400 * ms), 1.525);
    // A seek while paused moves the held position and stays paused.
    transport.seek(3.0);
    EXPECT_FALSE(transport.isPlaying());
    EXPECT_EQ(transport.heardSeconds(10500 * ms), 3.0);
    EXPECT_EQ(renderLeft(transport, 1024, 11000 * ms), silence(1024));
    transport.play();
    transport.play();
    EXPECT_EQ(renderLeft(transport, 100, 12000 * ms), counting(3000, 100));
}

TEST(Transport, LoopWrapsToTheSampleAndTheClockFollows) {
    CountingFile file(5000);
    Transport transport(0);
    transport.attach(&file.pcm, 5000, rate);
    transport.setLoop(1000, 1600);
    transport.play();
    // Running into the loop from before it: 0..1599, then 1000 again, in one stream.
    std::vector<float> stream;
    for (int buffer = 0; buffer < 4; ++buffer) {
        const auto left = renderLeft(transport, 1024, buffer * 1024 * ms);
        stream.insert(stream.end(), left.begin(), left.end());
    }
    std::vector<float> expected = counting(0, 1600);
    while (expected.size() < stream.size()) {
        const auto lap = counting(1000, 600);
        expected.insert(expected.end(), lap.begin(), lap.end());
    }
    expected.resize(stream.size());
    EXPECT_EQ(stream, expected);

    // The clock inside the last buffer (from 3072) maps through its wraps.
    auto frameAt = [&](int64_t index) { return double(expected[index]) / rate; };
    for (int64_t into : {0, 100, 527, 528, 1000}) {
        SCOPED_TRACE(into);
        EXPECT_DOUBLE_EQ(transport.heardSeconds((3072 + into) * ms), frameAt(3072 + into));
    }

    // A loop shorter than a buffer, entered by a seek: 2000..2099 over and over.
    transport.setLoop(2000, 2100);
    transport.seek(1.95);
    const auto left = renderLeft(transport, 1024, 10000 * ms);
    for (int i = 0; i < 1024; ++i) {
        const float want = i < 150 ? float(1950 + i) : float(2000 + (i - 50) % 100);
        ASSERT_EQ(left[i], want) << i;
    }
    double previous = transport.heardSeconds(10000 * ms);
    int wraps = 0;
    for (int64_t into = 1; into <= 1024; ++into) {
        const double now = transport.heardSeconds((10000 + into) * ms);
        EXPECT_DOUBLE_EQ(now, (into < 150 ? 1950 + into : 2000 + (into - 50) % 100) / double(rate));
        if (now < previous) {
            ++wraps;
            EXPECT_DOUBLE_EQ(now, 2.0);
            EXPECT_DOUBLE_EQ(previous, 2.099);
        }
        previous = now;
    }
    EXPECT_EQ(wraps, 9);

    // A loop set behind the position takes effect at the next buffer; cleared, playback runs on.
    transport.clearLoop();
    transport.seek(4.0);
    renderLeft(transport, 100, 20000 * ms);
    transport.setLoop(500, 700);
    EXPECT_EQ(renderLeft(transport, 250, 21000 * ms)[0], 500.0f);
    EXPECT_DOUBLE_EQ(transport.heardSeconds(21000 * ms), 0.5);
    transport.clearLoop();
    EXPECT_EQ(renderLeft(transport, 300, 22000 * ms), counting(550, 300));
    // Loops outside the file or empty are refused; the clock is not disturbed.
    transport.setLoop(100, 100);
    transport.setLoop(200, 100);
    transport.setLoop(4000, 6000);
    EXPECT_EQ(renderLeft(transport, 100, 23000 * ms), counting(850, 100));
}

TEST(Transport, FramesNotDecodedYetHoldThePosition) {
    CountingFile file(5000, 1500);
    Transport transport(0);
    transport.attach(&file.pcm, 5000, rate);
    transport.play();
    EXPECT_EQ(renderLeft(transport, 1024, 0), counting(0, 1024));
    std::vector<float> expected = counting(1024, 476);
    expected.resize(1024, 0.0f);
    EXPECT_EQ(renderLeft(transport, 1024, 2000 * ms), expected);
    EXPECT_DOUBLE_EQ(transport.heardSeconds(2400 * ms), 1.424);
    EXPECT_DOUBLE_EQ(transport.heardSeconds(2900 * ms), 1.5);
    // Decoding catches up: playback continues where it held.
    file.pcm.publish(5000);
    EXPECT_EQ(renderLeft(transport, 100, 4000 * ms), counting(1500, 100));
    EXPECT_DOUBLE_EQ(transport.heardSeconds(4050 * ms), 1.55);
}

namespace {

// A 50 Hz sine at 0.8 (one period is 882 frames; the steepest step between frames is 0.0057).
constexpr double sineRate = 44100.0;
float sineAt(int64_t frame) {
    return float(0.8 * std::sin(2.0 * 3.14159265358979323846 * 50.0 * double(frame) / sineRate));
}

// Plays the sine through seeks, a pause, a resume and a loop wrap chosen so that each jump would
// step by more than 1.0 without a fade; returns every frame's left sample.
std::vector<float> playThroughJumps(Transport& transport) {
    std::vector<float> stream;
    auto render = [&](int frames) {
        std::vector<float> out(2 * frames);
        transport.renderAt(out.data(), frames, 0);
        for (int i = 0; i < frames; ++i)
            stream.push_back(out[2 * i]);
    };
    // Peaks are at 220 + 882 k, troughs at 661 + 882 k.
    transport.play();
    render(220 + 882);
    // From a peak to a trough.
    transport.seek((661 + 3 * 882) / sineRate);
    render(1024);
    render(882 - 1024 % 882); // back on a trough
    transport.pause(0);
    render(1024);
    transport.seek((220 + 10 * 882) / sineRate); // paused: silent
    render(512);
    transport.play();
    render(1024);
    // The loop: its end frame follows a peak, its start is a trough.
    transport.setLoop(661 + 12 * 882, 221 + 14 * 882);
    render(5 * 1024);
    return stream;
}

double largestStep(const std::vector<float>& stream) {
    double largest = 0.0;
    for (size_t i = 1; i < stream.size(); ++i)
        largest = std::max(largest, double(std::abs(stream[i] - stream[i - 1])));
    return largest;
}

} // namespace

TEST(Transport, FadesKeepJumpsFromClicking) {
    const int64_t frames = 20 * 882;
    PcmBuffer pcm;
    pcm.allocate(frames);
    for (int64_t i = 0; i < frames; ++i)
        pcm.writeAt(i)[0] = pcm.writeAt(i)[1] = sineAt(i);
    pcm.publish(frames);

    Transport faded;
    faded.attach(&pcm, frames, int(sineRate));
    const auto stream = playThroughJumps(faded);
    // The sine's own steepest step plus the crossfade's share of a 1.6 jump over 221 frames.
    EXPECT_LT(largestStep(stream), 0.015);
    // The same jumps with no fade: the scenario does jump.
    Transport abrupt(0);
    abrupt.attach(&pcm, frames, int(sineRate));
    EXPECT_GT(largestStep(playThroughJumps(abrupt)), 1.0);

    // Fades do not move anything: once a fade is over, each frame is the file's own, at the
    // position the abrupt transport plays. The pause falls silent within the fade.
    Transport again;
    again.attach(&pcm, frames, int(sineRate));
    again.play();
    std::vector<float> out(2 * 1024);
    again.renderAt(out.data(), 1024, 0);
    again.seek(5000 / sineRate);
    again.renderAt(out.data(), 1024, 0);
    for (int i = Transport::defaultFadeFrames + 1; i < 1024; ++i)
        ASSERT_EQ(out[2 * i], sineAt(5000 + i)) << i;
    again.pause(0);
    again.renderAt(out.data(), 1024, 0);
    for (int i = Transport::defaultFadeFrames + 1; i < 1024; ++i)
        ASSERT_EQ(out[2 * i], 0.0f) << i;
}
