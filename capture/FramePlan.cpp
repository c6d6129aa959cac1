#include "capture/FramePlan.h"

#include <cmath>

namespace Velmora {

int64_t FramePlan::firstSample(int sampleRate) const {
    return std::llround(from * sampleRate);
}

int64_t FramePlan::sampleCount(int sampleRate) const {
    return std::llround(endTime() * sampleRate) - firstSample(sampleRate);
}

int64_t framesBefore(double from, double end, int fps) {
    if (!(end > from) || fps <= 0) {
        return 0;
    }
    // A tolerance of a millionth of a frame keeps "from 0 to 2 at 30 fps" at 60 frames, not 61.
    double frames = std::ceil((end - from) * fps - 1e-6);
    return frames > 0 ? static_cast<int64_t>(frames) : 0;
}

FramePlan planFrames(double from, double end, int fps,
                     const std::function<bool(double seconds)>& showGoesOn) {
    FramePlan plan;
    plan.fps = fps;
    plan.first = firstFrameAt(from, fps);
    plan.from = frameSeconds(plan.first, fps);
    const int64_t endFrame = firstFrameAt(end, fps);
    const int64_t limit = endFrame > plan.first ? endFrame - plan.first : 0;
    int64_t k = 0;
    while (k < limit && showGoesOn(plan.frameTime(k))) {
        ++k;
    }
    plan.frameCount = k;
    return plan;
}

} // namespace Velmora
