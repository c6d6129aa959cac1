// One display mode as the platform reports it: size in pixels and colour depth in bits per pixel.
// The conversion from per-channel bit counts lives here so that it is the same for every platform
// that reports channels rather than pixel sizes.
#pragma once

#include <cstdint>

struct DisplayMode {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;
};

// Bits per pixel of a mode with the given red, green and blue bit counts: the sum rounded up to
// whole bytes, where a three-byte pixel is stored in four (24-bit and 30-bit colour count as 32).
// Negative counts are treated as 0.
int32_t bitsPerPixelFromChannels(int red, int green, int blue);
