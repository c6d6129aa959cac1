// Velmora::Demo, the presentation as the frame loop sees it: advance by dt, then draw one frame. (The
// header is named for what it is, the interface, apart from the show that implements it, demo/Demo.h.)
#pragma once

namespace Velmora {

class Demo {
public:
    virtual void update(double dt) = 0;
    virtual void draw() = 0;
    // Back to the state of a freshly built presentation (clocks, history of earlier frames).
    virtual void reset() = 0;

protected:
    // Not deleted through this base: the one demo object is a local of the entry point.
    ~Demo() = default;
};

} // namespace Velmora
