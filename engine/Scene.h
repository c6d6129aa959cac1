// Base of every scene. Scenes are owned and deleted through this base.
#pragma once

#include "engine/FrameClock.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {

class Scene {
public:
    virtual void update(double dt) { (void)dt; }
    virtual void draw() {}
    // Back to the state of a freshly made scene, without loading anything again.
    virtual void reset() {}
    // Sets the clocks to those after `clocks.steps` updates from a fresh scene (see FrameClock.h);
    // the next update advances them by one step.
    virtual void setClocks(const SceneClocks& clocks) { (void)clocks; }
    // Everything a drawn frame leaves for the next one, as bytes: equal bytes after a frame mean
    // that every later frame is drawn the same. Empty when the scene cannot tell.
    virtual std::vector<uint8_t> carriedState() { return {}; }
    // Puts back what carriedState() returned (the clocks excepted: setClocks sets them). Returns
    // an empty string, or why the bytes do not fit this scene.
    virtual std::string restoreCarriedState(const std::vector<uint8_t>& bytes) {
        (void)bytes;
        return "this scene carries no state that can be put back";
    }
    virtual ~Scene() = default;
};

} // namespace Velmora
