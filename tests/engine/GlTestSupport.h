// GL test helpers: state read-back and a counting shim for one GLEW entry point.
#pragma once

#include <GL/glew.h>

#include <array>

namespace GlTestSupport {

inline GLint integer(GLenum pname) {
    GLint value = 0;
    glGetIntegerv(pname, &value);
    return value;
}

inline std::array<GLint, 4> viewport() {
    std::array<GLint, 4> value{};
    glGetIntegerv(GL_VIEWPORT, value.data());
    return value;
}

// RGBA bytes of one pixel of the bound read framebuffer.
inline std::array<unsigned char, 4> pixel(int x, int y) {
    std::array<unsigned char, 4> value{};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, value.data());
    return value;
}

// Counts glUseProgram calls made through GLEW while alive (the engine calls it only through GLEW).
class UseProgramCounter {
public:
    UseProgramCounter() {
        real = __glewUseProgram;
        calls = 0;
        __glewUseProgram = &countingUseProgram;
    }
    ~UseProgramCounter() { __glewUseProgram = real; }
    int count() const { return calls; }

    UseProgramCounter(const UseProgramCounter&) = delete;
    UseProgramCounter& operator=(const UseProgramCounter&) = delete;

private:
    static void GLAPIENTRY countingUseProgram(GLuint program) {
        ++calls;
        real(program);
    }
    static inline PFNGLUSEPROGRAMPROC real = nullptr;
    static inline int calls = 0;
};

} // namespace GlTestSupport
