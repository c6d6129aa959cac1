#include "app/capture/PixelReadback.h"

#include "base/Vexception.h"

#include <cstring>

namespace Velmora {

PixelReadback::PixelReadback(int width, int height, int depth) : width(width), height(height) {
    buffers.resize(static_cast<size_t>(depth < 1 ? 1 : depth));
    glGenBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
    GLsizeiptr size = static_cast<GLsizeiptr>(width) * height * 4;
    for (GLuint buffer : buffers) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
        glBufferData(GL_PIXEL_PACK_BUFFER, size, nullptr, GL_STREAM_READ);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

PixelReadback::~PixelReadback() {
    glDeleteBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
}

void PixelReadback::start(GLuint framebuffer, int64_t index) {
    if (full()) {
        throw Vexception("PixelReadback: every buffer is in use");
    }
    GLuint buffer = buffers[next];
    next = (next + 1) % buffers.size();

    GLint previousRead = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previousRead);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    // Into the buffer object: returns at once; the copy happens when the GPU gets there.
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previousRead));
    inFlight.emplace_back(index, buffer);
}

void PixelReadback::finishOldest(const Consume& consume) {
    if (inFlight.empty()) {
        return;
    }
    auto [index, buffer] = inFlight.front();
    inFlight.pop_front();
    GLsizeiptr size = static_cast<GLsizeiptr>(width) * height * 4;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
    const void* pixels = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, size, GL_MAP_READ_BIT);
    if (pixels == nullptr) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        throw Vexception("Cannot map the read-back buffer of frame " + std::to_string(index));
    }
    try {
        consume(index, static_cast<const uint8_t*>(pixels));
    } catch (...) {
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        throw;
    }
    glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

void flipRows(const uint8_t* in, uint8_t* out, int width, int height) {
    size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        std::memcpy(out + static_cast<size_t>(height - 1 - y) * row, in + static_cast<size_t>(y) * row, row);
    }
}

} // namespace Velmora
