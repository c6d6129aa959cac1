// The record the entry point fills with defaults and the setup dialog edits.
#pragma once

#include <cstdint>

struct DemoSettings {
    int32_t width = 1280;
    int32_t height = 720;
    int32_t bitsPerPixel = 32;
    int32_t windowed = 1; // 1 = windowed; any other value = fullscreen
    int32_t vsync = 1;    // 1 = leave vertical sync alone; other = swap interval 0
};
