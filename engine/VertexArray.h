// The one vertex-array object of the process and the helpers that declare vertex attributes in it.
//
// Made on the first instance() call (which needs a current context with loaded entry points),
// bound once by the entry point and never unbound; deleted at process exit. The attribute helpers
// act on the bound vertex array and read from the buffer bound to GL_ARRAY_BUFFER; they bind nothing.
#pragma once

#include <GL/glew.h>

#include <type_traits>

namespace Velmora {

class VertexArray {
public:
    static VertexArray& instance();

    void bind();
    void enableAttribute(GLuint index);
    void disableAttribute(GLuint index);
    void attributePointer(GLuint index, GLint size, GLenum type, GLboolean normalized, GLsizei stride,
                          const void* offset);
    void attributeDivisor(GLuint index, GLuint divisor);

    GLuint id() const { return name; }

    VertexArray(const VertexArray&) = delete;
    VertexArray& operator=(const VertexArray&) = delete;

private:
    VertexArray();
    ~VertexArray();

    GLuint name = 0;
};

static_assert(!std::is_copy_constructible<VertexArray>::value, "VertexArray is a single instance");

} // namespace Velmora
