#include "tools/synth/Envelope.h"

#include "tools/synth/Timing.h"

#include <algorithm>
#include <cmath>

namespace Synth {

Envelope::Envelope(double attack, double decayTime, double sustain, double release)
    : attackTime(std::max(attack, minimumRamp)), decayTime(std::max(decayTime, 0.0)),
      sustain(std::clamp(sustain, 0.0, 1.0)), releaseTime(std::max(release, minimumRamp)) {}

double Envelope::beforeRelease(double t) const {
    const double ramp = t < attackTime ? 0.5 - 0.5 * std::cos(pi * t / attackTime) : 1.0;
    if (decayTime <= 0.0)
        return ramp;
    // The decay runs from note-on, under the attack ramp: a continuous curve with no corner.
    return ramp * (sustain + (1.0 - sustain) * std::exp(-t / decayTime));
}

double Envelope::at(double t, double held) const {
    if (t <= 0.0)
        return 0.0;
    if (t < held)
        return beforeRelease(t);
    const double x = (t - held) / releaseTime;
    if (x >= 1.0)
        return 0.0;
    return beforeRelease(std::max(held, 0.0)) * (0.5 + 0.5 * std::cos(pi * x));
}

} // namespace Synth
