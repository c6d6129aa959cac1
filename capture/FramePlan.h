// The offline clock of a capture or timedemo: which frames are drawn, at which music time, and
// which span of the soundtrack goes with them.
//
// Frame k of a plan is global frame first + k of the show (engine/FrameClock.h): drawn at music time
// frameSeconds(first + k, fps), advancing the scene by exactly 1 / fps, so the pictures depend
// neither on how fast the machine draws nor on where the run started. Pure arithmetic; no GL, no
// audio.
#pragma once

#include "engine/FrameClock.h"

#include <cstdint>
#include <functional>

namespace Velmora {

struct FramePlan {
    double from = 0.0; // music time of frame 0, seconds: frameSeconds(first, fps)
    int fps = 30;
    int64_t frameCount = 0;
    int64_t first = 0; // global index of frame 0

    double frameTime(int64_t k) const { return frameSeconds(first + k, fps); }
    double frameDuration() const { return 1.0 / fps; }
    // Music time just after the last frame: the span covered is [from, endTime()).
    double endTime() const { return frameTime(frameCount); }
    // The span in sample frames at `sampleRate`: first sample and count, both rounded to the nearest
    // sample so that consecutive spans join without gap or overlap.
    int64_t firstSample(int sampleRate) const;
    int64_t sampleCount(int sampleRate) const;
};

// Number of frames k >= 0 with from + k / fps < end (end is --to or the music's length, whichever
// is earlier). A frame time that lands on `end` within rounding error is not included.
int64_t framesBefore(double from, double end, int fps);

// Builds the plan: from the first global frame at or after `from` (firstFrameAt) up to the last
// one before `end`, cut before the first frame at whose time `showGoesOn` answers false (the end
// track went below 0).
FramePlan planFrames(double from, double end, int fps, const std::function<bool(double seconds)>& showGoesOn);

} // namespace Velmora
