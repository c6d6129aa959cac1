#include "engine/Gpu.h"

#include <GL/glew.h>

#include <algorithm>

namespace Velmora {

namespace Gpu {

void clearFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void finish() {
    glFinish();
}

int largestTargetSide() {
    GLint largestTexture = 0;
    GLint largestRenderbuffer = 0;
    GLint largestViewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestTexture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largestRenderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, largestViewport);
    return std::min({largestTexture, largestRenderbuffer, largestViewport[0], largestViewport[1]});
}

} // namespace Gpu

} // namespace Velmora
