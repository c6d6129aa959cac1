#include "engine/Image.h"

#include "base/Files.h"
#include "base/Logger.h"
#include "base/VFileException.h"

#include <stb_image.h>

#include <string>

namespace Velmora {

namespace {

[[noreturn]] void failToOpen(const char* path) {
    throw VFileException(std::string("Failed to open file \"") + path + "\"");
}

// Reads and decodes the file; null with the reason on failure.
unsigned char* decode(const char* path, int channels, int& width, int& height, int& fileChannels,
                      std::string& error) {
    std::string bytes;
    if (!readRegularFile(path != nullptr ? path : "", Image::maxFileBytes, bytes, error)) {
        return nullptr;
    }
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int size = static_cast<int>(bytes.size());
    // The header is read first so that a file claiming huge dimensions is refused before the
    // decoder allocates for them.
    int headerWidth = 0;
    int headerHeight = 0;
    int headerChannels = 0;
    if (!stbi_info_from_memory(data, size, &headerWidth, &headerHeight, &headerChannels)) {
        error = std::string("cannot be decoded (") + stbi_failure_reason() + ")";
        return nullptr;
    }
    if (headerWidth > Image::maxDimension || headerHeight > Image::maxDimension ||
        static_cast<long long>(headerWidth) * headerHeight > Image::maxPixels) {
        error = "is " + std::to_string(headerWidth) + "x" + std::to_string(headerHeight) +
                " pixels, more than the limit of " + std::to_string(Image::maxDimension) + " a side and " +
                std::to_string(Image::maxPixels) + " in all";
        return nullptr;
    }
    unsigned char* pixels = stbi_load_from_memory(data, size, &width, &height, &fileChannels, channels);
    if (pixels == nullptr) {
        error = std::string("cannot be decoded (") + stbi_failure_reason() + ")";
    }
    return pixels;
}

} // namespace

Image::Image(const char* path, int channels) {
    Logger::instance().debug("Loading image \"%s\"", path);
    std::string error;
    pixels = decode(path, channels, imageWidth, imageHeight, fileChannels, error);
    if (pixels == nullptr) {
        failToOpen(path);
    }
}

bool Image::check(const std::string& path, std::string& error) {
    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* pixels = decode(path.c_str(), 4, width, height, channels, error);
    stbi_image_free(pixels);
    return pixels != nullptr;
}

Image::~Image() {
    stbi_image_free(pixels);
}

} // namespace Velmora
