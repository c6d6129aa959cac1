// A lock-free single-producer single-consumer ring of interleaved stereo float frames: the decoder
// thread writes, the audio callback reads. Exactly one thread may write and one may read; it
// neither blocks nor allocates after construction.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Velmora {

class FrameRing {
public:
    // Capacity is rounded up to a power of two.
    explicit FrameRing(size_t capacityFrames);

    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    size_t capacity() const { return mask + 1; }
    // Producer side: frames that can be written now.
    size_t writable() const;
    // Producer side: copies up to `count` frames in; returns how many went in.
    size_t write(const float* frames, size_t count);
    // Consumer side: frames that can be read now.
    size_t readable() const;
    // Consumer side: copies up to `count` frames out; returns how many came out.
    size_t read(float* frames, size_t count);

private:
    std::vector<float> samples;
    size_t mask;
    // Frames written and read since construction; each is stored by one side only.
    alignas(64) std::atomic<uint64_t> written{0};
    alignas(64) std::atomic<uint64_t> consumed{0};
};

} // namespace Velmora
