// Encodes frames as 8-bit RGB PNGs, fast: every row uses the "up" filter (the difference to the
// row above, which suits rendered pictures) and libdeflate compresses at its fastest level.
// Compressing is what a PNG capture spends its time on: this is about five times faster than
// stb_image_write (every filter tried, zlib-style level 8) and zlib's fastest level is still two
// and a half times slower, for files about as small. The output is deterministic.
//
// An encoder keeps its buffers from one frame to the next (a capture writes thousands of frames
// of one size), so it is not shared between threads: use one per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct libdeflate_compressor;

namespace Velmora {

class PngEncoder {
public:
    PngEncoder();
    ~PngEncoder();

    struct Bytes {
        const uint8_t* data;
        size_t size;
    };

    // `rgba`: width x height pixels, 4 bytes each, top row first; the alpha is dropped. Returns the
    // PNG file's bytes, valid until the next call. Throws Vexception when compression fails.
    Bytes encode(const uint8_t* rgba, int width, int height);

    PngEncoder(const PngEncoder&) = delete;
    PngEncoder& operator=(const PngEncoder&) = delete;

private:
    libdeflate_compressor* compressor;
    std::vector<uint8_t> filtered;
    std::vector<uint8_t> above;
    std::vector<uint8_t> row;
    std::vector<uint8_t> png; // only grows, so that it is not cleared again for every frame
};

} // namespace Velmora
