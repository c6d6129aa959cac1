#include "tools/synth/Oscillator.h"

#include "tools/synth/Timing.h"

#include <algorithm>
#include <cmath>

namespace Synth {

namespace {

// Two-sample polynomial approximation of the band-limited step residual, for a discontinuity at
// phase 0 of a waveform advancing `dt` per sample.
double polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

} // namespace

Oscillator::Oscillator(Shape shape, double phase) : shape(shape), cycle(phase - std::floor(phase)) {}

float Oscillator::next(double frequency) {
    // Above a quarter of the rate the correction regions would overlap; nothing here plays so high.
    const double dt = std::clamp(frequency / sampleRate, 0.0, 0.25);
    double out = 0.0;
    switch (shape) {
    case Shape::Sine:
        out = std::sin(2.0 * pi * cycle);
        break;
    case Shape::Saw:
        out = 2.0 * cycle - 1.0 - polyBlep(cycle, dt);
        break;
    case Shape::Square: {
        double half = cycle + 0.5;
        if (half >= 1.0)
            half -= 1.0;
        out = (cycle < 0.5 ? 1.0 : -1.0) + polyBlep(cycle, dt) - polyBlep(half, dt);
        break;
    }
    }
    cycle += dt;
    if (cycle >= 1.0)
        cycle -= 1.0;
    return float(out);
}

} // namespace Synth
