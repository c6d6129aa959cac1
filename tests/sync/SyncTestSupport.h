// Helpers shared by the sync tests: a scratch folder and hand-made track file images.
#pragma once

#include "sync/TrackData.h"
#include "tests/support/TestFiles.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace SyncTest {

// A fresh folder in the temporary folder, removed with its contents when the object goes.
class ScratchDir : public VelmoraTest::ScratchFolder {
public:
    ScratchDir() : VelmoraTest::ScratchFolder("sync-test") {}
};

inline void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    VelmoraTest::writeFile(path, std::string(bytes.begin(), bytes.end()));
}

inline std::vector<unsigned char> readFile(const std::string& path) {
    const std::string bytes = VelmoraTest::readFile(path);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

inline void appendU32(std::vector<unsigned char>& bytes, std::uint32_t bits) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<unsigned char>(bits >> shift));
    }
}

// A file image with an explicit count field (low and high halves) and the given keys.
inline std::vector<unsigned char> trackImage(std::int32_t count, std::uint32_t countHigh,
                                             const std::vector<Velmora::TrackKey>& keys) {
    std::vector<unsigned char> bytes;
    appendU32(bytes, static_cast<std::uint32_t>(count));
    appendU32(bytes, countHigh);
    for (const Velmora::TrackKey& key : keys) {
        std::uint32_t valueBits;
        std::memcpy(&valueBits, &key.value, sizeof valueBits);
        appendU32(bytes, static_cast<std::uint32_t>(key.row));
        appendU32(bytes, valueBits);
        bytes.push_back(static_cast<unsigned char>(key.interpolation));
    }
    return bytes;
}

inline std::vector<unsigned char> trackImage(const std::vector<Velmora::TrackKey>& keys) {
    return trackImage(static_cast<std::int32_t>(keys.size()), 0, keys);
}

inline Velmora::TrackData makeTrack(std::vector<Velmora::TrackKey> keys) {
    Velmora::TrackData track;
    track.name = "test";
    track.keys = std::move(keys);
    return track;
}

constexpr std::int32_t constant = 0, linear = 1, smoothstep = 2, quadratic = 3;

} // namespace SyncTest
