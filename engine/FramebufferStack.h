// The process-wide stack of bound framebuffers.
//
// The back element is the framebuffer bound for drawing; an empty stack means the window's default
// framebuffer. The same framebuffer may be on it more than once. Rule: only Framebuffer::bind pushes
// and only Framebuffer::unbind pops (and Framebuffer::create through them); nothing else binds a
// framebuffer.
//
// The base target is what an empty stack means: the window (GL name 0, the window's size) unless an
// off-screen run (capture, timedemo) redirects it to a framebuffer of its own, so that the last pass
// of a frame lands there at that framebuffer's size. Rule: only the player sets it (and binds it,
// as the window would be, while the stack is empty, through bindBase); only Framebuffer::unbind
// and the three base-target operations below read it. Those operations are the only other places
// that bind a framebuffer, and each leaves the stack's binding as a frame expects it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace Velmora {

class Framebuffer;

class FramebufferStack {
public:
    static FramebufferStack& instance();

    // The back element, or null when empty.
    Framebuffer* top() const { return entries.empty() ? nullptr : entries.back(); }
    bool empty() const { return entries.empty(); }
    std::size_t size() const { return entries.size(); }

    void push(Framebuffer* framebuffer) { entries.push_back(framebuffer); }
    void pop() { entries.pop_back(); }

    // Redirects the base target to the GL framebuffer `name` of the given size; name 0 restores the
    // window (whose size then comes from Window).
    void setBaseTarget(unsigned name, int width, int height) {
        baseName = name;
        baseWidth = width;
        baseHeight = height;
    }
    unsigned baseTarget() const { return baseName; }
    int baseTargetWidth() const { return baseWidth; }
    int baseTargetHeight() const { return baseHeight; }

    // Binds the base target for drawing, with a viewport of its size (the window's when it is the
    // window), as the start of a frame expects.
    void bindBase();
    // Copies an off-screen base target to the window's back buffer at its own size (nearest, no
    // scaling), then binds the window. Does nothing when the base target is the window.
    void copyBaseToWindow();
    // The base target's pixels as RGBA bytes, top row first (PNG order); restores the bindings.
    std::vector<uint8_t> readBase();

    FramebufferStack(const FramebufferStack&) = delete;
    FramebufferStack& operator=(const FramebufferStack&) = delete;

private:
    FramebufferStack() = default;

    std::deque<Framebuffer*> entries;
    unsigned baseName = 0;
    int baseWidth = 0;
    int baseHeight = 0;
};

} // namespace Velmora
