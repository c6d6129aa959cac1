#include "app/capture/PngEncoder.h"

#include "engine/Vexception.h"

#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <string>

namespace Velmora {

namespace {

constexpr uint8_t upFilter = 2;

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>((value >> shift) & 0xFF));
    }
}

// Appends a chunk: length, type, data, CRC of type and data.
void putChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    put32(out, static_cast<uint32_t>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    put32(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

} // namespace

std::vector<uint8_t> encodePng(const uint8_t* rgba, int width, int height) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    // The filtered picture: per row the filter type, then RGB minus the same bytes of the row above.
    std::vector<uint8_t> filtered((rowBytes + 1) * static_cast<size_t>(height));
    std::vector<uint8_t> above(rowBytes, 0);
    std::vector<uint8_t> row(rowBytes);
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

    // Level 1: the fastest; for rendered frames barely larger than the slow levels.
    std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
        libdeflate_alloc_compressor(1), libdeflate_free_compressor);
    std::vector<uint8_t> compressed;
    size_t compressedSize = 0;
    if (compressor) {
        compressed.resize(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
        compressedSize = libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(),
                                                  compressed.data(), compressed.size());
    }
    if (compressedSize == 0) {
        throw Vexception("Cannot compress a " + std::to_string(width) + "x" + std::to_string(height) +
                         " PNG");
    }

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.reserve(compressedSize + 64);
    std::vector<uint8_t> header;
    put32(header, static_cast<uint32_t>(width));
    put32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, adaptive filtering, no interlace
    putChunk(png, "IHDR", header.data(), header.size());
    putChunk(png, "IDAT", compressed.data(), compressedSize);
    putChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace Velmora
