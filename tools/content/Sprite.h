// The particle sprite: a soft round dot, white with straight (not premultiplied) alpha that falls off
// like a Gaussian and reaches exactly 0 before the image border, so additive GL_SRC_ALPHA / GL_ONE
// blending shows no square edge and linear filtering pulls in no dark fringe.
#pragma once

#include <string>
#include <vector>

namespace Content {

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels; // rows top to bottom, 4 bytes per pixel
};

RgbaImage makeSprite(int size);

// PNG bytes of the image (stb_image_write), written whole to a file by writePng.
std::vector<unsigned char> encodePng(const RgbaImage& image);
void writePng(const std::string& path, const RgbaImage& image);

} // namespace Content
