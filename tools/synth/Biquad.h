// Direct-form biquad in double precision, for the fixed filters of measurement and mastering
// (K-weighting, the DC-blocking high-pass). Coefficients are normalised (a0 = 1).
#pragma once

namespace Synth {

class Biquad {
public:
    Biquad(double b0, double b1, double b2, double a1, double a2) : b0(b0), b1(b1), b2(b2), a1(a1), a2(a2) {}

    // Second-order Butterworth high-pass at `hz`.
    static Biquad highPass(double hz);

    double process(double x) {
        const double y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }

private:
    double b0, b1, b2, a1, a2;
    double s1 = 0.0, s2 = 0.0;
};

} // namespace Synth
