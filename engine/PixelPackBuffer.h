// Reads finished frames back from the GPU without stalling the next frame: each read goes into one
// of a few pixel-pack buffer objects in rotation and is only mapped (waited for) `depth - 1` frames
// later, while the GPU already draws the following frames. The pixels are RGBA, 8 bits a channel.
//
// It does not bind a framebuffer for drawing and leaves the read-framebuffer and pixel-pack
// bindings as it found them; it does not flip rows (GL gives the bottom row first, see flipRows).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

namespace Velmora {

class PixelPackBuffer {
public:
    using Consume = std::function<void(int64_t index, const uint8_t* rgbaBottomUp)>;

    // `depth` buffers of width x height RGBA pixels (at least one).
    PixelPackBuffer(int width, int height, int depth);
    ~PixelPackBuffer();

    // Starts reading colour attachment 0 of the GL framebuffer `framebuffer` (0: the window's back
    // buffer), width x height from the origin, as frame `index`. Throws Vexception when every buffer is in
    // use.
    void start(unsigned framebuffer, int64_t index);
    // Reads started and not yet handed out.
    size_t pending() const { return inFlight.size(); }
    bool full() const { return inFlight.size() == buffers.size(); }
    // Waits for the oldest read and hands its pixels to `consume` (rows bottom-up, as GL gives them).
    // Throws Vexception when the buffer cannot be mapped.
    void finishOldest(const Consume& consume);

    PixelPackBuffer(const PixelPackBuffer&) = delete;
    PixelPackBuffer& operator=(const PixelPackBuffer&) = delete;

private:
    int width;
    int height;
    std::vector<unsigned> buffers;
    size_t next = 0;
    std::deque<std::pair<int64_t, unsigned>> inFlight;
};

static_assert(!std::is_copy_constructible<PixelPackBuffer>::value, "PixelPackBuffer owns GL names");

// Copies a bottom-up RGBA image into `out` with its rows reversed (top row first).
void flipRows(const uint8_t* in, uint8_t* out, int width, int height);

// The bound read framebuffer's pixels as RGBA bytes, top row first (PNG order), read at once.
std::vector<uint8_t> readPixelsTopDown(int width, int height);

} // namespace Velmora
