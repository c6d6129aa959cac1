#include "tools/synth/StateVariableFilter.h"

#include "tools/synth/Timing.h"

#include <algorithm>
#include <cmath>

namespace Synth {

void StateVariableFilter::setCutoff(double hz, double q) {
    const double fc = std::clamp(hz, 10.0, 0.45 * sampleRate);
    g = std::tan(pi * fc / sampleRate);
    k = 1.0 / std::max(q, 0.05);
    a1 = 1.0 / (1.0 + g * (g + k));
    a2 = g * a1;
    a3 = g * a2;
}

StateVariableFilter::Outputs StateVariableFilter::process(float in) {
    const double v3 = in - ic2;
    const double v1 = a1 * ic1 + a2 * v3;
    const double v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2.0 * v1 - ic1;
    ic2 = 2.0 * v2 - ic2;
    return {float(v2), float(v1), float(in - k * v1 - v2)};
}

} // namespace Synth
