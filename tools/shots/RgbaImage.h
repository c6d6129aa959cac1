// A picture in memory as RGBA bytes, top row first (the PNG order), with the two operations the
// contact sheet needs: an area-averaging downscale and a tiny built-in bitmap font for row
// numbers. No file access and no GL here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Shots {

using Rgba = std::array<uint8_t, 4>;

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // width * height * 4 bytes

    RgbaImage() = default;
    RgbaImage(int width, int height, Rgba fill);

    // Pixel (x, y) from the top left; no bounds check.
    uint8_t* at(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
    const uint8_t* at(int x, int y) const { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

// The source scaled to width x height: every target pixel is the average of the source area it
// covers (partly covered source pixels count by the covered fraction). Sizes below 1 give an
// empty image; scaling up is allowed (it repeats pixels).
RgbaImage downscale(const RgbaImage& source, int width, int height);

// Draws text with a 3x5-pixel font magnified `scale` times, its top left corner at (x, y); parts
// outside the image are clipped. The font has the digits, '.', '-' and ' '; other characters
// are drawn as blanks. Each character advances 4 * scale pixels.
void drawText(RgbaImage& image, int x, int y, int scale, const std::string& text, Rgba colour);

// Width in pixels that drawText covers (no trailing gap).
int textWidth(const std::string& text, int scale);

// Height in pixels of a line of text.
inline int textHeight(int scale) {
    return 5 * scale;
}

} // namespace Shots
