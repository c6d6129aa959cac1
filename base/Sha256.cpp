#include "base/Sha256.h"

#include "base/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace Velmora {

namespace {

constexpr uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t rotateRight(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

} // namespace

Sha256::Sha256() {
    reset();
}

void Sha256::reset() {
    static constexpr uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(h, initial, sizeof h);
    pendingSize = 0;
    total = 0;
}

void Sha256::block(const uint8_t* chunk) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = (uint32_t(chunk[4 * i]) << 24) | (uint32_t(chunk[4 * i + 1]) << 16) |
               (uint32_t(chunk[4 * i + 2]) << 8) | uint32_t(chunk[4 * i + 3]);
    }
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t s1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
        const uint32_t choice = (e & f) ^ (~e & g);
        const uint32_t t1 = k + s1 + choice + roundConstants[i] + w[i];
        const uint32_t s0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
        const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const uint32_t t2 = s0 + majority;
        k = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += k;
}

void Sha256::add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    total += size;
    if (pendingSize > 0) {
        const std::size_t take = std::min(size, sizeof pending - pendingSize);
        std::memcpy(pending + pendingSize, bytes, take);
        pendingSize += take;
        bytes += take;
        size -= take;
        if (pendingSize < sizeof pending) {
            return;
        }
        block(pending);
        pendingSize = 0;
    }
    while (size >= 64) {
        block(bytes);
        bytes += 64;
        size -= 64;
    }
    std::memcpy(pending, bytes, size);
    pendingSize = size;
}

std::array<uint8_t, 32> Sha256::digest() {
    const uint64_t bits = total * 8;
    const uint8_t one = 0x80;
    add(&one, 1);
    const uint8_t zero = 0;
    while (pendingSize != 56) {
        add(&zero, 1);
    }
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    }
    add(length, 8);
    std::array<uint8_t, 32> out;
    for (int i = 0; i < 8; ++i) {
        out[4 * i] = static_cast<uint8_t>(h[i] >> 24);
        out[4 * i + 1] = static_cast<uint8_t>(h[i] >> 16);
        out[4 * i + 2] = static_cast<uint8_t>(h[i] >> 8);
        out[4 * i + 3] = static_cast<uint8_t>(h[i]);
    }
    return out;
}

std::string Sha256::hex() {
    static const char digits[] = "0123456789abcdef";
    const std::array<uint8_t, 32> bytes = digest();
    std::string text;
    text.reserve(64);
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::string Sha256::of(const void* data, std::size_t size) {
    Sha256 sha;
    sha.add(data, size);
    return sha.hex();
}

bool sha256OfFile(const std::string& path, std::string& hex, std::string& error) {
    std::FILE* file = openRegularFile(path, UINT64_MAX, error);
    if (file == nullptr) {
        return false;
    }
    Sha256 sha;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        sha.add(buffer.data(), got);
        if (got < buffer.size()) {
            break;
        }
    }
    const bool failed = std::ferror(file) != 0;
    const int code = errno;
    std::fclose(file);
    if (failed) {
        error = std::string("cannot be read (") + std::strerror(code != 0 ? code : EIO) + ")";
        return false;
    }
    hex = sha.hex();
    return true;
}

} // namespace Velmora
