// One fragment shader run over every pixel of the current target: two triangles covering clip
// space, drawn with the pass's own program and "./data/shaders/trivial.vs".
//
// draw() binds no framebuffer or texture and sets no uniform or GL state: the caller binds the
// target (which sets the viewport), calls program().use(), sets uniforms and inputs, then draws.
#pragma once

#include "engine/BufferObject.h"
#include "engine/ShaderProgram.h"

#include <string>
#include <type_traits>

namespace Velmora {

class FullscreenPass {
public:
    // Vertex shader shared by every pass; reads the position at attribute 0.
    static constexpr const char* vertexShaderPath = "./data/shaders/trivial.vs";

    explicit FullscreenPass(std::string fragmentShaderPath);

    ShaderProgram& program() { return passProgram; }
    // Makes the program current, draws the 6 vertices from attribute 0, disables attribute 0 again.
    void draw();

    FullscreenPass(const FullscreenPass&) = delete;
    FullscreenPass& operator=(const FullscreenPass&) = delete;

private:
    ShaderProgram passProgram;
    BufferObject quad;
};

static_assert(!std::is_copy_constructible<FullscreenPass>::value, "FullscreenPass owns GL names");

} // namespace Velmora
