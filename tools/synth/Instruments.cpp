#include "tools/synth/Instruments.h"

#include "tools/synth/Envelope.h"
#include "tools/synth/Oscillator.h"
#include "tools/synth/Random.h"
#include "tools/synth/StateVariableFilter.h"
#include "tools/synth/Timing.h"

#include <algorithm>
#include <cmath>

namespace Synth {

namespace {

struct Frame {
    float left = 0.0f;
    float right = 0.0f;
};

// Constant-power pan.
Frame panned(float x, float pan) {
    const double angle = (std::clamp(pan, -1.0f, 1.0f) + 1.0) * pi / 4.0;
    return {float(x * std::cos(angle)), float(x * std::sin(angle))};
}

double centsToRatio(double cents) {
    return std::pow(2.0, cents / 1200.0);
}

// Runs `voice(t, held)` for every sample from the note's start until its release has ended or
// the window ends, adding the samples that fall inside the window.
template <class Voice>
void play(double beat, double heldBeats, double release, const Target& target, Voice&& voice) {
    const int64_t start = beatToSample(beat);
    const double held = heldBeats * secondsPerBeat;
    const int64_t end = start + int64_t(std::ceil((held + release) * sampleRate));
    const int64_t last = std::min(end, target.first + target.count);
    if (end <= target.first || start >= last)
        return;
    for (int64_t s = start; s < last; ++s) {
        const Frame f = voice(double(s - start) / sampleRate, held);
        if (s >= target.first) {
            target.left[s - target.first] += f.left;
            target.right[s - target.first] += f.right;
        }
    }
}

} // namespace

void padNote(const Note& note, uint64_t seed, const Target& target) {
    static const Envelope envelope(1.6, 0.0, 1.0, 2.2);
    Random random(seed);
    const double base = midiToHz(note.pitch);
    const double detune[3] = {-8.0, 0.5, 7.5};
    const float pans[3] = {-0.8f, 0.0f, 0.8f};
    Oscillator saws[3];
    double ratio[3];
    for (int i = 0; i < 3; ++i) {
        saws[i] = Oscillator(Oscillator::Shape::Saw, random.uniform());
        ratio[i] = centsToRatio(detune[i] + 1.5 * random.bipolar());
    }
    const double driftRate = 0.12 + 0.1 * random.uniform(), driftPhase = random.uniform();
    const float gain = 0.14f * note.velocity;
    play(note.beat, note.length, envelope.release(), target, [&](double t, double held) {
        // Slow drift of about +-3 cents; linear in the ratio is exact enough at this depth.
        const double drift = 1.0 + 0.0017 * std::sin(2.0 * pi * (driftRate * t + driftPhase));
        const float a = float(envelope.at(t, held)) * gain;
        Frame out;
        for (int i = 0; i < 3; ++i) {
            const Frame f = panned(saws[i].next(base * ratio[i] * drift) * a, pans[i] + note.pan);
            out.left += f.left;
            out.right += f.right;
        }
        return out;
    });
}

void bassNote(const Note& note, uint64_t seed, const Target& target) {
    static const Envelope envelope(0.05, 0.0, 1.0, 0.35);
    Random random(seed);
    const double frequency = midiToHz(note.pitch);
    Oscillator sine(Oscillator::Shape::Sine, 0.0);
    Oscillator saw(Oscillator::Shape::Saw, random.uniform());
    StateVariableFilter filter;
    filter.setCutoff(note.tone, 0.9);
    play(note.beat, note.length, envelope.release(), target, [&](double t, double held) {
        const double body = sine.next(frequency) + 0.45 * filter.lowpass(saw.next(frequency * 1.003));
        const float x = float(std::tanh(1.3 * body) * envelope.at(t, held) * 0.28 * note.velocity);
        return Frame{x, x};
    });
}

void pluckNote(const Note& note, uint64_t seed, const Target& target) {
    static const Envelope envelope(0.004, 0.28, 0.0, 0.08);
    Random random(seed);
    const double frequency = midiToHz(note.pitch);
    Oscillator saw(Oscillator::Shape::Saw, random.uniform());
    Oscillator square(Oscillator::Shape::Square, random.uniform());
    StateVariableFilter filter;
    int tick = 0;
    const float gain = 0.25f * note.velocity;
    play(note.beat, note.length, envelope.release(), target, [&](double t, double held) {
        if (tick++ % 16 == 0)
            filter.setCutoff(note.tone * (1.0 + 3.0 * std::exp(-t / 0.07)), 1.4);
        const float raw = 0.6f * saw.next(frequency) + 0.4f * square.next(frequency * 0.998);
        return panned(filter.lowpass(raw) * float(envelope.at(t, held)) * gain, note.pan);
    });
}

void bellNote(const Note& note, const Target& target) {
    static const Envelope envelope(0.004, 1.9, 0.0, 0.9);
    const double carrier = midiToHz(note.pitch);
    double phaseCarrier = 0.0, phaseModulator = 0.0, phasePartial = 0.0;
    const float gain = 0.28f * note.velocity;
    play(note.beat, note.length, envelope.release(), target, [&](double t, double held) {
        const double index = 0.4 + 2.2 * std::exp(-t / 0.35);
        const double modulator = std::sin(2.0 * pi * phaseModulator);
        const double partial = 0.18 * std::exp(-t / 0.3) * std::sin(2.0 * pi * phasePartial);
        const double x = std::sin(2.0 * pi * phaseCarrier + index * modulator) + partial;
        phaseCarrier = std::fmod(phaseCarrier + carrier / sampleRate, 1.0);
        phaseModulator = std::fmod(phaseModulator + 3.0 * carrier / sampleRate, 1.0);
        phasePartial = std::fmod(phasePartial + 2.76 * carrier / sampleRate, 1.0);
        return panned(float(x * envelope.at(t, held)) * gain, note.pan);
    });
}

void kickNote(const Note& note, bool lub, const Target& target) {
    static const Envelope envelope(0.003, 0.0, 1.0, 0.25);
    const double decay = lub ? 0.2 : 0.14;
    const double low = lub ? 43.0 : 50.0;
    const double sweep = lub ? 85.0 : 75.0;
    double phase = 0.0;
    play(note.beat, 0.0, 0.75, target, [&](double t, double) {
        // Held for half a second, then released, with the body's own exponential decay.
        const double frequency = low + sweep * std::exp(-t / 0.03);
        const double body = std::sin(2.0 * pi * phase) * std::exp(-t / decay);
        phase = std::fmod(phase + frequency / sampleRate, 1.0);
        const double x = std::tanh(1.8 * body) / std::tanh(1.8) * envelope.at(t, 0.5);
        return panned(float(x * 0.75 * note.velocity), 0.0f);
    });
}

double kickDuck(double t) {
    if (t <= 0.0 || t > 1.2)
        return 0.0;
    const double attack = t < 0.01 ? 0.5 - 0.5 * std::cos(pi * t / 0.01) : 1.0;
    const double tail = t > 1.0 ? 0.5 + 0.5 * std::cos(pi * (t - 1.0) / 0.2) : 1.0;
    return attack * tail * std::exp(-t / 0.18);
}

void hatNote(const Note& note, uint64_t seed, const Target& target) {
    static const Envelope envelope(0.001, 0.035, 0.0, 0.03);
    Random random(seed);
    StateVariableFilter filter;
    filter.setCutoff(note.tone, 0.8);
    const float gain = 0.42f * note.velocity;
    play(note.beat, note.length, envelope.release(), target, [&](double t, double held) {
        const float x = filter.process(float(random.bipolar())).high;
        return panned(x * float(envelope.at(t, held)) * gain, note.pan);
    });
}

void impactNote(const Note& note, uint64_t seed, const Target& target) {
    static const Envelope envelope(0.004, 1.1, 0.0, 1.0);
    Random random(seed);
    StateVariableFilter left, right;
    double phase = 0.0;
    int tick = 0;
    play(note.beat, note.length, envelope.release(), target, [&](double t, double held) {
        if (tick++ % 16 == 0) {
            const double cutoff = 300.0 + note.tone * std::exp(-t / 0.5);
            left.setCutoff(cutoff, 0.7);
            right.setCutoff(cutoff, 0.7);
        }
        const double boom = std::sin(2.0 * pi * phase) * std::exp(-t / 0.6);
        phase = std::fmod(phase + (36.0 + 20.0 * std::exp(-t / 0.1)) / sampleRate, 1.0);
        const double a = envelope.at(t, held) * note.velocity;
        const float l = left.lowpass(float(random.bipolar())) * 0.5f;
        const float r = right.lowpass(float(random.bipolar())) * 0.5f;
        return Frame{float((l + 0.6 * boom) * a), float((r + 0.6 * boom) * a)};
    });
}

void noiseSweep(const Sweep& sweep, uint64_t seed, const Target& target) {
    Random random(seed);
    // A band-pass alone lets a 6 dB/octave skirt of hiss through; a low-pass an octave above the
    // centre keeps the band dark.
    StateVariableFilter left, right, leftTop, rightTop;
    const double seconds = sweep.length * secondsPerBeat;
    const double ramp = std::max(sweep.fade, 0.003);
    int tick = 0;
    play(sweep.beat, sweep.length, 0.0, target, [&](double t, double) {
        const double x = std::clamp(t / seconds, 0.0, 1.0);
        if (tick++ % 16 == 0) {
            const double drift = sweep.wobble * std::sin(2.0 * pi * t / 7.3) +
                                 0.5 * sweep.wobble * std::sin(2.0 * pi * t / 3.1);
            const double centre =
                sweep.fromHz * std::pow(sweep.toHz / sweep.fromHz, x) * std::pow(2.0, drift);
            left.setCutoff(centre, sweep.q);
            right.setCutoff(centre * 1.03, sweep.q);
            leftTop.setCutoff(centre * 2.0, 0.7);
            rightTop.setCutoff(centre * 2.06, 0.7);
        }
        // Short raised-cosine fades at both ends keep the edges free of clicks.
        const double edge = std::min({1.0, t / ramp, (seconds - t) / ramp});
        const double fade = edge <= 0.0 ? 0.0 : 0.5 - 0.5 * std::cos(pi * edge);
        const double level =
            (sweep.fromGain + (sweep.toGain - sweep.fromGain) * std::pow(x, sweep.shape)) * fade;
        const float l = leftTop.lowpass(left.process(float(random.bipolar())).band);
        const float r = rightTop.lowpass(right.process(float(random.bipolar())).band);
        return Frame{float(l * level), float(r * level)};
    });
}

} // namespace Synth
