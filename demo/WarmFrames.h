// Rendering the show at a given sync row, reproducibly.
//
// The feedback pass carries the previous frame, so a single frame at a row is not enough: a fixed
// number of warm-up frames, a fixed time step apart, lead up to the row, starting from a freshly
// built demo. With the offline music clock the result depends only on the row and the plan.
// Used by the golden-frame tests, the capture tool and the benchmarks.
#pragma once

#include "engine/Demo.h"
#include "engine/Scene.h"

#include <cstdint>
#include <vector>

namespace Demo {

struct WarmFrames {
    int frames = 8;              // frames drawn; the last one is at the target row
    double step = 1.0 / 30.0;    // seconds between frames, also the dt handed to update
    double rowsPerSecond = 24.0; // the show's clock: tempo 180, 8 rows per beat
};

// Draws plan.frames frames into the current framebuffer (normally the window): frame i is drawn
// at position row / rowsPerSecond - (frames - 1 - i) * step seconds (not before 0). For each
// frame the sync device is given exactly that row, the music is moved there when it is open in
// offline mode (for the spectrum), the colour and depth are cleared, then update(step) and draw().
// Afterwards the sync device reads the music clock again. Swaps nothing.
void renderWarmFrames(Velmora::Demo& demo, double row, const WarmFrames& plan = WarmFrames());
void renderWarmFrames(Velmora::Scene& scene, double row, const WarmFrames& plan = WarmFrames());

// The current read framebuffer's pixels as RGBA bytes, top row first (PNG order).
std::vector<uint8_t> readPixelsTopDown(int width, int height);

} // namespace Demo
