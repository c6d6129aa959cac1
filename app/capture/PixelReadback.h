// Reads finished frames back from the GPU without stalling the next frame: each read goes into one
// of a few pixel buffer objects in rotation and is only mapped (waited for) `depth - 1` frames
// later, while the GPU already draws the following frames.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <type_traits>
#include <vector>

namespace Velmora {

class PixelReadback {
public:
    using Consume = std::function<void(int64_t index, const uint8_t* rgbaBottomUp)>;

    PixelReadback(int width, int height, int depth);
    ~PixelReadback();

    // Starts reading colour attachment 0 of `framebuffer` (width x height from the origin) as frame
    // `index`. Restores the read-framebuffer and pixel-pack bindings it changes.
    void start(GLuint framebuffer, int64_t index);
    // Reads started and not yet handed out.
    size_t pending() const { return inFlight.size(); }
    bool full() const { return inFlight.size() == buffers.size(); }
    // Waits for the oldest read and hands its pixels to `consume` (rows bottom-up, as GL gives them).
    // Throws Vexception when the buffer cannot be mapped.
    void finishOldest(const Consume& consume);

    PixelReadback(const PixelReadback&) = delete;
    PixelReadback& operator=(const PixelReadback&) = delete;

private:
    int width;
    int height;
    std::vector<GLuint> buffers;
    size_t next = 0;
    std::deque<std::pair<int64_t, GLuint>> inFlight;
};

static_assert(!std::is_copy_constructible<PixelReadback>::value, "PixelReadback owns GL names");

// Copies a bottom-up RGBA image into `out` with its rows reversed (top row first).
void flipRows(const uint8_t* in, uint8_t* out, int width, int height);

} // namespace Velmora
