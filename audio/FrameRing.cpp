#include "audio/FrameRing.h"

#include <algorithm>
#include <cstring>

namespace Velmora {

namespace {
size_t roundUpToPowerOfTwo(size_t value) {
    size_t result = 1;
    while (result < value)
        result <<= 1;
    return result;
}
} // namespace

FrameRing::FrameRing(size_t capacityFrames)
    : samples(2 * roundUpToPowerOfTwo(std::max<size_t>(capacityFrames, 1))), mask(samples.size() / 2 - 1) {}

size_t FrameRing::writable() const {
    const uint64_t head = written.load(std::memory_order_relaxed);
    const uint64_t tail = consumed.load(std::memory_order_acquire);
    return capacity() - static_cast<size_t>(head - tail);
}

size_t FrameRing::readable() const {
    const uint64_t head = written.load(std::memory_order_acquire);
    const uint64_t tail = consumed.load(std::memory_order_relaxed);
    return static_cast<size_t>(head - tail);
}

size_t FrameRing::write(const float* frames, size_t count) {
    count = std::min(count, writable());
    const uint64_t head = written.load(std::memory_order_relaxed);
    const size_t start = static_cast<size_t>(head) & mask;
    const size_t first = std::min(count, capacity() - start);
    std::memcpy(&samples[2 * start], frames, 2 * first * sizeof(float));
    std::memcpy(&samples[0], frames + 2 * first, 2 * (count - first) * sizeof(float));
    // Publishes the copied frames to the reader.
    written.store(head + count, std::memory_order_release);
    return count;
}

size_t FrameRing::read(float* frames, size_t count) {
    count = std::min(count, readable());
    const uint64_t tail = consumed.load(std::memory_order_relaxed);
    const size_t start = static_cast<size_t>(tail) & mask;
    const size_t first = std::min(count, capacity() - start);
    std::memcpy(frames, &samples[2 * start], 2 * first * sizeof(float));
    std::memcpy(frames + 2 * first, &samples[0], 2 * (count - first) * sizeof(float));
    // Hands the slots back to the writer only after they have been copied out.
    consumed.store(tail + count, std::memory_order_release);
    return count;
}

} // namespace Velmora
