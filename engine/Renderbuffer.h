// One OpenGL renderbuffer with its storage allocated at construction (a framebuffer's depth).
#pragma once

#include <GL/glew.h>

#include <type_traits>

namespace Velmora {

class Renderbuffer {
public:
    // Generates and binds the name, then allocates internalFormat storage of the given size.
    Renderbuffer(GLenum internalFormat, GLsizei width, GLsizei height);
    // Framebuffers never free their renderbuffers; this only runs when their owner deletes one.
    ~Renderbuffer();

    GLuint id() const { return name; }

    Renderbuffer(const Renderbuffer&) = delete;
    Renderbuffer& operator=(const Renderbuffer&) = delete;

private:
    GLuint name = 0;
};

static_assert(!std::is_copy_constructible<Renderbuffer>::value, "Renderbuffer owns a GL name");

} // namespace Velmora
