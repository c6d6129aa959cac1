#include "engine/FullscreenPass.h"

#include "engine/VertexArray.h"

namespace Velmora {

namespace {
// Two counter-clockwise triangles covering clip space from -1 to 1 at z = 0.
const float quadVertices[18] = {
    -1.0f, -1.0f, 0.0f, 1.0f, -1.0f, 0.0f, -1.0f, 1.0f, 0.0f,
    -1.0f, 1.0f,  0.0f, 1.0f, -1.0f, 0.0f, 1.0f,  1.0f, 0.0f,
};
} // namespace

FullscreenPass::FullscreenPass(std::string fragmentShaderPath)
    : passProgram(std::move(fragmentShaderPath), vertexShaderPath, FromFile), quad(GL_ARRAY_BUFFER) {
    quad.bind(GL_ARRAY_BUFFER);
    quad.setData(sizeof(quadVertices), quadVertices, GL_STATIC_DRAW);
}

void FullscreenPass::draw() {
    passProgram.use();
    VertexArray& vertexArray = VertexArray::instance();
    vertexArray.enableAttribute(0);
    quad.bind(GL_ARRAY_BUFFER);
    vertexArray.attributePointer(0, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    vertexArray.disableAttribute(0);
}

} // namespace Velmora
