// The process-wide stack of bound framebuffers.
//
// The back element is the framebuffer bound for drawing; an empty stack means the window's default
// framebuffer. The same framebuffer may be on it more than once. Rule: only Framebuffer::bind pushes
// and only Framebuffer::unbind pops (and Framebuffer::create through them); nothing else binds a
// framebuffer.
#pragma once

#include <cstddef>
#include <deque>

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

    FramebufferStack(const FramebufferStack&) = delete;
    FramebufferStack& operator=(const FramebufferStack&) = delete;

private:
    FramebufferStack() = default;

    std::deque<Framebuffer*> entries;
};

} // namespace Velmora
