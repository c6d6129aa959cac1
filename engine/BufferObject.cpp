#include "engine/BufferObject.h"

namespace Velmora {

BufferObject::BufferObject(GLenum target) {
    glGenBuffers(1, &name);
    if (target != 0) {
        glBindBuffer(target, name);
        boundTarget = target;
    }
}

BufferObject::~BufferObject() {
    glDeleteBuffers(1, &name);
}

void BufferObject::bind(GLenum target) {
    glBindBuffer(target, name);
    boundTarget = target;
}

void BufferObject::setData(GLsizeiptr size, const void* data, GLenum usage) {
    glBufferData(boundTarget, size, data, usage);
}

void BufferObject::setSubData(GLintptr offset, GLsizeiptr size, const void* data) {
    glBufferSubData(boundTarget, offset, size, data);
}

} // namespace Velmora
