// Look-ahead true-peak limiter for a whole stereo buffer (both channels share one gain).
// The gain needed at each sample comes from 4x-oversampled peaks; a sliding minimum over the
// look-ahead window, a one-pole release and a moving average of the same window make a smooth
// gain curve that is already down when a peak arrives, so the output never exceeds the ceiling
// (within the accuracy of the oversampled estimate) and never clips. Offline only: it reads ahead
// in the buffer instead of delaying the signal.
#pragma once

#include "tools/synth/StereoBuffer.h"

namespace Synth {

class Limiter {
public:
    explicit Limiter(double ceilingDb, double lookaheadSeconds = 0.004, double releaseSeconds = 0.15);

    void process(StereoBuffer& signal) const;
    double ceiling() const { return ceilingLinear; }

private:
    double ceilingLinear;
    int lookahead;
    double releaseCoefficient;
};

} // namespace Synth
