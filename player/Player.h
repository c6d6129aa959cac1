// The one owner of the frame loop, used by every way of running the show: the show itself, the
// edit mode, the capture and the timedemo, the review tool, the GL tests and the benchmarks.
//
// It does the start-up in the show's order: the window and its GL context, GLEW, the one
// vertex-array object, the sync device (its row read from the player's ShowClock), then on request
// the music (live or offline) and the show (Demo::Demo, then the end track "e"). Per frame it
// clears, updates and draws; it can draw the warm-up frames that lead to a row from a freshly reset
// show; and it can send the last pass into an off-screen target of its own instead of the window.
// Other threads hand it work through a command queue that the drawing thread runs between frames.
//
// It runs every mode's frame loop (run): each mode describes its loop (FrameLoop: a clock policy,
// what becomes of a frame, and callbacks at start, before and after each frame and on a key), and
// the player applies the queued commands, moves the clock, draws, and presents or reads back.
//
// It does not decide what a mode does with a frame or when a mode stops, and it includes no
// window-system or GL header: the window, the framebuffer stack and the GPU requests of engine/
// do that for it.
#pragma once

#include "audio/Music.h"
#include "demo/Demo.h"
#include "engine/FrameClock.h"
#include "engine/OffscreenTarget.h"
#include "engine/PixelPackBuffer.h"
#include "engine/Window.h"
#include "player/FrameLoop.h"
#include "player/ShowClock.h"
#include "sync/SyncDevice.h"
#include "sync/SyncTrack.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Velmora {

struct PlayerDesc {
    int width = 1280;
    int height = 720;
    const char* title = "Velmora";
    bool fullscreen = false;
    // false: swap interval 0; true: the driver's own.
    bool vsync = false;
    // Off-screen runs, tools and tests: the window is never shown.
    bool hidden = false;
};

class Player {
public:
    static constexpr const char* musicPath = "./data/sydaembient.mp3";
    static constexpr double musicBpm = 180.0;

    // Opens the window, loads GL, binds the vertex-array object and creates the sync device, whose
    // row then comes from clock(). Throws as those steps do.
    explicit Player(const PlayerDesc& desc);
    // The show goes first; the process-wide instances stay until the process ends.
    ~Player();

    int width() const { return size[0]; }
    int height() const { return size[1]; }
    Window& window() { return *windowInstance; }
    SyncDevice& sync() { return *syncDevice; }
    Music& music() { return *musicInstance; }
    ShowClock& clock() { return showClock; }

    // Opens the soundtrack at the show's tempo: live through the audio device (not started), or
    // offline (no device, the caller sets the position).
    void openMusic(bool offline);
    // Builds the show (Demo::Demo) for the player's size, then the end track's handle.
    void buildShow();
    bool hasShow() const { return show != nullptr; }
    ::Demo::Demo& demo() { return *show; }
    // The end track "e" is below 0 (or not a number) at the clock's row.
    bool endReached() const;

    // One frame into the current target: clear colour and depth, update(dt), draw.
    void drawFrame(double dt);
    // Resets the show and draws plan.frames frames: frame i at row - (frames - 1 - i) * step seconds
    // (not before 0), each with the clock held there, the last one exactly at `row`. The clock
    // stays held at `row`. With the same plan, the picture depends only on the row.
    void drawWarmFrames(double row, const WarmFrames& plan = WarmFrames());
    // Draws global frame `index` at `fps` into the current target (see engine/FrameClock.h): the
    // music held at frameSeconds(index, fps), the show's clocks set to those of the continuous
    // show before that frame, then one update of 1/fps and the draw. After resetShow(), drawing
    // frames a, a+1, ... b gives for frame b what any other run from a reset gives when its history
    // since its own start has reached the same state.
    void drawShowFrame(int64_t index, int fps);
    // Back to a freshly built show (Demo::reset), the clock following the music.
    void resetShow();

    // Sends the last pass of every frame into `target` (null: the window again). The target must
    // outlive its use.
    void setTarget(const OffscreenTarget* target);
    const OffscreenTarget* target() const { return offscreen; }
    // Binds what the next frame draws into: the target (with its viewport), or the window.
    void bindTarget();
    // The current target's picture (the window's when none is set), RGBA, top row first.
    std::vector<uint8_t> readTarget();

    // Queues work for the drawing thread; safe from any thread.
    void post(std::function<void()> command);
    // Drawing thread: runs the queued commands in order.
    void applyCommands();

    // Runs the loop `loop` describes until it stops (FrameLoop.h has the order of a frame). Returns
    // the start callback's non-zero status, or 0. The callbacks' exceptions end it and pass through.
    int run(const FrameLoop& loop);

    // The show as designed: frames at the music's clock until "e" goes below 0 or the window is
    // asked to close, presented as they are drawn. Returns 0.
    int runShow();

    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

private:
    // The frame's clock moved by the loop's policy, then the choice drawn.
    void drawChoice(const FrameLoop& loop, FrameInfo& info);
    // Binds the off-screen target when there is one.
    void bindOffscreen();
    double rowsPerSecond() const;

    int size[2];
    Window* windowInstance;
    SyncDevice* syncDevice;
    Music* musicInstance;
    ShowClock showClock;
    std::unique_ptr<::Demo::Demo> show;
    std::optional<SyncTrack> end;
    const OffscreenTarget* offscreen = nullptr;
    ClockReplay clockReplay;

    std::mutex queueLock;
    std::vector<std::function<void()>> queue;
};

} // namespace Velmora
