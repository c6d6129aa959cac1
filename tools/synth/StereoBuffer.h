// A stereo signal at the soundtrack's sample rate, one float vector per channel.
#pragma once

#include <cstddef>
#include <vector>

namespace Synth {

struct StereoBuffer {
    std::vector<float> left;
    std::vector<float> right;

    StereoBuffer() = default;
    explicit StereoBuffer(size_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
    size_t frames() const { return left.size(); }
};

} // namespace Synth
