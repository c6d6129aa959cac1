// Stereo ping-pong echo: a mono send bounces between left and right every `delay` samples,
// each repeat quieter by `feedback` and darker through a one-pole lowpass. Adds only the echoes.
#pragma once

#include <cstddef>
#include <vector>

namespace Synth {

class PingPongDelay {
public:
    PingPongDelay(size_t delay, float feedback, double dampHz);

    void process(const float* send, float* left, float* right, size_t count);

private:
    std::vector<float> bufferLeft, bufferRight;
    size_t index = 0;
    float feedback;
    float smoothing;
    float lowLeft = 0.0f, lowRight = 0.0f;
};

} // namespace Synth
