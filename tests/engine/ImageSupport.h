// Test images written at test time with stb_image_write.
#pragma once

#include "tests/engine/TestSupport.h"

#include <stb_image_write.h>

#include <string>
#include <vector>

namespace ImageSupport {

// A recognisable sample value for every pixel and channel.
inline unsigned char sample(int x, int y, int channel) {
    return static_cast<unsigned char>(x * 37 + y * 11 + channel * 67 + 5);
}

inline std::vector<unsigned char> pattern(int width, int height, int channels) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                pixels[(static_cast<size_t>(y) * width + x) * channels + c] = sample(x, y, c);
            }
        }
    }
    return pixels;
}

// Writes a PNG of the pattern with `channels` channels and returns its path.
inline std::string writePng(const std::string& name, int width, int height, int channels) {
    const std::string path = TestSupport::scratchPath(name);
    const std::vector<unsigned char> pixels = pattern(width, height, channels);
    stbi_write_png(path.c_str(), width, height, channels, pixels.data(), width * channels);
    return path;
}

} // namespace ImageSupport
