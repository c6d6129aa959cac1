#include "tools/synth/Loudness.h"

#include "tools/synth/Biquad.h"
#include "tools/synth/Timing.h"

#include <algorithm>
#include <array>
#include <vector>

namespace Synth {

namespace {

// K-weighting: the BS.1770 high-shelf ("head") and high-pass stages, derived from their analogue
// prototypes so they hold at 44.1 kHz and not only at the 48 kHz of the published coefficients.
Biquad kShelf() {
    const double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
    const double k = std::tan(pi * f0 / sampleRate);
    const double vh = std::pow(10.0, gainDb / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    const double a0 = 1.0 + k / q + k * k;
    return Biquad((vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                  2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0);
}

Biquad kHighPass() {
    const double f0 = 38.13547087602444, q = 0.5003270373238773;
    const double k = std::tan(pi * f0 / sampleRate);
    const double a0 = 1.0 + k / q + k * k;
    return Biquad(1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0);
}

// Mean square of the K-weighted channel in 100 ms steps.
std::vector<double> weightedEnergySteps(const std::vector<float>& x, size_t step) {
    Biquad shelf = kShelf();
    Biquad highPass = kHighPass();
    std::vector<double> steps(x.size() / step, 0.0);
    for (size_t s = 0; s < steps.size(); ++s) {
        double sum = 0.0;
        for (size_t i = s * step; i < (s + 1) * step; ++i) {
            const double y = highPass.process(shelf.process(x[i]));
            sum += y * y;
        }
        steps[s] = sum / double(step);
    }
    return steps;
}

double blockLoudness(double energy) {
    return -0.691 + 10.0 * std::log10(std::max(energy, 1e-30));
}

constexpr int halfTaps = 12;
using Phase = std::array<float, 2 * halfTaps>;

// Interpolation taps for the points 1/4, 2/4 and 3/4 of the way from x[i] to x[i + 1]; tap j
// weighs x[i - halfTaps + 1 + j]. Blackman-windowed sinc, normalised to unity gain at DC.
const std::array<Phase, 3>& interpolationTaps() {
    static const std::array<Phase, 3> taps = [] {
        std::array<Phase, 3> t{};
        for (int p = 0; p < 3; ++p) {
            const double frac = (p + 1) / 4.0;
            double sum = 0.0;
            for (int j = 0; j < 2 * halfTaps; ++j) {
                const double u = frac - double(j - halfTaps + 1);
                const double sinc = std::sin(pi * u) / (pi * u);
                const double w =
                    0.42 + 0.5 * std::cos(pi * u / halfTaps) + 0.08 * std::cos(2.0 * pi * u / halfTaps);
                t[p][j] = float(sinc * w);
                sum += sinc * w;
            }
            for (float& c : t[p])
                c = float(c / sum);
        }
        return t;
    }();
    return taps;
}

} // namespace

double integratedLoudness(const StereoBuffer& signal) {
    const size_t step = sampleRate / 10;
    const std::vector<double> left = weightedEnergySteps(signal.left, step);
    const std::vector<double> right = weightedEnergySteps(signal.right, step);
    // 400 ms blocks = four consecutive 100 ms steps, overlapping by three.
    std::vector<double> blocks;
    for (size_t s = 0; s + 4 <= left.size(); ++s) {
        double energy = 0.0;
        for (size_t k = s; k < s + 4; ++k)
            energy += (left[k] + right[k]) / 4.0;
        if (blockLoudness(energy) > -70.0)
            blocks.push_back(energy);
    }
    if (blocks.empty())
        return -200.0;
    double mean = 0.0;
    for (double e : blocks)
        mean += e;
    const double relativeGate = blockLoudness(mean / double(blocks.size())) - 10.0;
    double gated = 0.0;
    size_t count = 0;
    for (double e : blocks) {
        if (blockLoudness(e) > relativeGate) {
            gated += e;
            ++count;
        }
    }
    return blockLoudness(gated / double(count));
}

float oversampledPeak(const float* x, size_t count, size_t i) {
    float peak = i < count ? std::fabs(x[i]) : 0.0f;
    const bool inside = i + 1 >= size_t(halfTaps) && i + size_t(halfTaps) < count;
    for (const Phase& taps : interpolationTaps()) {
        float v = 0.0f;
        for (int j = 0; j < 2 * halfTaps; ++j) {
            const long long index = (long long)i - halfTaps + 1 + j;
            if (inside || (index >= 0 && index < (long long)count))
                v += taps[j] * x[index];
        }
        peak = std::max(peak, std::fabs(v));
    }
    return peak;
}

double truePeak(const StereoBuffer& signal) {
    float peak = 0.0f;
    for (const std::vector<float>* channel : {&signal.left, &signal.right})
        for (size_t i = 0; i < channel->size(); ++i)
            peak = std::max(peak, oversampledPeak(channel->data(), channel->size(), i));
    return peak;
}

} // namespace Synth
