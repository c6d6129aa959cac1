#include "engine/VertexArray.h"

namespace Velmora {

VertexArray& VertexArray::instance() {
    // Made after the window (whose instance outlives it), so the context still exists when the
    // destructor deletes the name at exit.
    static VertexArray vertexArray;
    return vertexArray;
}

VertexArray::VertexArray() {
    glGenVertexArrays(1, &name);
}

VertexArray::~VertexArray() {
    glDeleteVertexArrays(1, &name);
}

void VertexArray::bind() {
    glBindVertexArray(name);
}

void VertexArray::enableAttribute(GLuint index) {
    glEnableVertexAttribArray(index);
}

void VertexArray::disableAttribute(GLuint index) {
    glDisableVertexAttribArray(index);
}

void VertexArray::attributePointer(GLuint index, GLint size, GLenum type, GLboolean normalized,
                                   GLsizei stride, const void* offset) {
    glVertexAttribPointer(index, size, type, normalized, stride, offset);
}

void VertexArray::attributeDivisor(GLuint index, GLuint divisor) {
    glVertexAttribDivisor(index, divisor);
}

} // namespace Velmora
