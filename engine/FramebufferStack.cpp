#include "engine/FramebufferStack.h"

#include "engine/PixelPackBuffer.h"
#include "engine/Window.h"

#include <GL/glew.h>

namespace Velmora {

FramebufferStack& FramebufferStack::instance() {
    static FramebufferStack stack;
    return stack;
}

void FramebufferStack::bindBase() {
    glBindFramebuffer(GL_FRAMEBUFFER, baseName);
    if (baseName != 0) {
        glViewport(0, 0, baseWidth, baseHeight);
    } else {
        glViewport(0, 0, Window::width(), Window::height());
    }
}

void FramebufferStack::copyBaseToWindow() {
    if (baseName == 0) {
        return;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, baseName);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(0, 0, baseWidth, baseHeight, 0, 0, baseWidth, baseHeight, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

std::vector<uint8_t> FramebufferStack::readBase() {
    GLint previousRead = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previousRead);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, baseName);
    std::vector<uint8_t> pixels = baseName != 0 ? readPixelsTopDown(baseWidth, baseHeight)
                                                : readPixelsTopDown(Window::width(), Window::height());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previousRead));
    return pixels;
}

} // namespace Velmora
