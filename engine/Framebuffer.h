// Off-screen render targets, bound and unbound through the process-wide FramebufferStack.
//
// bind() pushes and clears the colour (never the depth); unbind() pops and restores the previous
// target and its viewport, or the window with the window's viewport. Binds and unbinds nest
// strictly. Misuse throws Vexception with a fixed message. Framebuffers are heap objects made by
// create() and normally live until the process ends.
#pragma once

#include "engine/Renderbuffer.h"
#include "engine/Texture.h"

#include <GL/glew.h>

#include <cstdint>
#include <map>
#include <memory>
#include <type_traits>
#include <vector>

namespace Velmora {

class Framebuffer {
public:
    // The standard target: colorCount GL_RGBA colour textures (nearest filtering) of the given size
    // and, when depth, a GL_DEPTH_COMPONENT renderbuffer. Returns it unbound, with the stack as it
    // was. Throws Vexception "Not Framebuffer complete." (the new framebuffer then stays bound).
    static Framebuffer* create(unsigned colorCount, int width, int height, bool depth);

    // Generates the GL name; binds nothing.
    Framebuffer(int width, int height);
    // Deletes the GL name and the textures and renderbuffers that create() made for it. Never
    // delete a framebuffer that is still on the stack.
    ~Framebuffer();

    // Binds for drawing, sets the viewport to its size, clears its colour, pushes it.
    void bind();
    // Pops it (it must be the top: "FBO stack is already empty!", "Failed to unbind an FBO.") and
    // restores the new top with rebind(), or the window.
    void unbind();
    // Binds it and sets its viewport; no clear, no stack change.
    void rebind();

    // Top of the stack, or null when the window is the target.
    static Framebuffer* currentFramebuffer();
    // Throws Vexception "Fbo not bounded. Something HAS went wrong." unless it is the top.
    void requireBound();

    // Attaches at GL_COLOR_ATTACHMENT0 + (textures held so far); requires it to be bound.
    void addColorTexture(Texture* texture);
    // Attaches at `attachment` on whatever framebuffer is bound. Throws Vexception
    // "Failed to add a new rbo to an fbo" when that attachment already has one.
    void addRenderbuffer(Renderbuffer* renderbuffer, GLenum attachment);
    // Re-attaches every colour texture as 2-D and sets the draw buffers to all of them.
    void attachColorTextures();

    // Colour texture `index` (attachment order). Throws std::out_of_range past the end.
    Texture* colorTexture(unsigned index);
    unsigned colorTextureCount() const { return static_cast<unsigned>(colorTextures.size()); }

    // Copies colour attachment 0 into `out` (width() * height() * 4 bytes: RGBA, 8 bits a channel,
    // rows bottom-up as GL gives them). Binds nothing for drawing; the read-framebuffer and
    // pixel-pack bindings and the pack alignment are as they were afterwards.
    void readColor(uint8_t* out) const;

    int width() const { return targetWidth; }
    int height() const { return targetHeight; }
    GLuint id() const { return name; }

    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;

private:
    int targetWidth;
    int targetHeight;
    std::map<GLenum, Renderbuffer*> renderbuffers;
    std::vector<Texture*> colorTextures;
    GLuint name = 0;

    // What create() made for this framebuffer (the attachments above only point at them).
    std::vector<std::unique_ptr<Texture>> ownedTextures;
    std::vector<std::unique_ptr<Renderbuffer>> ownedRenderbuffers;
};

static_assert(!std::is_copy_constructible<Framebuffer>::value, "Framebuffer owns a GL name");

} // namespace Velmora
