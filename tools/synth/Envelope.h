// Attack / decay / sustain / release amplitude curve, evaluated as a pure function of the time
// since note-on and the time the note is held, so a note can be rendered from any offset.
// The attack and release are raised-cosine ramps of at least a few milliseconds and the release
// starts from whatever level the note reached, so a note never starts or stops with a click,
// even when it is released during its attack.
#pragma once

namespace Synth {

class Envelope {
public:
    // attack and release in seconds; decayTime is the time constant (seconds) of the exponential
    // fall from 1 to `sustain` after the attack (0 keeps the level at 1).
    Envelope(double attack, double decayTime, double sustain, double release);

    // Amplitude 0..1 at `t` seconds after note-on for a note held `held` seconds.
    double at(double t, double held) const;
    double release() const { return releaseTime; }

    static constexpr double minimumRamp = 0.003;

private:
    double beforeRelease(double t) const;

    double attackTime;
    double decayTime;
    double sustain;
    double releaseTime;
};

} // namespace Synth
