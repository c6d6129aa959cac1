#include "tools/synth/PingPongDelay.h"

#include "tools/synth/Timing.h"

#include <algorithm>
#include <cmath>

namespace Synth {

PingPongDelay::PingPongDelay(size_t delay, float feedback, double dampHz)
    : bufferLeft(std::max<size_t>(delay, 1), 0.0f), bufferRight(std::max<size_t>(delay, 1), 0.0f),
      feedback(std::clamp(feedback, 0.0f, 0.95f)),
      smoothing(float(1.0 - std::exp(-2.0 * pi * dampHz / sampleRate))) {}

void PingPongDelay::process(const float* send, float* left, float* right, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float outLeft = bufferLeft[index];
        const float outRight = bufferRight[index];
        lowLeft = (lowLeft + smoothing * (outLeft - lowLeft)) + 1e-18f - 1e-18f;
        lowRight = (lowRight + smoothing * (outRight - lowRight)) + 1e-18f - 1e-18f;
        // New sound enters on the left; each channel feeds the other.
        bufferLeft[index] = send[i] + feedback * lowRight;
        bufferRight[index] = feedback * lowLeft;
        if (++index == bufferLeft.size())
            index = 0;
        left[i] += outLeft;
        right[i] += outRight;
    }
}

} // namespace Synth
