#include "capture/WavWriter.h"

#include "base/Files.h"
#include "base/VFileException.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

namespace Velmora {

namespace {

// RIFF sizes are 32-bit: the data chunk may hold at most this many bytes.
constexpr uint64_t maxDataBytes = 0xFFFFFFFFull - 36;

void putLe16(unsigned char* at, uint16_t value) {
    at[0] = static_cast<unsigned char>(value & 0xFF);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void putLe32(unsigned char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
    }
}

} // namespace

int16_t toPcm16(float sample) {
    if (!(sample == sample)) {
        return 0;
    }
    if (sample > 1.0f) {
        sample = 1.0f;
    } else if (sample < -1.0f) {
        sample = -1.0f;
    }
    return static_cast<int16_t>(std::lrintf(sample * 32767.0f));
}

WavWriter::WavWriter(std::string path, int sampleRate, int channels)
    : path(std::move(path)), sampleRate(sampleRate), channels(channels) {
    std::string error;
    target = replacementTarget(this->path, error);
    if (target.empty()) {
        throw VFileException("Cannot write " + this->path + ": " + error);
    }
    part = std::make_unique<TemporaryFile>(target, ".part");
    if (!part->valid()) {
        throw VFileException("Cannot write " + this->path + ": " + part->error());
    }
    file = part->stream();
    writeHeader(0);
}

WavWriter::~WavWriter() = default; // an unfinished temporary file goes with `part`

void WavWriter::fail(const char* what) {
    int error = errno;
    file = nullptr;
    part.reset();
    throw VFileException(std::string("Cannot ") + what + " " + path + ": " + std::strerror(error));
}

void WavWriter::writeHeader(uint32_t dataBytes) {
    unsigned char header[44];
    std::memcpy(header, "RIFF", 4);
    putLe32(header + 4, 36 + dataBytes);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLe32(header + 16, 16); // PCM format chunk size
    putLe16(header + 20, 1);  // PCM
    putLe16(header + 22, static_cast<uint16_t>(channels));
    putLe32(header + 24, static_cast<uint32_t>(sampleRate));
    putLe32(header + 28, static_cast<uint32_t>(sampleRate * channels * 2));
    putLe16(header + 32, static_cast<uint16_t>(channels * 2));
    putLe16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    putLe32(header + 40, dataBytes);
    if (std::fwrite(header, 1, sizeof header, file) != sizeof header) {
        fail("write");
    }
}

void WavWriter::write(const float* samples, int64_t count) {
    if (file == nullptr) {
        throw VFileException("Cannot write " + path + ": already finished");
    }
    uint64_t bytesAfter = static_cast<uint64_t>(frames + count) * channels * 2;
    if (count < 0 || bytesAfter > maxDataBytes) {
        errno = EFBIG;
        fail("write");
    }
    std::vector<unsigned char> block;
    const int64_t framesPerBlock = 16384;
    for (int64_t done = 0; done < count; done += framesPerBlock) {
        int64_t n = std::min(framesPerBlock, count - done);
        block.resize(static_cast<size_t>(n * channels * 2));
        const float* in = samples + done * channels;
        for (int64_t i = 0; i < n * channels; ++i) {
            putLe16(block.data() + 2 * i, static_cast<uint16_t>(toPcm16(in[i])));
        }
        if (std::fwrite(block.data(), 1, block.size(), file) != block.size()) {
            fail("write");
        }
    }
    frames += count;
}

void WavWriter::finish() {
    if (file == nullptr) {
        return;
    }
    uint32_t dataBytes = static_cast<uint32_t>(frames * channels * 2);
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        fail("write");
    }
    writeHeader(dataBytes);
    file = nullptr;
    std::string error;
    // Flushed to the device with the rename: a WAV beside captured frames is kept.
    if (!part->close(false)) {
        error = part->error();
    } else if (moveIntoPlace(part->path(), target, error)) {
        part->keep();
        part.reset();
        return;
    }
    part.reset();
    throw VFileException("Cannot write " + path + ": " + error);
}

} // namespace Velmora
