#include "sync/TrackFile.h"

#include "base/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace Velmora {

namespace {

// Keys are read in chunks of this many bytes, so that memory grows only with data that arrived,
// whatever count the file announces.
constexpr std::size_t readChunk = 64 * 1024;

std::uint32_t loadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int32_t loadI32(const unsigned char* p) {
    const std::uint32_t bits = loadU32(p);
    std::int32_t value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

float loadF32(const unsigned char* p) {
    const std::uint32_t bits = loadU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void storeU32(unsigned char* p, std::uint32_t bits) {
    p[0] = static_cast<unsigned char>(bits);
    p[1] = static_cast<unsigned char>(bits >> 8);
    p[2] = static_cast<unsigned char>(bits >> 16);
    p[3] = static_cast<unsigned char>(bits >> 24);
}

// Reads up to `size` bytes; a callback claiming more than it was asked for is not believed.
std::size_t readSome(const TrackFileCallbacks& files, FILE* file, unsigned char* buffer, std::size_t size) {
    return std::min(files.read(buffer, 1, size, file), size);
}

// Reads an open file: the count field, then at most the announced keys in bounded chunks, then a
// probe for one more byte.
TrackFile::Contents readOpen(const TrackFileCallbacks& files, FILE* file) {
    std::vector<unsigned char> image(TrackFile::countSize);
    image.resize(readSome(files, file, image.data(), TrackFile::countSize));
    bool trailing = false;
    if (image.size() == TrackFile::countSize) {
        const std::int32_t count = loadI32(image.data());
        std::uint64_t wanted = count > 0 ? static_cast<std::uint64_t>(count) * TrackFile::keySize : 0;
        while (wanted > 0) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, readChunk));
            const std::size_t at = image.size();
            image.resize(at + chunk);
            const std::size_t got = readSome(files, file, image.data() + at, chunk);
            image.resize(at + got);
            wanted -= got;
            if (got < chunk) {
                break;
            }
        }
        if (wanted == 0) {
            unsigned char probe;
            trailing = readSome(files, file, &probe, 1) == 1;
        }
    }
    TrackFile::Contents contents = TrackFile::decode(image.data(), image.size());
    contents.trailingData = trailing;
    return contents;
}

} // namespace

FILE* openTrackFile(const char* path, const char* /*mode*/) {
    std::string error;
    errno = 0;
    FILE* file = openRegularFile(path != nullptr ? path : "", TrackFile::maxFileBytes, error);
    if (file == nullptr && errno == 0) {
        errno = EINVAL;
    }
    return file;
}

TrackFile::Contents TrackFile::decode(const unsigned char* data, std::size_t size) {
    Contents contents;
    if (size < countSize) {
        return contents;
    }
    contents.countComplete = true;
    contents.count = loadI32(data);
    contents.countHigh = loadU32(data + 4);
    const std::size_t announced = contents.count > 0 ? static_cast<std::size_t>(contents.count) : 0;
    const std::size_t present = std::min(announced, (size - countSize) / keySize);
    contents.keys.resize(present);
    for (std::size_t k = 0; k < present; ++k) {
        const unsigned char* p = data + countSize + k * keySize;
        TrackKey& key = contents.keys[k];
        key.row = loadI32(p);
        key.value = loadF32(p + 4);
        key.interpolation = static_cast<signed char>(p[8]);
    }
    contents.trailingData =
        static_cast<std::uint64_t>(size - countSize) > static_cast<std::uint64_t>(announced) * keySize;
    return contents;
}

bool TrackFile::read(const TrackFileCallbacks& files, const char* path, Contents& contents) {
    contents = Contents{};
    FILE* file = files.open(path, "rb");
    if (file == nullptr) {
        return false;
    }
    contents = readOpen(files, file);
    files.close(file);
    return true;
}

bool TrackFile::load(const std::string& path, Contents& contents, std::string& error) {
    contents = Contents{};
    FILE* file = openRegularFile(path, maxFileBytes, error);
    if (file == nullptr) {
        return false;
    }
    contents = readOpen(TrackFileCallbacks{}, file);
    std::fclose(file);
    return true;
}

std::vector<TrackKey> TrackFile::sortKeys(std::vector<TrackKey> keys) {
    const auto notAscending = [](const TrackKey& a, const TrackKey& b) { return a.row >= b.row; };
    if (std::adjacent_find(keys.begin(), keys.end(), notAscending) == keys.end()) {
        return keys;
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const TrackKey& a, const TrackKey& b) { return a.row < b.row; });
    // Within a run of equal rows the stable sort kept file order: the run's last key wins.
    std::size_t kept = 0;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (k + 1 < keys.size() && keys[k + 1].row == keys[k].row) {
            continue;
        }
        keys[kept++] = keys[k];
    }
    keys.resize(kept);
    return keys;
}

std::vector<unsigned char> TrackFile::encode(const std::vector<TrackKey>& keys) {
    if (keys.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw std::length_error("a track file holds at most 2147483647 keys");
    }
    std::vector<unsigned char> image(countSize + keys.size() * keySize, 0);
    storeU32(image.data(), static_cast<std::uint32_t>(keys.size()));
    for (std::size_t k = 0; k < keys.size(); ++k) {
        unsigned char* p = image.data() + countSize + k * keySize;
        std::uint32_t valueBits;
        std::memcpy(&valueBits, &keys[k].value, sizeof valueBits);
        storeU32(p, static_cast<std::uint32_t>(keys[k].row));
        storeU32(p + 4, valueBits);
        p[8] = static_cast<unsigned char>(keys[k].interpolation);
    }
    return image;
}

} // namespace Velmora
