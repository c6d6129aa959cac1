// One OpenGL buffer object (vertex data). Owns its GL name from construction to destruction.
//
// setData/setSubData act on the target the buffer was last bound to and do not bind it themselves:
// callers bind first. GL errors are not checked.
#pragma once

#include <GL/glew.h>

#include <type_traits>

namespace Velmora {

class BufferObject {
public:
    // Generates the name; binds it to target unless target is 0 (then nothing is bound and the
    // stored target stays 0 until the first bind).
    explicit BufferObject(GLenum target);
    ~BufferObject();

    // glBindBuffer(target, id) and remembers target for setData/setSubData.
    virtual void bind(GLenum target);
    virtual void setData(GLsizeiptr size, const void* data, GLenum usage);
    virtual void setSubData(GLintptr offset, GLsizeiptr size, const void* data);

    GLuint id() const { return name; }
    GLenum target() const { return boundTarget; }

    BufferObject(const BufferObject&) = delete;
    BufferObject& operator=(const BufferObject&) = delete;

private:
    GLuint name = 0;
    GLenum boundTarget = 0;
};

static_assert(!std::is_copy_constructible<BufferObject>::value, "BufferObject owns a GL name");

} // namespace Velmora
