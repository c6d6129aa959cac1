// Velmora::Demo, the presentation as the frame loop sees it: advance by dt, then draw one frame. (The
// header is named for what it is, the interface, apart from the show that implements it, demo/Demo.h.)
#pragma once

#include "engine/FrameClock.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {

class Demo {
public:
    virtual void update(double dt) = 0;
    virtual void draw() = 0;
    // Back to the state of a freshly built presentation (clocks, history of earlier frames).
    virtual void reset() = 0;
    // The clocks and the state carried between frames (see Scene).
    virtual void setClocks(const SceneClocks& clocks) = 0;
    virtual std::vector<uint8_t> carriedState() = 0;
    virtual std::string restoreCarriedState(const std::vector<uint8_t>& bytes) = 0;

protected:
    // Not deleted through this base: the one demo object is a local of the entry point.
    ~Demo() = default;
};

} // namespace Velmora
