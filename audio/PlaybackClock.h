// What the audio callback has handed to the device, published to the main thread, and the
// position being heard derived from it.
//
// The callback publishes one snapshot per device buffer: the file position of the buffer's first
// frame, how many of the buffer's frames advance through the file (after them the position holds:
// paused, the end of the file, or frames not decoded yet), the loop the buffer wraps in, and the
// steady-clock time of the call. The device plays the buffer just handed over after the call, so
// at that moment the listener hears its first frame; between callbacks the position advances with
// the steady clock, limited to the end of that buffer so that a late callback holds the position
// instead of running ahead of the sound.
//
// Jumps are counted: every seek, pause or resume the callback takes and every loop wrap starts a
// new segment, so a reader can tell a jump back from two readings that straddle a callback whose
// estimate is a hair behind. A buffer may wrap several times (a loop shorter than a buffer).
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
        // File frame heard at the buffer's first frame.
        int64_t fileStart = 0;
        // Frames in this buffer, and how many of the first ones advance through the file.
        int32_t bufferFrames = 0;
        int32_t fileFramesInBuffer = 0;
        // The loop in effect: reaching loopTo continues at loopFrom. Both 0 when the buffer
        // cannot wrap (no loop, or it started at or past loopTo).
        int64_t loopFrom = 0;
        int64_t loopTo = 0;
        // Segment at the buffer's first frame.
        uint64_t segment = 0;
        // The latest transport command the callback had taken, and the segment it started.
        uint32_t command = 0;
        uint64_t commandSegment = 0;
        // steady_clock time of the callback, in nanoseconds.
        int64_t timeNs = 0;
    };

    struct Position {
        double fileFrame = 0.0;
        uint64_t segment = 0;
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
    std::atomic<int64_t> fileStart{0};
    std::atomic<int32_t> bufferFrames{0};
    std::atomic<int32_t> fileFramesInBuffer{0};
    std::atomic<int64_t> loopFrom{0};
    std::atomic<int64_t> loopTo{0};
    std::atomic<uint64_t> segment{0};
    std::atomic<uint32_t> command{0};
    std::atomic<uint64_t> commandSegment{0};
    std::atomic<int64_t> timeNs{0};
};

} // namespace Velmora
