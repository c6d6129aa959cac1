// The few whole-context GL requests a frame loop makes, named so that the player and the modes
// need no GL header: clearing the frame, waiting for the GPU, and the largest size it can draw.
//
// It does not bind framebuffers (FramebufferStack does) or keep any state.
#pragma once

namespace Velmora {

namespace Gpu {

// Clears colour and depth of what is bound for drawing.
void clearFrame();
// Returns when the GPU has finished every command given so far (timing a frame).
void finish();
// The largest width or height a target can have in this context: the smallest of the largest
// texture, renderbuffer and viewport sides.
int largestTargetSide();

} // namespace Gpu

} // namespace Velmora
