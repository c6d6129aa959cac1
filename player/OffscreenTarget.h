// A framebuffer that a frame's last pass draws into instead of the window, so that the picture has
// exactly the size asked for whatever the screen (captures, the timedemo, the edit mode's held
// frame). An RGBA8 colour renderbuffer, no depth.
#pragma once

#include <GL/glew.h>

#include <type_traits>

namespace Velmora {

class OffscreenTarget {
public:
    // Throws Vexception when the driver cannot make it complete.
    OffscreenTarget(int width, int height);
    ~OffscreenTarget();

    GLuint id() const { return framebuffer; }
    int width() const { return targetWidth; }
    int height() const { return targetHeight; }

    OffscreenTarget(const OffscreenTarget&) = delete;
    OffscreenTarget& operator=(const OffscreenTarget&) = delete;

private:
    int targetWidth;
    int targetHeight;
    GLuint framebuffer = 0;
    GLuint colour = 0;
};

static_assert(!std::is_copy_constructible<OffscreenTarget>::value, "OffscreenTarget owns GL names");

} // namespace Velmora
