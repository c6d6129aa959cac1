// What the audio callback has handed to the device, published to the main thread, and the
// position being heard derived from it.
//
// The callback publishes one snapshot per device buffer: how many frames it had handed out before
// this buffer (output frames, silence included, and frames of the file), how many frames of the
// file the buffer holds, and the steady-clock time of the call. The device plays the buffer just
// handed over after the call, so at that moment the listener hears the first frame of it; between
// callbacks the position advances with the steady clock, limited to the end of that buffer so that
// a late callback holds the position instead of running ahead of the sound.
//
// Snapshots cross threads through a sequence lock built from atomics: one writer (the callback),
// any number of readers that never block it. No smoothing and no latency guess beyond one buffer.
#pragma once

#include <atomic>
#include <cstdint>

namespace Velmora {

class PlaybackClock {
public:
    struct Snapshot {
        // Frames handed to the device before this buffer: all of them, and those from the file.
        int64_t outputFrames = 0;
        int64_t fileFrames = 0;
        // Frames in this buffer, and how many of them come from the file (they come first).
        int32_t bufferFrames = 0;
        int32_t fileFramesInBuffer = 0;
        // steady_clock time of the callback, in nanoseconds.
        int64_t timeNs = 0;
    };

    struct Position {
        double outputFrame = 0.0;
        double fileFrame = 0.0;
    };

    // Audio thread only.
    void publish(const Snapshot& snapshot);
    // Any thread. Returns false while nothing has been published since the last reset.
    bool read(Snapshot& snapshot) const;
    // Forgets every snapshot. Only while no callback can run.
    void reset();

    // The position heard at `nowNs` given the latest snapshot.
    static Position positionAt(const Snapshot& snapshot, int64_t nowNs, int sampleRate);
    static int64_t steadyNowNs();

private:
    // Odd while the writer is inside publish(); 0 means nothing published.
    std::atomic<uint64_t> sequence{0};
    std::atomic<int64_t> outputFrames{0};
    std::atomic<int64_t> fileFrames{0};
    std::atomic<int32_t> bufferFrames{0};
    std::atomic<int32_t> fileFramesInBuffer{0};
    std::atomic<int64_t> timeNs{0};
};

} // namespace Velmora
