// Hands captured frames to writer threads so that encoding and writing (PNG compression, the pipe
// to ffmpeg) overlap with drawing the next frames.
//
// A fixed pool of frame buffers bounds the memory: `acquire` waits while every buffer is queued or
// being written. With one thread frames are written in submission order (needed for a video pipe);
// with more, frames are written in parallel in any order (independent PNG files).
// The first failure of a write stops all further writing; `acquire`, `submit` and `finish` then
// throw it again on the drawing thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Velmora {

class FrameWriter {
public:
    using Write = std::function<void(int64_t index, const uint8_t* frame)>;

    FrameWriter(size_t frameBytes, int threads, int buffers, Write write);
    // Stops the threads; frames still queued are dropped.
    ~FrameWriter();

    // A free buffer of frameBytes bytes to fill; waits for one.
    uint8_t* acquire();
    // Queues a buffer from `acquire` as frame `index`.
    void submit(int64_t index, uint8_t* buffer);
    // Waits until every submitted frame is written.
    void finish();

    // Frames written successfully so far.
    int64_t framesWritten() const;

    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

private:
    void work();
    void rethrowFailure(); // called with the lock held

    Write write;
    std::vector<std::vector<uint8_t>> storage;
    std::vector<uint8_t*> freeBuffers;
    std::deque<std::pair<int64_t, uint8_t*>> queue;
    int busy = 0;
    int64_t written = 0;
    bool stopping = false;
    std::exception_ptr failure;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::thread> threads;
};

} // namespace Velmora
