#include "audio/PlaybackClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace Velmora {

void PlaybackClock::publish(const Snapshot& snapshot) {
    const uint64_t start = sequence.load(std::memory_order_relaxed);
    sequence.store(start + 1, std::memory_order_relaxed);
    // Readers that see the new fields also see the odd count and retry.
    std::atomic_thread_fence(std::memory_order_release);
    fileStart.store(snapshot.fileStart, std::memory_order_relaxed);
    bufferFrames.store(snapshot.bufferFrames, std::memory_order_relaxed);
    fileFramesInBuffer.store(snapshot.fileFramesInBuffer, std::memory_order_relaxed);
    loopFrom.store(snapshot.loopFrom, std::memory_order_relaxed);
    loopTo.store(snapshot.loopTo, std::memory_order_relaxed);
    segment.store(snapshot.segment, std::memory_order_relaxed);
    command.store(snapshot.command, std::memory_order_relaxed);
    commandSegment.store(snapshot.commandSegment, std::memory_order_relaxed);
    timeNs.store(snapshot.timeNs, std::memory_order_relaxed);
    sequence.store(start + 2, std::memory_order_release);
}

bool PlaybackClock::read(Snapshot& snapshot) const {
    for (;;) {
        const uint64_t before = sequence.load(std::memory_order_acquire);
        if (before == 0)
            return false;
        if (before & 1u)
            continue;
        snapshot.fileStart = fileStart.load(std::memory_order_relaxed);
        snapshot.bufferFrames = bufferFrames.load(std::memory_order_relaxed);
        snapshot.fileFramesInBuffer = fileFramesInBuffer.load(std::memory_order_relaxed);
        snapshot.loopFrom = loopFrom.load(std::memory_order_relaxed);
        snapshot.loopTo = loopTo.load(std::memory_order_relaxed);
        snapshot.segment = segment.load(std::memory_order_relaxed);
        snapshot.command = command.load(std::memory_order_relaxed);
        snapshot.commandSegment = commandSegment.load(std::memory_order_relaxed);
        snapshot.timeNs = timeNs.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence.load(std::memory_order_relaxed) == before)
            return true;
    }
}

void PlaybackClock::reset() {
    sequence.store(0, std::memory_order_release);
}

PlaybackClock::Position PlaybackClock::positionAt(const Snapshot& snapshot, int64_t nowNs, int sampleRate) {
    const double elapsed = std::max<int64_t>(nowNs - snapshot.timeNs, 0) * 1e-9;
    const double intoBuffer = std::min(elapsed * sampleRate, static_cast<double>(snapshot.bufferFrames));
    // The frames that advance open the buffer; the position holds after them.
    const double advanced = std::min(intoBuffer, static_cast<double>(snapshot.fileFramesInBuffer));
    Position position;
    position.fileFrame = static_cast<double>(snapshot.fileStart) + advanced;
    position.segment = snapshot.segment;
    const int64_t loopLength = snapshot.loopTo - snapshot.loopFrom;
    const double untilWrap = static_cast<double>(snapshot.loopTo - snapshot.fileStart);
    if (loopLength > 0 && untilWrap > 0.0 && advanced >= untilWrap) {
        // Reaching loopTo is already the first frame of the loop, as the callback plays it.
        const double past = advanced - untilWrap;
        const double wraps = std::floor(past / static_cast<double>(loopLength));
        position.fileFrame = static_cast<double>(snapshot.loopFrom) + (past - wraps * loopLength);
        position.segment += 1 + static_cast<uint64_t>(wraps);
    }
    return position;
}

int64_t PlaybackClock::steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace Velmora
