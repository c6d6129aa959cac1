#include "tools/synth/Biquad.h"

#include "tools/synth/Timing.h"

#include <cmath>

namespace Synth {

Biquad Biquad::highPass(double hz) {
    const double k = std::tan(pi * hz / sampleRate);
    const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
    return Biquad(norm, -2.0 * norm, norm, 2.0 * (k * k - 1.0) * norm,
                  (1.0 - std::sqrt(2.0) * k + k * k) * norm);
}

} // namespace Synth
