// Writes a 16-bit PCM WAV file from float samples, streaming.
//
// The file is written beside `path` under a temporary name of its own (".NAME-PID-XXXXXX.part", so
// that two writers of one path never share it) and put in place only by `finish`, so a WAV that
// exists under its real name is always complete. Destroying an unfinished writer removes the
// temporary file. Errors (disk full, no permission, a path that is not a regular file) throw
// VFileException naming the file and the system's reason.
#pragma once

#include "base/Files.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace Velmora {

class WavWriter {
public:
    WavWriter(std::string path, int sampleRate, int channels);
    ~WavWriter();

    // Appends `frames` frames of interleaved samples (channels per frame). Samples are clamped to
    // -1 .. 1 and rounded to 16 bits; NaN becomes silence.
    void write(const float* samples, int64_t frames);
    // Completes the header, closes and renames the file into place.
    void finish();

    int64_t framesWritten() const { return frames; }

    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

private:
    void writeHeader(uint32_t dataBytes);
    [[noreturn]] void fail(const char* what);

    std::string path;
    std::string target; // path, or the regular file its link leads to
    std::unique_ptr<TemporaryFile> part;
    int sampleRate;
    int channels;
    int64_t frames = 0;
    FILE* file = nullptr;
};

// Converts one float sample to 16-bit PCM as WavWriter does.
int16_t toPcm16(float sample);

} // namespace Velmora
