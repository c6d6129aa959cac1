#include "tools/content/Sprite.h"

#include "tools/content/DetMath.h"
#include "tools/content/OutputFile.h"

#include "base/Vexception.h"

#include <stb_image_write.h>

#include <cmath>

namespace Content {

RgbaImage makeSprite(int size) {
    RgbaImage image;
    if (size < 4) {
        throw Velmora::Vexception("sprite size must be at least 4");
    }
    image.width = size;
    image.height = size;
    image.pixels.assign(static_cast<std::size_t>(size) * size * 4, 255);
    const double centre = 0.5 * size;
    const double edge = centre - 1.0; // alpha is 0 from here on: a clear ring at the border
    const double sigma = edge / 2.6;
    auto gauss = [&](double r) { return detExp(-r * r / (2.0 * sigma * sigma)); };
    // Normalised so the innermost pixels (half a pixel off the centre on each axis) are fully opaque.
    const double inner = gauss(0.70710678118654752440);
    const double floor = gauss(edge);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double dx = x + 0.5 - centre;
            const double dy = y + 0.5 - centre;
            const double r = std::sqrt(dx * dx + dy * dy);
            const double a = r >= edge ? 0.0 : clamp01((gauss(r) - floor) / (inner - floor));
            image.pixels[(static_cast<std::size_t>(y) * size + x) * 4 + 3] =
                static_cast<unsigned char>(std::floor(a * 255.0 + 0.5));
        }
    }
    return image;
}

std::vector<unsigned char> encodePng(const RgbaImage& image) {
    std::vector<unsigned char> bytes;
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<unsigned char>*>(context);
        const auto* first = static_cast<const unsigned char*>(data);
        out->insert(out->end(), first, first + size);
    };
    if (stbi_write_png_to_func(append, &bytes, image.width, image.height, 4, image.pixels.data(),
                               image.width * 4) == 0) {
        throw Velmora::Vexception("PNG encoding failed");
    }
    return bytes;
}

void writePng(const std::string& path, const RgbaImage& image) {
    writeWholeFile(path, encodePng(image));
}

} // namespace Content
