#include "engine/Renderbuffer.h"

namespace Velmora {

Renderbuffer::Renderbuffer(GLenum internalFormat, GLsizei width, GLsizei height) {
    glGenRenderbuffers(1, &name);
    glBindRenderbuffer(GL_RENDERBUFFER, name);
    glRenderbufferStorage(GL_RENDERBUFFER, internalFormat, width, height);
}

Renderbuffer::~Renderbuffer() {
    glDeleteRenderbuffers(1, &name);
}

} // namespace Velmora
