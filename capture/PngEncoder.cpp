#include "capture/PngEncoder.h"

#include "base/Vexception.h"

#include <cstring>
#include <libdeflate.h>
#include <string>

namespace Velmora {

namespace {

constexpr uint8_t upFilter = 2;
constexpr uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void put32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

// Fills in a chunk whose data (`size` bytes) already sits at at + 8: length, type, and the CRC of
// type and data after it. Returns the chunk's total size.
size_t finishChunk(uint8_t* at, const char* type, size_t size) {
    put32(at, static_cast<uint32_t>(size));
    std::memcpy(at + 4, type, 4);
    put32(at + 8 + size, libdeflate_crc32(0, at + 4, size + 4));
    return size + 12;
}

} // namespace

PngEncoder::PngEncoder() : compressor(libdeflate_alloc_compressor(1)) {
    // Level 1: the fastest; for rendered frames barely larger than the slow levels.
    if (compressor == nullptr) {
        throw Vexception("Cannot make a PNG compressor");
    }
}

PngEncoder::~PngEncoder() {
    libdeflate_free_compressor(compressor);
}

PngEncoder::Bytes PngEncoder::encode(const uint8_t* rgba, int width, int height) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    // The filtered picture: per row the filter type, then RGB minus the same bytes of the row above.
    filtered.resize((rowBytes + 1) * static_cast<size_t>(height));
    above.assign(rowBytes, 0);
    row.resize(rowBytes);
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = rgba + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            row[3 * x] = in[4 * x];
            row[3 * x + 1] = in[4 * x + 1];
            row[3 * x + 2] = in[4 * x + 2];
        }
        uint8_t* out = &filtered[static_cast<size_t>(y) * (rowBytes + 1)];
        out[0] = upFilter;
        for (size_t i = 0; i < rowBytes; ++i) {
            out[1 + i] = static_cast<uint8_t>(row[i] - above[i]);
        }
        above.swap(row);
    }

    // Signature, IHDR (13 bytes of data), IDAT (the compressed picture), IEND; compressed in place.
    const size_t bound = libdeflate_zlib_compress_bound(compressor, filtered.size());
    const size_t largest = sizeof signature + 25 + 12 + bound + 12;
    if (png.size() < largest) {
        png.resize(largest);
    }
    uint8_t* at = png.data();
    std::memcpy(at, signature, sizeof signature);
    at += sizeof signature;
    put32(at + 8, static_cast<uint32_t>(width));
    put32(at + 12, static_cast<uint32_t>(height));
    const uint8_t format[5] = {8, 2, 0, 0, 0}; // 8 bits, RGB, deflate, adaptive filtering, no interlace
    std::memcpy(at + 16, format, sizeof format);
    at += finishChunk(at, "IHDR", 13);
    const size_t compressed =
        libdeflate_zlib_compress(compressor, filtered.data(), filtered.size(), at + 8, bound);
    if (compressed == 0) {
        throw Vexception("Cannot compress a " + std::to_string(width) + "x" + std::to_string(height) +
                         " PNG");
    }
    at += finishChunk(at, "IDAT", compressed);
    at += finishChunk(at, "IEND", 0);
    return {png.data(), static_cast<size_t>(at - png.data())};
}

} // namespace Velmora
