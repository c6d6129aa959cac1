// Something that draws itself with the current GL state.
#pragma once

namespace Velmora {

class Renderable {
public:
    virtual void draw() = 0;

protected:
    // Renderables are held by value, never deleted through this base.
    ~Renderable() = default;
};

} // namespace Velmora
