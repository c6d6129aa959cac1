#include "tools/synth/Limiter.h"

#include "tools/synth/Loudness.h"
#include "tools/synth/Timing.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

namespace Synth {

Limiter::Limiter(double ceilingDb, double lookaheadSeconds, double releaseSeconds)
    : ceilingLinear(fromDecibels(ceilingDb)),
      lookahead(std::max(1, int(std::lround(lookaheadSeconds * sampleRate)))),
      releaseCoefficient(std::exp(-1.0 / (std::max(releaseSeconds, 0.001) * sampleRate))) {}

void Limiter::process(StereoBuffer& signal) const {
    const size_t n = signal.frames();
    const size_t window = size_t(lookahead);
    // Gain each sample needs on its own.
    std::vector<float> needed(n + window, 1.0f);
    for (size_t i = 0; i < n; ++i) {
        const float peak =
            std::max(oversampledPeak(signal.left.data(), n, i), oversampledPeak(signal.right.data(), n, i));
        if (peak > ceilingLinear)
            needed[i] = float(ceilingLinear / peak);
    }
    // Sliding minimum over the last `window` samples, then an instant attack / slow release.
    // Every value in [p, p + window) is at most needed[p], so their average is too: the averaged
    // gain, applied `window - 1` samples earlier, is low enough at every peak p.
    std::deque<size_t> minima;
    std::vector<float> gain(n + window, 1.0f);
    double held = 1.0;
    for (size_t i = 0; i < n + window; ++i) {
        while (!minima.empty() && needed[minima.back()] >= needed[i])
            minima.pop_back();
        minima.push_back(i);
        if (minima.front() + window <= i)
            minima.pop_front();
        const double target = needed[minima.front()];
        held = target < held ? target : target + (held - target) * releaseCoefficient;
        gain[i] = float(held);
    }
    double sum = 0.0;
    for (size_t i = 0; i < n + window; ++i) {
        sum += gain[i];
        if (i >= window)
            sum -= gain[i - window];
        if (i + 1 >= window) {
            const size_t at = i + 1 - window;
            if (at < n) {
                const float g = std::min(1.0f, float(sum / double(window)));
                signal.left[at] *= g;
                signal.right[at] *= g;
            }
        }
    }
}

} // namespace Synth
