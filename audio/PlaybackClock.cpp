#include "audio/PlaybackClock.h"

#include <algorithm>
#include <chrono>

namespace Velmora {

void PlaybackClock::publish(const Snapshot& snapshot) {
    const uint64_t start = sequence.load(std::memory_order_relaxed);
    sequence.store(start + 1, std::memory_order_relaxed);
    // Readers that see the new fields also see the odd count and retry.
    std::atomic_thread_fence(std::memory_order_release);
    outputFrames.store(snapshot.outputFrames, std::memory_order_relaxed);
    fileFrames.store(snapshot.fileFrames, std::memory_order_relaxed);
    bufferFrames.store(snapshot.bufferFrames, std::memory_order_relaxed);
    fileFramesInBuffer.store(snapshot.fileFramesInBuffer, std::memory_order_relaxed);
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
        snapshot.outputFrames = outputFrames.load(std::memory_order_relaxed);
        snapshot.fileFrames = fileFrames.load(std::memory_order_relaxed);
        snapshot.bufferFrames = bufferFrames.load(std::memory_order_relaxed);
        snapshot.fileFramesInBuffer = fileFramesInBuffer.load(std::memory_order_relaxed);
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
    Position position;
    position.outputFrame = static_cast<double>(snapshot.outputFrames) + intoBuffer;
    // The file's frames open the buffer; whatever follows them is silence.
    position.fileFrame =
        static_cast<double>(snapshot.fileFrames) + std::min(intoBuffer, double(snapshot.fileFramesInBuffer));
    return position;
}

int64_t PlaybackClock::steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace Velmora
