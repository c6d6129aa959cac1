// Filters and effects on impulses and tones: the state-variable filter's responses and its
// stability while swept, the ping-pong echo's timing and sides, and the reverb's decay.
#include "tools/synth/PingPongDelay.h"
#include "tools/synth/Reverb.h"
#include "tools/synth/StateVariableFilter.h"
#include "tools/synth/Timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace Synth;

namespace {

// RMS of the filter's output for a sine over the last half of one second.
double filteredLevel(double frequency, double cutoff, int output) {
    StateVariableFilter filter;
    filter.setCutoff(cutoff, 0.7071);
    double sum = 0.0;
    for (int i = 0; i < sampleRate; ++i) {
        const auto out = filter.process(float(std::sin(2.0 * pi * frequency * i / sampleRate)));
        const float y = output == 0 ? out.low : output == 1 ? out.band : out.high;
        if (i >= sampleRate / 2)
            sum += double(y) * y;
    }
    return std::sqrt(sum / (sampleRate / 2)) * std::sqrt(2.0);
}

} // namespace

TEST(SynthFilter, PassesAndStopsTheRightBandsAndStaysStableWhenSwept) {
    EXPECT_NEAR(filteredLevel(100.0, 1000.0, 0), 1.0, 0.02);  // low-pass passes the bass
    EXPECT_LT(filteredLevel(8000.0, 1000.0, 0), 0.02);        // and takes 12 dB/octave off the top
    EXPECT_NEAR(filteredLevel(8000.0, 1000.0, 2), 1.0, 0.02); // high-pass the reverse
    EXPECT_LT(filteredLevel(100.0, 1000.0, 2), 0.02);
    EXPECT_NEAR(filteredLevel(1000.0, 1000.0, 0), std::sqrt(0.5), 0.02); // -3 dB at the cutoff
    // Out-of-range cutoffs are clamped, not turned into NaNs.
    EXPECT_TRUE(std::isfinite(filteredLevel(1000.0, 1e9, 0)));
    EXPECT_TRUE(std::isfinite(filteredLevel(1000.0, -5.0, 1)));

    // Resonant, and its cutoff jumping between extremes every 16 samples: the output stays bounded.
    StateVariableFilter filter;
    float loudest = 0.0f;
    for (int i = 0; i < sampleRate; ++i) {
        if (i % 16 == 0)
            filter.setCutoff((i / 16) % 2 ? 12000.0 : 40.0, 4.0);
        const float y = filter.lowpass(i % 100 < 50 ? 1.0f : -1.0f);
        ASSERT_TRUE(std::isfinite(y));
        loudest = std::max(loudest, std::fabs(y));
    }
    EXPECT_LT(loudest, 10.0f);
}

TEST(SynthEffects, EchoesBounceLeftThenRightAndDieAway) {
    const size_t delay = 1000, count = 20 * delay;
    std::vector<float> send(count, 0.0f), left(count, 0.0f), right(count, 0.0f);
    send[0] = 1.0f;
    PingPongDelay echo(delay, 0.5f, 20000.0);
    echo.process(send.data(), left.data(), right.data(), count);
    auto peakAround = [](const std::vector<float>& x, size_t at) {
        float peak = 0.0f;
        for (size_t i = at; i < at + 20; ++i)
            peak = std::max(peak, std::fabs(x[i]));
        return peak;
    };
    // Nothing before the first repeat; then left, right, left... each quieter than the last.
    for (size_t i = 0; i < delay; ++i) {
        ASSERT_EQ(left[i], 0.0f);
        ASSERT_EQ(right[i], 0.0f);
    }
    EXPECT_GT(peakAround(left, delay), 0.9f);
    EXPECT_LT(peakAround(right, delay), 1e-6f);
    EXPECT_GT(peakAround(right, 2 * delay), 0.3f);
    EXPECT_LT(peakAround(left, 2 * delay), 1e-6f);
    EXPECT_LT(peakAround(left, 3 * delay), peakAround(right, 2 * delay));
    EXPECT_LT(peakAround(right, 18 * delay) + peakAround(left, 19 * delay), 1e-3f);
}

TEST(SynthEffects, ReverbTailIsWideAndDecays) {
    const size_t count = 8 * sampleRate;
    std::vector<float> send(count, 0.0f), left(count, 0.0f), right(count, 0.0f);
    send[0] = 1.0f;
    Reverb reverb(0.86, 0.5, 1.0);
    reverb.process(send.data(), left.data(), right.data(), count);
    auto energy = [&](size_t from, size_t to) {
        double sum = 0.0, difference = 0.0;
        for (size_t i = from; i < to; ++i) {
            sum += double(left[i]) * left[i] + double(right[i]) * right[i];
            difference += double(left[i] - right[i]) * (left[i] - right[i]);
        }
        return std::make_pair(sum, difference);
    };
    const auto [early, earlyDifference] = energy(0, sampleRate / 2);
    const auto [late, lateDifference] = energy(6 * sampleRate, 8 * sampleRate);
    EXPECT_GT(early, 0.0);
    EXPECT_GT(earlyDifference, 0.2 * early); // the channels differ: a stereo tail, not mono
    EXPECT_LT(late, early * 1e-6);           // down by more than 60 dB after six seconds
    // Nothing arrives before the shortest comb has gone round once.
    for (size_t i = 0; i < 200; ++i)
        ASSERT_EQ(left[i], 0.0f);
}
