// A mode's description of its frame loop, which Player::run runs: how the clock moves from frame
// to frame (the clock policy), what becomes of a drawn frame, and the mode's callbacks: at start,
// before each frame, after it and on a key. Working defaults: a description names only what its
// mode needs.
//
// It does not draw or hold state; the player does both, in this order for every frame:
//   stop? (the window's close flag, or the frame count reached) -> queued commands -> `frame`
//   (the mode's choice: draw, warm up, draw nothing, stop) -> the clock moved by the policy and the
//   show drawn -> `drawn` -> the output (present, read back or wait for the GPU) -> window events
//   (polled, or waited for while `idle`) -> `shown`.
#pragma once

#include "engine/FrameClock.h"
#include "engine/Window.h"

#include <cstdint>
#include <functional>

namespace Velmora {

// How a picture at a row is made reproducibly: the feedback pass carries earlier frames, so a fixed
// number of frames a fixed time step apart lead up to the row, from a freshly reset show.
struct WarmFrames {
    int frames = 8;           // frames drawn; the last one is at the target row
    double step = 1.0 / 30.0; // seconds between frames, also the dt handed to update
};

enum class ClockPolicy {
    // The music's own clock as it plays (the show, the edit mode); dt is the window system's time
    // between frames. A warm-up leads to the music's row at that moment.
    Live,
    // Frame k is the show's global frame firstFrame + k at `fps` (engine/FrameClock.h): at
    // frameTime(k) seconds of the music, with the clocks the whole show has at that frame, dt =
    // step (the capture, the timedemo). A warm-up first draws, from a reset show, the `preroll`
    // global frames before it (never before the show's start).
    Offline,
    // Frame k held at row(k): after a warm-up from a freshly reset show (`warm`), or, when
    // warm.frames is 0, as one more frame of `step` seconds (the shots tool, the scene benchmark).
    Held,
};

// What the mode asks of the frame about to be drawn.
enum class FrameChoice {
    Draw,    // the show advanced by the frame's dt at the clock's time
    WarmUp,  // the warm-up frames leading to the clock's row
    Nothing, // no drawing: the last picture stays (paused)
    Stop,    // the loop ends before this frame
};

// What becomes of a frame that was drawn.
enum class FrameOutput {
    // The window: an off-screen target (if one is set) copied to it, then the buffers swapped.
    // A frame with nothing drawn is presented too (the last picture again).
    Present,
    // Read back from the target (or the window) and handed to `picture`, pipelined `readBackDepth`
    // frames deep; every frame read is handed over before run returns, unless an exception ends it.
    ReadBack,
    // Waited for until the GPU has finished it (the timedemo's timing).
    Finish,
};

// What the callbacks learn about the frame.
struct FrameInfo {
    int64_t index = 0;    // the loop's frame number, from 0
    double row = 0.0;     // the row drawn (for Live: the music's row when the frame was drawn)
    double seconds = 0.0; // Live: the window system's time; Offline: the music time; Held: the row's
    double dt = 0.0;      // the seconds the show advanced (Draw)
    FrameChoice choice = FrameChoice::Draw;
};

struct FrameLoop {
    ClockPolicy clock = ClockPolicy::Live;
    // Offline and Held: the number of frames; below 0, until a callback stops the loop.
    int64_t frames = -1;
    // Offline: the music time of frame k. Held: the row of frame k.
    std::function<double(int64_t k)> frameTime;
    std::function<double(int64_t k)> row;
    // Offline and Held: the dt of a frame; the warm-up's frame count and step (Offline: its step is
    // `step`).
    double step = 1.0 / 30.0;
    WarmFrames warm;
    // Offline: the global frame of frame 0, the frame rate, and the warm-up's frames.
    int64_t firstFrame = 0;
    int fps = 30;
    int64_t preroll = showLeadIn;

    FrameOutput output = FrameOutput::Present;
    int readBackDepth = 3;
    // false: window events are never handled (benchmarks); true: polled after every frame.
    bool events = true;
    // The window's close flag (Escape, the close box) ends the loop.
    bool stopOnClose = true;

    // Before the first frame; a non-zero status ends the run with it at once.
    std::function<int()> start;
    // Before each frame: what to do with it. Empty: Draw.
    std::function<FrameChoice(const FrameInfo&)> frame;
    // Right after the drawing (also when nothing was drawn).
    std::function<void(const FrameInfo&)> drawn;
    // After the output and the window events.
    std::function<void(const FrameInfo&)> shown;
    // ReadBack: frame `index`'s pixels, RGBA rows bottom-up as GL gives them.
    std::function<void(int64_t index, const uint8_t* rgbaBottomUp)> picture;
    // A key pressed or repeated (not Escape), on the drawing thread during the window events.
    std::function<void(const KeyPress&)> key;
    // After a frame: true waits for window events (a key, a wake, a command) at most `idleWait`
    // seconds instead of polling them.
    std::function<bool()> idle;
    double idleWait = 0.05;
};

} // namespace Velmora
