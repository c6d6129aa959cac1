#include "demo/WarmFrames.h"

#include "audio/Music.h"
#include "sync/SyncDevice.h"

#include <GL/glew.h>

#include <algorithm>
#include <cstring>

namespace Demo {

namespace {

template <typename Show> void render(Show& show, double row, const WarmFrames& plan) {
    Velmora::SyncDevice& device = Velmora::SyncDevice::instance();
    Velmora::Music& music = Velmora::Music::instance();
    const double targetSeconds = row / plan.rowsPerSecond;
    double frameRow = 0.0;
    device.setRowSource([&frameRow]() { return frameRow; });
    for (int i = 0; i < plan.frames; ++i) {
        const double seconds = std::max(0.0, targetSeconds - (plan.frames - 1 - i) * plan.step);
        frameRow = (i == plan.frames - 1) ? std::max(0.0, row) : seconds * plan.rowsPerSecond;
        if (music.isOffline()) {
            music.setPosition(seconds);
        }
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        show.update(plan.step);
        show.draw();
    }
    device.setRowSource([]() { return Velmora::Music::instance().row(); });
}

} // namespace

void renderWarmFrames(Velmora::Demo& demo, double row, const WarmFrames& plan) {
    render(demo, row, plan);
}

void renderWarmFrames(Velmora::Scene& scene, double row, const WarmFrames& plan) {
    render(scene, row, plan);
}

std::vector<uint8_t> readPixelsTopDown(int width, int height) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    const size_t stride = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> pixels(stride * static_cast<size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // GL returns the bottom row first.
    std::vector<uint8_t> row(stride);
    for (int y = 0; y < height / 2; ++y) {
        uint8_t* top = pixels.data() + static_cast<size_t>(y) * stride;
        uint8_t* bottom = pixels.data() + static_cast<size_t>(height - 1 - y) * stride;
        std::memcpy(row.data(), top, stride);
        std::memcpy(top, bottom, stride);
        std::memcpy(bottom, row.data(), stride);
    }
    return pixels;
}

} // namespace Demo
