// SHA-256 of bytes, fed in pieces: the identity of a build, of the data folder, of a frame and of
// the state a frame carries to the next. Portable C++, no library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Velmora {

class Sha256 {
public:
    Sha256();

    void add(const void* data, std::size_t size);
    void add(const std::string& bytes) { add(bytes.data(), bytes.size()); }
    // The digest as 64 lowercase hex digits. The object is spent afterwards (reset() to reuse).
    std::string hex();
    std::array<uint8_t, 32> digest();
    void reset();

    // The hex digest of `bytes`.
    static std::string of(const void* data, std::size_t size);
    static std::string of(const std::string& bytes) { return of(bytes.data(), bytes.size()); }

private:
    void block(const uint8_t* chunk);

    uint32_t h[8];
    uint8_t pending[64];
    std::size_t pendingSize = 0;
    uint64_t total = 0;
};

// The hex digest of a whole file, read in pieces; false with `error` set when it cannot be read.
bool sha256OfFile(const std::string& path, std::string& hex, std::string& error);

} // namespace Velmora
