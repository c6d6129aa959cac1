// A decoded image file (stb_image), used only while a texture is filled from it.
//
// Pixels are 8 bits per sample, rows top row first, with the channel count asked for. Only regular
// files are read (a FIFO in the sprite's place is refused at once instead of blocking). Any decoder
// failure, and files or images larger than the limits below, throw VFileException
// "Failed to open file \"<path>\""; `check` says why.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

namespace Velmora {

class Image {
public:
    // Larger images are refused from their header, before any pixel memory is allocated.
    static constexpr int maxDimension = 16384;
    static constexpr long long maxPixels = 1LL << 26;
    // Larger files are not read at all (a 16384 x 4096 RGBA picture, stored without compression,
    // stays below it).
    static constexpr std::uint64_t maxFileBytes = 300ull << 20;

    // Logs "Loading image \"%s\"" and decodes the file with `channels` channels per pixel (1..4).
    Image(const char* path, int channels);
    ~Image();

    // Decodes the file as the constructor does, without logging; false with the reason ("is not a
    // regular file", "cannot be decoded (bad zlib header)", "is 30000x30000 pixels, more than ...").
    static bool check(const std::string& path, std::string& error);

    unsigned char* data() const { return pixels; }
    int width() const { return imageWidth; }
    int height() const { return imageHeight; }
    // Channels stored in the file, as the decoder reports them (not the count asked for).
    int channels() const { return fileChannels; }

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

private:
    int imageWidth = 0;
    int imageHeight = 0;
    int fileChannels = 0;
    unsigned char* pixels = nullptr;
};

static_assert(!std::is_copy_constructible<Image>::value, "Image owns its pixels");

} // namespace Velmora
