// Stereo room reverb in the Schroeder-Moorer style: eight damped feedback combs in parallel and
// four series allpasses per channel, the right channel's delays a little longer than the left's
// for width. It takes a mono send and adds only the wet signal to the output.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace Synth {

class Reverb {
public:
    // roomSize and damping 0..1; width 0 (mono) .. 1 (widest); wet: gain of the output.
    Reverb(double roomSize, double damping, double width, double wet = 1.0);

    // Adds the reverberation of `send` (count samples) into left and right.
    void process(const float* send, float* left, float* right, size_t count);

private:
    struct Comb {
        std::vector<float> buffer;
        size_t index = 0;
        float store = 0.0f;
        float process(float in, float feedback, float damp);
    };
    struct Allpass {
        std::vector<float> buffer;
        size_t index = 0;
        float process(float in);
    };

    std::array<Comb, 8> combLeft, combRight;
    std::array<Allpass, 4> allpassLeft, allpassRight;
    float feedback, damp, wetSame, wetCross;
};

} // namespace Synth
