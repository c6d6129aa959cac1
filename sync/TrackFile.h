// The binary track file: reading it (through a TrackFileCallbacks table) and writing it.
//
// Layout, little-endian, no header or version:
//   bytes 0..3   key count n, signed 32-bit (bytes 4..7 belong to the count field but are ignored)
//   then n keys of 9 bytes each: row (int32), value (float32), interpolation (signed byte).
// Nothing after the n-th key is part of the track.
//
// Reading never trusts the count: it allocates only for bytes that actually arrived and keeps only
// the keys present in full. Decoding keeps the keys in file order; `sortKeys` puts them in the
// strictly ascending row order that evaluation needs.
#pragma once

#include "sync/TrackData.h"
#include "sync/TrackFileCallbacks.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {

class TrackFile {
public:
    static constexpr std::size_t countSize = 8;
    static constexpr std::size_t keySize = 9;
    // Larger track files are refused: about 7 million keys, far beyond any show (a 3-minute show
    // has some 4 000 rows), and a bound on what a broken or hostile file can make us read.
    static constexpr std::uint64_t maxFileBytes = 64ull << 20;

    // What a file holds, as it holds it.
    struct Contents {
        bool countComplete = false;  // the file has all 8 bytes of the count field
        std::int32_t count = 0;      // the announced key count (bytes 0..3)
        std::uint32_t countHigh = 0; // bytes 4..7 of the count field, ignored by the engine
        std::vector<TrackKey> keys;  // the keys present in full, at most max(count, 0), in file order
        bool trailingData = false;   // bytes follow the last announced key
    };

    // Decodes a file image of `size` bytes; never reads outside it.
    static Contents decode(const unsigned char* data, std::size_t size);

    // Reads the file at `path` through `files`. Returns false when it cannot be opened. Reads the
    // count field, then at most the announced keys in bounded chunks, then probes for one more
    // byte to fill `trailingData`.
    static bool read(const TrackFileCallbacks& files, const char* path, Contents& contents);
    // The same from the file system, with the reason when it cannot be read ("No such file or
    // directory", "is not a regular file", "is larger than the limit of ...").
    static bool load(const std::string& path, Contents& contents, std::string& error);

    // Stable sort by row; of keys on the same row only the last one in file order is kept.
    static std::vector<TrackKey> sortKeys(std::vector<TrackKey> keys);

    // The file image of `keys`, in the given order, with bytes 4..7 of the count zero. The
    // interpolation is stored as a signed byte: codes outside -128..127 do not fit and are
    // truncated, which callers avoid.
    static std::vector<unsigned char> encode(const std::vector<TrackKey>& keys);
};

} // namespace Velmora
