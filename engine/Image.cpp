#include "engine/Image.h"

#include "base/Logger.h"
#include "base/VFileException.h"

#include <stb_image.h>

#include <string>

namespace Velmora {

namespace {
[[noreturn]] void failToOpen(const char* path) {
    throw VFileException(std::string("Failed to open file \"") + path + "\"");
}
} // namespace

Image::Image(const char* path, int channels) {
    Logger::instance().debug("Loading image \"%s\"", path);
    // The header is read first so that a file claiming huge dimensions is refused before the
    // decoder allocates for them.
    int headerWidth = 0;
    int headerHeight = 0;
    int headerChannels = 0;
    if (!stbi_info(path, &headerWidth, &headerHeight, &headerChannels) || headerWidth > maxDimension ||
        headerHeight > maxDimension || static_cast<long long>(headerWidth) * headerHeight > maxPixels) {
        failToOpen(path);
    }
    pixels = stbi_load(path, &imageWidth, &imageHeight, &fileChannels, channels);
    if (pixels == nullptr) {
        failToOpen(path);
    }
}

Image::~Image() {
    stbi_image_free(pixels);
}

} // namespace Velmora
