#include "engine/Framebuffer.h"

#include "base/Vexception.h"
#include "engine/FramebufferStack.h"
#include "engine/Window.h"

#include <stdexcept>

namespace Velmora {

Framebuffer* Framebuffer::create(unsigned colorCount, int width, int height, bool depth) {
    Framebuffer* framebuffer = new Framebuffer(width, height);
    framebuffer->bind();
    for (unsigned i = 0; i < colorCount; ++i) {
        framebuffer->ownedTextures.push_back(std::make_unique<Texture>(GL_TEXTURE_2D));
        Texture* texture = framebuffer->ownedTextures.back().get();
        // Already bound by its constructor: this only logs the "already binded" warning.
        texture->bind();
        // Unsized GL_RGBA: the driver picks the storage; GL_FLOAT only describes the absent data.
        texture->texImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
        texture->setParameter(GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        texture->setParameter(GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        framebuffer->addColorTexture(texture);
    }
    if (depth) {
        framebuffer->ownedRenderbuffers.push_back(
            std::make_unique<Renderbuffer>(GL_DEPTH_COMPONENT, width, height));
        framebuffer->addRenderbuffer(framebuffer->ownedRenderbuffers.back().get(), GL_DEPTH_ATTACHMENT);
    }
    for (unsigned i = 0; i < colorCount; ++i) {
        glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, framebuffer->colorTextures[i]->id(),
                             0);
    }
    framebuffer->attachColorTextures();
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        // Left allocated and bound: the program ends on this exception.
        throw Vexception("Not Framebuffer complete.");
    }
    framebuffer->unbind();
    return framebuffer;
}

Framebuffer::Framebuffer(int width, int height) : targetWidth(width), targetHeight(height) {
    glGenFramebuffers(1, &name);
}

Framebuffer::~Framebuffer() {
    glDeleteFramebuffers(1, &name);
}

void Framebuffer::bind() {
    // Through 0 first, as the window target would be, so a driver that tracks binding changes
    // always sees one.
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, name);
    glViewport(0, 0, targetWidth, targetHeight);
    glClear(GL_COLOR_BUFFER_BIT);
    FramebufferStack::instance().push(this);
}

void Framebuffer::unbind() {
    FramebufferStack& stack = FramebufferStack::instance();
    if (stack.empty()) {
        throw Vexception("FBO stack is already empty!");
    }
    if (stack.top() != this) {
        throw Vexception("Failed to unbind an FBO.");
    }
    stack.pop();
    if (stack.empty() && stack.baseTarget() != 0) {
        // An off-screen run: the base target stands in for the window.
        glBindFramebuffer(GL_FRAMEBUFFER, stack.baseTarget());
        glViewport(0, 0, stack.baseTargetWidth(), stack.baseTargetHeight());
    } else if (stack.empty()) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, Window::width(), Window::height());
    } else {
        stack.top()->rebind();
    }
}

void Framebuffer::rebind() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, name);
    glViewport(0, 0, targetWidth, targetHeight);
}

Framebuffer* Framebuffer::currentFramebuffer() {
    return FramebufferStack::instance().top();
}

void Framebuffer::requireBound() {
    if (currentFramebuffer() != this) {
        throw Vexception("Fbo not bounded. Something HAS went wrong.");
    }
}

void Framebuffer::addColorTexture(Texture* texture) {
    requireBound();
    const GLenum attachment = GL_COLOR_ATTACHMENT0 + static_cast<GLenum>(colorTextures.size());
    glFramebufferTexture(GL_FRAMEBUFFER, attachment, texture->id(), 0);
    colorTextures.push_back(texture);
}

void Framebuffer::addRenderbuffer(Renderbuffer* renderbuffer, GLenum attachment) {
    if (renderbuffers.count(attachment) != 0) {
        throw Vexception("Failed to add a new rbo to an fbo");
    }
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, renderbuffer->id());
    renderbuffers.emplace(attachment, renderbuffer);
}

void Framebuffer::attachColorTextures() {
    std::vector<GLenum> drawBuffers;
    drawBuffers.reserve(colorTextures.size());
    for (size_t i = 0; i < colorTextures.size(); ++i) {
        const GLenum attachment = GL_COLOR_ATTACHMENT0 + static_cast<GLenum>(i);
        glFramebufferTexture2D(GL_FRAMEBUFFER, attachment, GL_TEXTURE_2D, colorTextures[i]->id(), 0);
        drawBuffers.push_back(attachment);
    }
    glDrawBuffers(static_cast<GLsizei>(drawBuffers.size()), drawBuffers.data());
}

Texture* Framebuffer::colorTexture(unsigned index) {
    return colorTextures.at(index);
}

void Framebuffer::readColor(uint8_t* out) const {
    GLint readFramebuffer = 0;
    GLint packBuffer = 0;
    GLint packAlignment = 4;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer);
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &packBuffer);
    glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, name);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glReadPixels(0, 0, targetWidth, targetHeight, GL_RGBA, GL_UNSIGNED_BYTE, out);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFramebuffer));
    glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(packBuffer));
    glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
}

} // namespace Velmora
