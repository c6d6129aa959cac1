// A whole decoded file in memory: interleaved stereo float frames, filled from the start by one
// writer (the decoder) while any number of readers (the audio callback, the main thread) use the
// part already written.
//
// The room for every frame is allocated up front and never moves. The writer publishes how many
// frames are complete with a release store; readers take that count with an acquire load and read
// only below it, so no frame is ever read while it is being written and nothing needs a lock.
// Frames outside 0 .. available() read as silence. Filling it, releasing it and reading it are the
// caller's to order: `allocate` and `release` only while nothing else uses the buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace Velmora {

class PcmBuffer {
public:
    PcmBuffer() = default;
    PcmBuffer(const PcmBuffer&) = delete;
    PcmBuffer& operator=(const PcmBuffer&) = delete;

    // Room for `frames` frames, none available yet (the memory is not touched until written).
    // Throws std::bad_alloc when it cannot be had.
    void allocate(int64_t frames);
    void release();
    int64_t capacity() const { return room; }

    // Writer: where frame `frame` goes (frame < capacity()); it may write any frame at or after
    // available() and then publish.
    float* writeAt(int64_t frame) { return samples.get() + 2 * frame; }
    // Writer: frames 0 .. `frames` are complete (at most capacity(); never less than before).
    void publish(int64_t frames);
    // Writer: the frames not written yet become silence and everything is available.
    void finishWithSilence();

    // Frames that can be read (acquire).
    int64_t available() const { return ready.load(std::memory_order_acquire); }

    // Readers, any thread. Frames outside 0 .. available() read as 0.
    // Copies `count` frames from `first` into `out` (2 * count floats).
    void copy(int64_t first, int64_t count, float* out) const;
    // The `count` mono samples (left + right) / 2 of the frames before `end`, oldest first.
    void monoBefore(int64_t end, int count, float* out) const;
    // Lowest and highest mono sample of each of `buckets` runs of `framesPerBucket` frames from
    // `first`; frames read as silence count as 0.
    void minMax(int64_t first, int64_t framesPerBucket, int buckets, float* minOut, float* maxOut) const;

    // Reader of a frame known to be available (the audio callback's fast path).
    const float* frame(int64_t index) const { return samples.get() + 2 * index; }

private:
    std::unique_ptr<float[]> samples;
    int64_t room = 0;
    std::atomic<int64_t> ready{0};
};

} // namespace Velmora
