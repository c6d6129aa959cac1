#include "tools/shots/RgbaImage.h"

#include <algorithm>
#include <cstring>

namespace Shots {

namespace {

// 3x5 glyphs, one row per entry, bit 2 = left column.
struct Glyph {
    char character;
    uint8_t rows[5];
};

constexpr Glyph font[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 3, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 2, 2, 2}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'.', {0, 0, 0, 0, 2}}, {'-', {0, 0, 7, 0, 0}},
};

const Glyph* glyphOf(char c) {
    for (const Glyph& glyph : font) {
        if (glyph.character == c) {
            return &glyph;
        }
    }
    return nullptr;
}

} // namespace

RgbaImage::RgbaImage(int w, int h, Rgba fill) : width(std::max(w, 0)), height(std::max(h, 0)) {
    pixels.resize(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        std::memcpy(&pixels[i], fill.data(), 4);
    }
}

RgbaImage downscale(const RgbaImage& source, int width, int height) {
    if (width < 1 || height < 1 || source.width < 1 || source.height < 1) {
        return RgbaImage();
    }
    RgbaImage target(width, height, {0, 0, 0, 0});
    const double sx = static_cast<double>(source.width) / width;
    const double sy = static_cast<double>(source.height) / height;
    for (int ty = 0; ty < height; ++ty) {
        const double y0 = ty * sy;
        const double y1 = y0 + sy;
        for (int tx = 0; tx < width; ++tx) {
            const double x0 = tx * sx;
            const double x1 = x0 + sx;
            double sum[4] = {0.0, 0.0, 0.0, 0.0};
            double area = 0.0;
            for (int y = static_cast<int>(y0); y < source.height && y < y1; ++y) {
                const double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
                for (int x = static_cast<int>(x0); x < source.width && x < x1; ++x) {
                    const double w = wy * (std::min<double>(x + 1, x1) - std::max<double>(x, x0));
                    if (w <= 0.0) {
                        continue;
                    }
                    const uint8_t* p = source.at(x, y);
                    for (int c = 0; c < 4; ++c) {
                        sum[c] += w * p[c];
                    }
                    area += w;
                }
            }
            uint8_t* out = target.at(tx, ty);
            for (int c = 0; c < 4; ++c) {
                out[c] = static_cast<uint8_t>(std::clamp(sum[c] / area + 0.5, 0.0, 255.0));
            }
        }
    }
    return target;
}

void drawText(RgbaImage& image, int x, int y, int scale, const std::string& text, Rgba colour) {
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph* glyph = glyphOf(text[i]);
        if (glyph == nullptr) {
            continue;
        }
        const int left = x + static_cast<int>(i) * 4 * scale;
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                if ((glyph->rows[row] & (4 >> column)) == 0) {
                    continue;
                }
                for (int dy = 0; dy < scale; ++dy) {
                    for (int dx = 0; dx < scale; ++dx) {
                        const int px = left + column * scale + dx;
                        const int py = y + row * scale + dy;
                        if (px >= 0 && py >= 0 && px < image.width && py < image.height) {
                            std::memcpy(image.at(px, py), colour.data(), 4);
                        }
                    }
                }
            }
        }
    }
}

int textWidth(const std::string& text, int scale) {
    return text.empty() ? 0 : (static_cast<int>(text.size()) * 4 - 1) * scale;
}

} // namespace Shots
