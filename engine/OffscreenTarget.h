// A framebuffer that a frame's last pass draws into instead of the window, so that the picture has
// exactly the size asked for whatever the screen (captures, the timedemo, the edit mode's held
// frame). An RGBA8 colour renderbuffer, no depth.
//
// It is bound, copied to the window and read through FramebufferStack's base target, not by itself
// (apart from its own making).
#pragma once

#include <type_traits>

namespace Velmora {

class OffscreenTarget {
public:
    // Throws Vexception when the driver cannot make it complete.
    OffscreenTarget(int width, int height);
    ~OffscreenTarget();

    unsigned id() const { return framebuffer; }
    int width() const { return targetWidth; }
    int height() const { return targetHeight; }

    OffscreenTarget(const OffscreenTarget&) = delete;
    OffscreenTarget& operator=(const OffscreenTarget&) = delete;

private:
    int targetWidth;
    int targetHeight;
    unsigned framebuffer = 0;
    unsigned colour = 0;
};

static_assert(!std::is_copy_constructible<OffscreenTarget>::value, "OffscreenTarget owns GL names");

} // namespace Velmora
