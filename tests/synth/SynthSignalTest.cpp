// The synthesizer's building blocks on short signals: band-limited oscillators, click-free
// envelopes and voices, the loudness meter against reference levels, the limiter's ceiling and
// the DC blocker.
#include "tools/synth/Envelope.h"
#include "tools/synth/Instruments.h"
#include "tools/synth/Limiter.h"
#include "tools/synth/Loudness.h"
#include "tools/synth/Mastering.h"
#include "tools/synth/Oscillator.h"
#include "tools/synth/Timing.h"

#include <gtest/gtest.h>
#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

using namespace Synth;

namespace {

// Shares of a one-second signal's energy that lie away from the harmonics of `fundamental` Hz,
// over the whole band and below 10 kHz: with 1 Hz bins, everything more than a few bins from
// k * fundamental is aliasing.
struct Aliasing {
    double whole;
    double belowTenKilohertz;
};

Aliasing aliasing(const std::vector<float>& signal, int fundamental) {
    const int n = sampleRate;
    kiss_fftr_cfg plan = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    std::vector<float> windowed(n);
    for (int i = 0; i < n; ++i)
        windowed[i] = signal[i] * float(0.5 - 0.5 * std::cos(2.0 * pi * i / n));
    std::vector<kiss_fft_cpx> bins(n / 2 + 1);
    kiss_fftr(plan, windowed.data(), bins.data());
    kiss_fftr_free(plan);
    double total = 0.0, aliased = 0.0, aliasedLow = 0.0;
    for (int k = 1; k <= n / 2; ++k) {
        const double power = double(bins[k].r) * bins[k].r + double(bins[k].i) * bins[k].i;
        const int offHarmonic = std::min(k % fundamental, fundamental - k % fundamental);
        total += power;
        if (offHarmonic > 3) {
            aliased += power;
            if (k < 10000)
                aliasedLow += power;
        }
    }
    return {aliased / total, aliasedLow / total};
}

std::vector<float> oscillate(Oscillator::Shape shape, double frequency) {
    Oscillator oscillator(shape, 0.1);
    std::vector<float> out(sampleRate);
    for (float& x : out)
        x = oscillator.next(frequency);
    return out;
}

// A stereo sine with 256-sample raised-cosine fades at both ends (a hard edge would overshoot
// between samples).
StereoBuffer stereoSine(double frequency, double amplitude, double seconds, double phase = 0.0) {
    StereoBuffer buffer{size_t(seconds * sampleRate)};
    const size_t n = buffer.frames(), fade = 256;
    for (size_t i = 0; i < n; ++i) {
        const size_t edge = std::min(i, n - 1 - i);
        const double ramp = edge < fade ? 0.5 - 0.5 * std::cos(pi * double(edge) / fade) : 1.0;
        buffer.left[i] = buffer.right[i] =
            float(ramp * amplitude * std::sin(2.0 * pi * frequency * double(i) / sampleRate + phase));
    }
    return buffer;
}

StereoBuffer concatenate(std::initializer_list<StereoBuffer> parts) {
    StereoBuffer out;
    for (const StereoBuffer& p : parts) {
        out.left.insert(out.left.end(), p.left.begin(), p.left.end());
        out.right.insert(out.right.end(), p.right.begin(), p.right.end());
    }
    return out;
}

} // namespace

TEST(SynthOscillator, SawAndSquareAliasFarLessThanANaiveWaveform) {
    // A high note: the 7th harmonic of 3520 Hz already folds back from above Nyquist.
    const int frequency = 3520;
    std::vector<float> naive(sampleRate);
    for (int i = 0; i < sampleRate; ++i) {
        const double phase = std::fmod(0.1 + double(frequency) * i / sampleRate, 1.0);
        naive[i] = float(2.0 * phase - 1.0);
    }
    const Aliasing naiveAliasing = aliasing(naive, frequency);
    EXPECT_GT(naiveAliasing.belowTenKilohertz, 1e-2); // the measure sees aliasing where there is some
    for (Oscillator::Shape shape : {Oscillator::Shape::Saw, Oscillator::Shape::Square}) {
        const Aliasing a = aliasing(oscillate(shape, frequency), frequency);
        // What is left folds back near Nyquist, where the voices' filters take it out; hardly
        // anything lands in the band below 10 kHz.
        EXPECT_LT(a.whole, naiveAliasing.whole / 20.0);
        EXPECT_LT(a.belowTenKilohertz, 1e-4);
        EXPECT_LT(a.belowTenKilohertz, naiveAliasing.belowTenKilohertz / 300.0);
    }
    EXPECT_LT(aliasing(oscillate(Oscillator::Shape::Sine, frequency), frequency).whole, 1e-6);

    // Peak level stays sane even far above the range the voices use.
    for (float x : oscillate(Oscillator::Shape::Saw, 15000.0))
        ASSERT_LE(std::fabs(x), 1.6f);
}

TEST(SynthEnvelope, StartsAndEndsAtZeroWithoutJumps) {
    const Envelope envelopes[] = {Envelope(1.6, 0.0, 1.0, 2.2), Envelope(0.004, 0.28, 0.0, 0.08),
                                  Envelope(0.0, 0.0, 1.0, 0.0), Envelope(0.05, 0.5, 0.3, 0.01)};
    for (const Envelope& e : envelopes) {
        // Held for nothing, released during the attack, during the decay and long after.
        for (double held : {0.0, 0.001, 0.02, 0.3, 3.0}) {
            EXPECT_EQ(e.at(0.0, held), 0.0);
            EXPECT_EQ(e.at(held + e.release() + 1e-6, held), 0.0);
            double previous = 0.0, largestStep = 0.0;
            const int samples = int((held + e.release()) * sampleRate) + 10;
            for (int i = 1; i <= samples; ++i) {
                const double v = e.at(double(i) / sampleRate, held);
                ASSERT_GE(v, 0.0);
                ASSERT_LE(v, 1.0);
                largestStep = std::max(largestStep, std::fabs(v - previous));
                previous = v;
            }
            // The fastest ramp allowed (3 ms raised cosine) moves at most pi/2 / 132 per sample.
            EXPECT_LT(largestStep, 0.012) << "held " << held;
        }
    }
}

TEST(SynthVoices, NotesFadeInAndOutWithoutClicks) {
    const int64_t count = 6 * sampleRate;
    using Render = std::function<void(const Note&, const Target&)>;
    const std::pair<const char*, Render> voices[] = {
        {"pad", [](const Note& n, const Target& t) { padNote(n, 1, t); }},
        {"bass", [](const Note& n, const Target& t) { bassNote(n, 2, t); }},
        {"pluck", [](const Note& n, const Target& t) { pluckNote(n, 3, t); }},
        {"bell", [](const Note& n, const Target& t) { bellNote(n, t); }},
        {"kick", [](const Note& n, const Target& t) { kickNote(n, true, t); }},
        {"impact", [](const Note& n, const Target& t) { impactNote(n, 4, t); }},
    };
    for (const auto& [name, render] : voices) {
        for (double length : {0.01, 2.0}) {
            std::vector<float> left(count, 0.0f), right(count, 0.0f);
            Note note;
            note.beat = 1.0;
            note.length = length;
            note.pitch = 50.0;
            note.tone = 3000.0f;
            render(note, Target{left.data(), right.data(), 0, count});
            const int64_t start = beatToSample(1.0);
            float loudest = 0.0f;
            for (int64_t i = 0; i < count; ++i) {
                if (i < start) {
                    ASSERT_EQ(left[i], 0.0f) << name;
                }
                loudest = std::max(loudest, std::fabs(left[i]) + std::fabs(right[i]));
            }
            EXPECT_GT(loudest, length > 1.0 ? 0.01f : 0.0f) << name;
            // The first samples are a small fraction of the note's level, and so are the last
            // ones before the voice falls silent.
            EXPECT_LT(std::fabs(left[start]) + std::fabs(left[start + 1]), 0.02f * loudest) << name;
            int64_t last = count - 1;
            while (last > start && left[last] == 0.0f && right[last] == 0.0f)
                --last;
            EXPECT_LT(last, count - sampleRate) << name << " never ends";
            EXPECT_LT(std::fabs(left[last]) + std::fabs(right[last]), 0.02f * loudest) << name;
        }
    }
}

TEST(SynthVoices, ANoteRendersTheSameInAnyWindow) {
    // Rendering a window that starts inside a note gives the same samples as the full render.
    const int64_t count = 3 * sampleRate, offset = sampleRate + 123;
    std::vector<float> fullLeft(count, 0.0f), fullRight(count, 0.0f);
    std::vector<float> partLeft(count - offset, 0.0f), partRight(count - offset, 0.0f);
    Note note;
    note.length = 4.0;
    note.pitch = 57.0;
    padNote(note, 42, Target{fullLeft.data(), fullRight.data(), 0, count});
    padNote(note, 42, Target{partLeft.data(), partRight.data(), offset, count - offset});
    for (int64_t i = 0; i < count - offset; ++i) {
        ASSERT_EQ(partLeft[i], fullLeft[i + offset]);
        ASSERT_EQ(partRight[i], fullRight[i + offset]);
    }
}

TEST(SynthLoudness, MeasuresReferenceLevelsAndTruePeaks) {
    // Stereo 1 kHz sine at -23 dBFS reads -23 LUFS; silence around it is gated away, and so are
    // quieter passages more than 10 LU down.
    const double quiet = fromDecibels(-36.0), reference = fromDecibels(-23.0);
    EXPECT_NEAR(integratedLoudness(stereoSine(1000.0, reference, 20.0)), -23.0, 0.1);
    EXPECT_NEAR(integratedLoudness(
                    concatenate({StereoBuffer{size_t(10 * sampleRate)}, stereoSine(1000.0, reference, 20.0),
                                 StereoBuffer{size_t(10 * sampleRate)}})),
                -23.0, 0.1);
    EXPECT_NEAR(
        integratedLoudness(concatenate({stereoSine(1000.0, quiet, 10.0), stereoSine(1000.0, reference, 60.0),
                                        stereoSine(1000.0, quiet, 10.0)})),
        -23.0, 0.1);
    EXPECT_LT(integratedLoudness(StereoBuffer{size_t(sampleRate)}), -100.0);
    // K-weighting: a 100 Hz tone reads lower than a 1 kHz tone of the same level.
    EXPECT_LT(integratedLoudness(stereoSine(100.0, reference, 5.0)), -23.5);

    // A tone at a quarter of the rate sampled 45 degrees off its crests: samples at 0.707, true
    // peak 1.
    const StereoBuffer between = stereoSine(sampleRate / 4.0, 1.0, 0.5, pi / 4.0);
    EXPECT_NEAR(*std::max_element(between.left.begin(), between.left.end()), std::sqrt(0.5), 1e-4);
    EXPECT_NEAR(toDecibels(truePeak(between)), 0.0, 0.1);
}

TEST(SynthMastering, LimiterHoldsTheCeilingAndLeavesQuietPassagesUntouched) {
    const double ceilingDb = -1.0;
    // Quiet tone, a loud burst far over full scale, quiet tone again.
    StereoBuffer signal =
        concatenate({stereoSine(440.0, 0.3, 1.0), stereoSine(440.0, 2.5, 0.2), stereoSine(440.0, 0.3, 2.0)});
    const StereoBuffer original = signal;
    Limiter(ceilingDb).process(signal);
    EXPECT_LE(toDecibels(truePeak(signal)), ceilingDb + 0.05);
    // Full gain well before the look-ahead reaches the burst and after the release has recovered.
    for (size_t i = 0; i < size_t(0.9 * sampleRate); ++i)
        ASSERT_EQ(signal.left[i], original.left[i]);
    for (size_t i = size_t(2.6 * sampleRate); i < signal.frames(); ++i)
        ASSERT_NEAR(signal.left[i], original.left[i], 1e-3);
    // The burst is held near the ceiling, not squashed far below it.
    float burstPeak = 0.0f;
    for (size_t i = size_t(1.05 * sampleRate); i < size_t(1.15 * sampleRate); ++i)
        burstPeak = std::max(burstPeak, std::fabs(signal.left[i]));
    EXPECT_GT(toDecibels(burstPeak), ceilingDb - 0.6);

    // Peaks that lie only between samples are caught too.
    StereoBuffer between = stereoSine(sampleRate / 4.0, 1.0, 0.5, pi / 4.0);
    Limiter(ceilingDb).process(between);
    EXPECT_LE(toDecibels(truePeak(between)), ceilingDb + 0.05);
}

TEST(SynthMastering, RemovesDcAndNormalisesLoudness) {
    StereoBuffer signal = stereoSine(220.0, 0.2, 4.0);
    for (size_t i = 0; i < signal.frames(); ++i) {
        signal.left[i] += 0.1f;
        signal.right[i] -= 0.05f;
    }
    removeDc(signal);
    double left = 0.0, right = 0.0;
    const size_t from = 2 * sampleRate;
    for (size_t i = from; i < signal.frames(); ++i) {
        left += signal.left[i];
        right += signal.right[i];
    }
    EXPECT_LT(std::fabs(left / double(signal.frames() - from)), 1e-4);
    EXPECT_LT(std::fabs(right / double(signal.frames() - from)), 1e-4);

    // A peaky signal, raised so far that its spikes must be limited, lands on the target loudness
    // under the ceiling.
    StereoBuffer loud = stereoSine(330.0, 0.3, 8.0);
    for (size_t i = 0; i < loud.frames(); i += sampleRate / 3)
        loud.left[i] = loud.right[i] = 1.0f;
    const MasterFigures figures = master(loud, -9.0, -1.5);
    EXPECT_GT(figures.gainDb, 1.0);
    EXPECT_NEAR(figures.loudness, -9.0, 0.1);
    EXPECT_NEAR(integratedLoudness(loud), figures.loudness, 1e-9);
    EXPECT_LE(toDecibels(truePeak(loud)), -1.45);

    // Dithered 16-bit output: silence stays digital silence, full scale does not wrap.
    StereoBuffer edges{4};
    edges.left = {0.0f, 1.2f, -1.2f, 0.5f};
    edges.right = {0.0f, 0.0f, 0.0f, -0.5f};
    const std::vector<int16_t> pcm = toPcm16(edges, 7);
    EXPECT_EQ(pcm[0], 0);
    EXPECT_EQ(pcm[1], 0);
    EXPECT_EQ(pcm[2], 32767);
    EXPECT_EQ(pcm[4], -32768);
    EXPECT_NEAR(pcm[6], 16384, 2);
    EXPECT_NEAR(pcm[7], -16384, 2);
}
