// MPEG audio file decoding through libmpg123: gapless, scanned in full at open so that the
// length is exact, and always delivered as 44100 Hz interleaved stereo float (mpg123 resamples
// and up- or down-mixes whatever the file holds). One thread at a time; no buffering of its own.
// Only regular files are opened (a FIFO in the soundtrack's place is refused at once instead of
// blocking), up to maxFileBytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct mpg123_handle_struct;

namespace Velmora {

class Mp3Decoder {
public:
    static constexpr int sampleRate = 44100;
    // Larger files are refused: over two hours at 256 kbit/s, where a show plays a few minutes (the
    // offline clock holds at most 20 minutes of decoded sound anyway).
    static constexpr std::uint64_t maxFileBytes = 256ull << 20;

    Mp3Decoder() = default;
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    // Opens and scans the file. On failure returns false with mpg123's reason in `error`.
    bool open(const char* path, std::string& error);
    void close();
    bool isOpen() const { return handle != nullptr; }

    // Stereo frames in the file at 44100 Hz, as the scan counted them.
    int64_t frameCount() const { return frames; }
    // Decodes up to `count` frames into `out` (2 * count floats). Returns the number of frames
    // decoded; fewer than asked only at the end of the file or on a decoding error, after which
    // it returns 0.
    int64_t read(float* out, int64_t count);

private:
    bool fail(const char* what, std::string& error);

    mpg123_handle_struct* handle = nullptr;
    std::FILE* file = nullptr;
    int64_t frames = 0;
    bool finished = false;
};

} // namespace Velmora
