// The show's frames by their global index, and the clocks each frame runs with.
//
// Global frame g of a plan at `fps` frames per second is drawn at music time frameSeconds(g, fps).
// The show starts from a freshly reset scene with `showLeadIn` frames at time 0 (global frames
// -showLeadIn .. -1, never written), so frame 0 already carries a few frames of trails. A frame's
// clocks (the scene's float clock, the particle clocks, the frame parity) are those of the
// continuous show: the scene has made exactly g + showLeadIn steps of 1/fps before frame g, each
// step rounded as the scene's update rounds it. So any run that draws frame g, whatever frame it
// started from, draws it with the same time and the same clocks. No GL; header only.
#pragma once

#include <cmath>
#include <cstdint>

namespace Velmora {

constexpr int64_t showLeadIn = 7;

// Music time of global frame `index`: the one expression every path uses (frames before 0 are at 0).
inline double frameSeconds(int64_t index, int fps) {
    return index <= 0 ? 0.0 : static_cast<double>(index) / fps;
}

// The first global frame at or after `seconds` (a frame landing on it within a millionth of a
// frame counts as at it): 0 for 0, 60 for 2.0 s at 30 fps, 4 for 0.1 s at 30 fps.
inline int64_t firstFrameAt(double seconds, int fps) {
    if (!(seconds > 0.0) || fps <= 0) {
        return 0;
    }
    return static_cast<int64_t>(std::ceil(seconds * fps - 1e-6));
}

// One update's step of the scene's clock (a float) and of a particle cloud's clock (a double).
inline float advanceSceneClock(float seconds, double dt) {
    return static_cast<float>(static_cast<double>(seconds) + dt);
}
inline double advanceParticleClock(double seconds, double dt) {
    return seconds + dt;
}

// A scene's clocks after `steps` updates of the same dt from a fresh scene.
struct SceneClocks {
    int64_t steps = 0;
    float scene = 0.0f;
    double particles = 0.0;
};

// Derives SceneClocks by replaying the steps (so they are bit for bit what a continuous run
// reaches), remembering the last answer so that consecutive frames cost one step each.
class ClockReplay {
public:
    SceneClocks at(int64_t steps, double dt) {
        if (steps < last.steps || dt != lastDt) {
            last = SceneClocks();
            lastDt = dt;
        }
        while (last.steps < steps) {
            last.scene = advanceSceneClock(last.scene, dt);
            last.particles = advanceParticleClock(last.particles, dt);
            ++last.steps;
        }
        return last;
    }

private:
    SceneClocks last;
    double lastDt = 0.0;
};

} // namespace Velmora
