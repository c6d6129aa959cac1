#include "engine/PixelPackBuffer.h"

#include "base/Vexception.h"

#include <GL/glew.h>

#include <cstring>

namespace Velmora {

static_assert(std::is_same<GLuint, unsigned>::value, "GL names are held as unsigned");

PixelPackBuffer::PixelPackBuffer(int width, int height, int depth) : width(width), height(height) {
    buffers.resize(static_cast<size_t>(depth < 1 ? 1 : depth));
    glGenBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
    GLsizeiptr size = static_cast<GLsizeiptr>(width) * height * 4;
    for (GLuint buffer : buffers) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
        glBufferData(GL_PIXEL_PACK_BUFFER, size, nullptr, GL_STREAM_READ);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

PixelPackBuffer::~PixelPackBuffer() {
    glDeleteBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
}

void PixelPackBuffer::start(unsigned framebuffer, int64_t index) {
    if (full()) {
        throw Vexception("PixelPackBuffer: every buffer is in use");
    }
    const GLuint buffer = buffers[next];
    next = (next + 1) % buffers.size();

    GLint previousRead = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previousRead);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(framebuffer));
    // The window's picture is its back buffer, a framebuffer's is its colour attachment 0.
    glReadBuffer(framebuffer == 0 ? GL_BACK : GL_COLOR_ATTACHMENT0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    // Into the buffer object: returns at once; the copy happens when the GPU gets there.
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previousRead));
    inFlight.emplace_back(index, buffer);
}

void PixelPackBuffer::finishOldest(const Consume& consume) {
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

std::vector<uint8_t> readPixelsTopDown(int width, int height) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    const size_t stride = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> pixels(stride * static_cast<size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // GL returns the bottom row first.
    std::vector<uint8_t> row(stride);
    for (int y = 0; y < height / 2; ++y) {
        uint8_t* top = pixels.data() + static_cast<size_t>(y) * stride;
        uint8_t* bottom = pixels.data() + static_cast<size_t>(height - 1 - y) * stride;
        std::memcpy(row.data(), top, stride);
        std::memcpy(top, bottom, stride);
        std::memcpy(bottom, row.data(), stride);
    }
    return pixels;
}

} // namespace Velmora
