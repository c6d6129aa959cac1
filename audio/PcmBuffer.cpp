#include "audio/PcmBuffer.h"

#include "base/CheckedMath.h"

#include <algorithm>

namespace Velmora {

void PcmBuffer::allocate(int64_t frames) {
    release();
    if (frames <= 0)
        return;
    // Default-initialised: the pages are touched only as the writer fills them.
    samples.reset(new float[static_cast<size_t>(2 * frames)]);
    room = frames;
}

void PcmBuffer::release() {
    samples.reset();
    room = 0;
    ready.store(0, std::memory_order_relaxed);
}

void PcmBuffer::publish(int64_t frames) {
    ready.store(std::clamp<int64_t>(frames, ready.load(std::memory_order_relaxed), room),
                std::memory_order_release);
}

void PcmBuffer::finishWithSilence() {
    const int64_t done = ready.load(std::memory_order_relaxed);
    std::fill(samples.get() + 2 * done, samples.get() + 2 * room, 0.0f);
    ready.store(room, std::memory_order_release);
}

void PcmBuffer::copy(int64_t first, int64_t count, float* out) const {
    if (count <= 0 || out == nullptr)
        return;
    std::fill(out, out + 2 * count, 0.0f);
    const int64_t held = available();
    // Written so that no sum can overflow whatever `first` is.
    if (first >= held || first + count <= 0)
        return;
    const int64_t begin = std::max<int64_t>(first, 0);
    const int64_t end = first >= held - count ? held : first + count;
    std::copy(samples.get() + 2 * begin, samples.get() + 2 * end, out + 2 * (begin - first));
}

void PcmBuffer::monoBefore(int64_t end, int count, float* out) const {
    const int64_t held = available();
    for (int i = 0; i < count; ++i) {
        const int64_t index = end - count + i;
        out[i] = index >= 0 && index < held ? 0.5f * (samples[2 * index] + samples[2 * index + 1]) : 0.0f;
    }
}

void PcmBuffer::minMax(int64_t first, int64_t framesPerBucket, int buckets, float* minOut,
                       float* maxOut) const {
    if (buckets <= 0 || minOut == nullptr || maxOut == nullptr)
        return;
    std::fill(minOut, minOut + buckets, 0.0f);
    std::fill(maxOut, maxOut + buckets, 0.0f);
    if (framesPerBucket <= 0)
        return;
    const int64_t held = available();
    for (int b = 0; b < buckets; ++b) {
        int64_t begin = 0;
        int64_t end = 0;
        // A bucket whose bounds do not fit in 64 bits lies far outside the file: silence.
        if (!checkedMultiply(b, framesPerBucket, begin) || !checkedAdd(begin, first, begin) ||
            !checkedAdd(begin, framesPerBucket, end))
            break;
        const int64_t from = std::max<int64_t>(begin, 0);
        const int64_t to = std::min(end, held);
        if (from >= to)
            continue;
        // Silence inside the bucket (before the start or past what is decoded) counts as 0.
        float low = from > begin || to < end ? 0.0f : 1e30f;
        float high = from > begin || to < end ? 0.0f : -1e30f;
        for (int64_t index = from; index < to; ++index) {
            const float mono = 0.5f * (samples[2 * index] + samples[2 * index + 1]);
            low = std::min(low, mono);
            high = std::max(high, mono);
        }
        minOut[b] = low;
        maxOut[b] = high;
    }
}

} // namespace Velmora
