// Encodes a frame as an 8-bit RGB PNG, fast: every row uses the "up" filter (the difference to
// the row above, which suits rendered pictures) and libdeflate compresses at its fastest level.
// Compressing is what a PNG capture spends its time on: this is about five times faster than
// stb_image_write (every filter tried, zlib-style level 8) and zlib's fastest level is still two
// and a half times slower, for files about as small. The output is deterministic.
#pragma once

#include <cstdint>
#include <vector>

namespace Velmora {

// `rgba`: width x height pixels, 4 bytes each, top row first; the alpha is dropped. Throws
// Vexception when compression fails.
std::vector<uint8_t> encodePng(const uint8_t* rgba, int width, int height);

} // namespace Velmora
