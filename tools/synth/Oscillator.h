// Band-limited oscillator: sine, and sawtooth and square with PolyBLEP correction at each
// discontinuity, which removes most of the aliasing a naive waveform folds back below Nyquist.
// Frequency may change every sample (vibrato, pitch sweeps). No sync, no pulse-width modulation.
#pragma once

namespace Synth {

class Oscillator {
public:
    enum class Shape { Sine, Saw, Square };

    explicit Oscillator(Shape shape = Shape::Saw, double phase = 0.0);

    // Returns the next sample (about -1..1) at `frequency` Hz and advances the phase.
    float next(double frequency);
    double phase() const { return cycle; }

private:
    Shape shape;
    double cycle; // position in the period, 0..1
};

} // namespace Synth
