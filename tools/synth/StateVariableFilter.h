// Trapezoidal (zero-delay feedback) state-variable filter: lowpass, bandpass and highpass of one
// input at once. It stays stable and quiet while its cutoff is swept every few samples, which is
// what the pads and plucks need.
#pragma once

namespace Synth {

class StateVariableFilter {
public:
    struct Outputs {
        float low;
        float band;
        float high;
    };

    StateVariableFilter() { setCutoff(1000.0, 0.7071); }

    // Cutoff in Hz (clamped to 10 Hz .. 0.45 of the sample rate) and quality factor Q.
    void setCutoff(double hz, double q);
    Outputs process(float in);
    float lowpass(float in) { return process(in).low; }

private:
    double g = 0, k = 0, a1 = 0, a2 = 0, a3 = 0;
    double ic1 = 0, ic2 = 0;
};

} // namespace Synth
