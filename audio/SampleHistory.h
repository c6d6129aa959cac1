// The most recent frames handed to the audio device, mixed to mono, kept for the spectrum.
// The audio callback appends; the main thread copies out a window ending at the heard position.
// Every sample is an atomic, so a reader that races the writer sees old or new values, never a
// torn one, and `read` reports when the writer overwrote part of the window meanwhile.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace Velmora {

class SampleHistory {
public:
    static constexpr int64_t capacity = 8192;

    SampleHistory();
    SampleHistory(const SampleHistory&) = delete;
    SampleHistory& operator=(const SampleHistory&) = delete;

    // Writer only: appends `frames` interleaved stereo frames as mono (left + right) / 2.
    void append(const float* stereo, int frames);
    // Copies the `count` mono samples ending before output frame `end` into `out`; samples
    // before the first frame read as 0. Returns false when any of them is no longer (or not yet)
    // held, leaving `out` unspecified.
    bool read(int64_t end, int count, float* out) const;
    // Forgets everything. Only while no writer runs.
    void reset();

private:
    std::array<std::atomic<float>, capacity> samples;
    // Frames whose slots the writer has started to fill, and frames completely written.
    std::atomic<int64_t> claimed{0};
    std::atomic<int64_t> written{0};
};

} // namespace Velmora
