#include "tools/synth/Reverb.h"

#include <algorithm>

namespace Synth {

namespace {

// Mutually prime delay lengths in samples at 44.1 kHz; the right channel adds `spread`.
constexpr int combLengths[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr int allpassLengths[4] = {556, 441, 341, 225};
constexpr int spread = 23;
constexpr float inputGain = 0.015f;

} // namespace

float Reverb::Comb::process(float in, float fb, float dampAmount) {
    const float out = buffer[index];
    // The added and removed constant flushes the decaying state to zero before it becomes a
    // denormal, which would make the tail of every note very slow to compute.
    store = (out * (1.0f - dampAmount) + store * dampAmount) + 1e-18f - 1e-18f;
    buffer[index] = in + store * fb;
    if (++index == buffer.size())
        index = 0;
    return out;
}

float Reverb::Allpass::process(float in) {
    const float delayed = buffer[index];
    buffer[index] = in + delayed * 0.5f;
    if (++index == buffer.size())
        index = 0;
    return delayed - in;
}

Reverb::Reverb(double roomSize, double damping, double width, double wet)
    : feedback(float(0.7 + 0.28 * std::clamp(roomSize, 0.0, 1.0))),
      damp(float(0.4 * std::clamp(damping, 0.0, 1.0))) {
    for (int i = 0; i < 8; ++i) {
        combLeft[i].buffer.assign(combLengths[i], 0.0f);
        combRight[i].buffer.assign(combLengths[i] + spread, 0.0f);
    }
    for (int i = 0; i < 4; ++i) {
        allpassLeft[i].buffer.assign(allpassLengths[i], 0.0f);
        allpassRight[i].buffer.assign(allpassLengths[i] + spread, 0.0f);
    }
    const double w = std::clamp(width, 0.0, 1.0);
    wetSame = float(wet * (w / 2.0 + 0.5));
    wetCross = float(wet * (1.0 - w) / 2.0);
}

void Reverb::process(const float* send, float* left, float* right, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float in = send[i] * inputGain;
        float l = 0.0f, r = 0.0f;
        for (int c = 0; c < 8; ++c) {
            l += combLeft[c].process(in, feedback, damp);
            r += combRight[c].process(in, feedback, damp);
        }
        for (int a = 0; a < 4; ++a) {
            l = allpassLeft[a].process(l);
            r = allpassRight[a].process(r);
        }
        left[i] += l * wetSame + r * wetCross;
        right[i] += r * wetSame + l * wetCross;
    }
}

} // namespace Synth
