#include "engine/OffscreenTarget.h"

#include "base/Vexception.h"

#include <GL/glew.h>

#include <string>

namespace Velmora {

OffscreenTarget::OffscreenTarget(int width, int height) : targetWidth(width), targetHeight(height) {
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    glGenRenderbuffers(1, &colour);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    // Sized RGBA8: exactly what is read back, whatever the driver does with unsized formats.
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        throw Vexception("Cannot make the " + std::to_string(width) + "x" + std::to_string(height) +
                         " off-screen target (framebuffer status " + std::to_string(status) + ")");
    }
}

OffscreenTarget::~OffscreenTarget() {
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &colour);
}

} // namespace Velmora
