#include "audio/SampleHistory.h"

namespace Velmora {

namespace {
constexpr int64_t mask = SampleHistory::capacity - 1;
static_assert((SampleHistory::capacity & mask) == 0, "capacity must be a power of two");
} // namespace

SampleHistory::SampleHistory() {
    reset();
}

void SampleHistory::append(const float* stereo, int frames) {
    const int64_t start = written.load(std::memory_order_relaxed);
    // Announce the slots about to be overwritten before touching them, so that a reader that sees
    // a new value in its window also sees this count (fence to fence).
    claimed.store(start + frames, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (int i = 0; i < frames; ++i)
        samples[(start + i) & mask].store(0.5f * (stereo[2 * i] + stereo[2 * i + 1]),
                                          std::memory_order_relaxed);
    written.store(start + frames, std::memory_order_release);
}

bool SampleHistory::read(int64_t end, int count, float* out) const {
    const int64_t first = end - count;
    if (count < 0 || count > capacity || end > written.load(std::memory_order_acquire))
        return false;
    for (int i = 0; i < count; ++i) {
        const int64_t index = first + i;
        out[i] = index < 0 ? 0.0f : samples[index & mask].load(std::memory_order_relaxed);
    }
    // Order the sample loads before the check that none of them was overwritten.
    std::atomic_thread_fence(std::memory_order_acquire);
    return claimed.load(std::memory_order_relaxed) - first <= capacity;
}

void SampleHistory::reset() {
    for (auto& sample : samples)
        sample.store(0.0f, std::memory_order_relaxed);
    claimed.store(0, std::memory_order_relaxed);
    written.store(0, std::memory_order_release);
}

} // namespace Velmora
