#include "capture/FrameWriter.h"

namespace Velmora {

FrameWriter::FrameWriter(size_t frameBytes, int threadCount, int buffers, Write writeIn)
    : write(std::move(writeIn)) {
    if (threadCount < 1) {
        threadCount = 1;
    }
    if (buffers < threadCount + 1) {
        buffers = threadCount + 1;
    }
    storage.resize(static_cast<size_t>(buffers));
    for (auto& buffer : storage) {
        buffer.resize(frameBytes);
        freeBuffers.push_back(buffer.data());
    }
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([this] { work(); });
    }
}

FrameWriter::~FrameWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        queue.clear();
    }
    changed.notify_all();
    for (auto& thread : threads) {
        thread.join();
    }
}

void FrameWriter::rethrowFailure() {
    if (failure) {
        std::rethrow_exception(failure);
    }
}

uint8_t* FrameWriter::acquire() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return failure || !freeBuffers.empty(); });
    rethrowFailure();
    uint8_t* buffer = freeBuffers.back();
    freeBuffers.pop_back();
    return buffer;
}

void FrameWriter::submit(int64_t index, uint8_t* buffer) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (failure) {
            freeBuffers.push_back(buffer);
            rethrowFailure();
        }
        queue.emplace_back(index, buffer);
    }
    changed.notify_all();
}

void FrameWriter::finish() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return failure || (queue.empty() && busy == 0); });
    rethrowFailure();
}

int64_t FrameWriter::framesWritten() const {
    std::lock_guard<std::mutex> lock(mutex);
    return written;
}

void FrameWriter::work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !queue.empty(); });
        if (stopping) {
            return;
        }
        auto [index, buffer] = queue.front();
        queue.pop_front();
        ++busy;
        lock.unlock();
        std::exception_ptr error;
        try {
            write(index, buffer);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        --busy;
        freeBuffers.push_back(buffer);
        if (error) {
            if (!failure) {
                failure = error;
            }
            // Nothing more is written after the first failure.
            for (auto& queued : queue) {
                freeBuffers.push_back(queued.second);
            }
            queue.clear();
        } else {
            ++written;
        }
        changed.notify_all();
    }
}

} // namespace Velmora
