// Base of every scene. Scenes are owned and deleted through this base.
#pragma once

namespace Velmora {

class Scene {
public:
    virtual void update(double dt) { (void)dt; }
    virtual void draw() {}
    // Back to the state of a freshly made scene, without loading anything again.
    virtual void reset() {}
    virtual ~Scene() = default;
};

} // namespace Velmora
