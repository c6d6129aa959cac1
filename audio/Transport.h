// Plays a decoded file (a PcmBuffer) to an audio device: the callback side of the live player and
// the controls the main thread works it with: play, pause, seek and a loop, each exact to the
// sample, with short fades so that nothing clicks.
//
// Two threads and no lock. The control thread (the one that owns the player) only writes two
// atomic words: the latest transport command (a serial number, playing or paused, and the file
// frame to continue from) and the loop (its first and end frame). The callback owns the play
// position, takes the latest command at the start of a buffer (a later command replaces an
// earlier one not taken yet) and publishes a PlaybackClock snapshot per buffer. The control
// thread's heard position comes from those snapshots:
//  - paused, it is the position held at the pause (or set by a seek since), exactly;
//  - after a command and until the callback has taken it, it is the command's position, so a
//    seek reads its target at once;
//  - then it follows the snapshots and never goes back within a segment (a jump starts a new
//    one: every command taken, every loop wrap); a resume continues from the held value.
//
// Sound: pause fades out, resume fades in, a seek or a wrap crossfades from the old position
// (which plays on for the fade) to the new one, all over `fadeFrames` (5 ms at 44100 Hz). A wrap
// in a loop shorter than two fades splices without a crossfade. While a loop is set, playback that
// reaches its end frame, or is at or past it, continues at its first frame; playback that starts
// before the loop runs into it. Frames not decoded yet play as silence and hold the position;
// at the end of the file the position holds and the device gets silence.
//
// It does not decode, resample, mix other sources or change the level beyond the fades.
#pragma once

#include "audio/AudioOutput.h"
#include "audio/PlaybackClock.h"

#include <atomic>
#include <cstdint>

namespace Velmora {

class PcmBuffer;

class Transport final : public AudioRenderer {
public:
    static constexpr int defaultFadeFrames = 221;

    explicit Transport(int fadeFrames = defaultFadeFrames);

    // Plays frames 0 .. endFrame of `source` (at most its capacity), paused at frame 0. Only
    // while no render can run; `detach` likewise.
    void attach(const PcmBuffer* source, int64_t endFrame, int sampleRate);
    void detach();

    // Control thread.
    void play();
    void pause(int64_t nowNs);
    // Clamped to 0 .. the end (NaN reads 0); keeps playing or paused as it was.
    void seek(double seconds);
    // Frames, from < to, within the file (the caller checks).
    void setLoop(int64_t fromFrame, int64_t toFrame);
    void clearLoop();
    bool isPlaying() const { return playing; }
    // The heard position in seconds at `nowNs` (see the top of this file).
    double heardSeconds(int64_t nowNs) const;

    // Audio thread.
    void render(float* out, int frames) override { renderAt(out, frames, PlaybackClock::steadyNowNs()); }
    // As render, with the time stamp given (tests drive it with their own clock).
    void renderAt(float* out, int frames, int64_t nowNs);

private:
    void issue(double seconds, bool play);
    void startTail();
    float gainOf(int level) const;

    const int fadeFrames;

    const PcmBuffer* source = nullptr;
    int64_t endFrame = 0;
    int rate = 44100;

    // Written by the control thread, read by the callback.
    std::atomic<uint64_t> command{0};
    std::atomic<uint64_t> loopWord{0};
    PlaybackClock clock;

    // Control thread only.
    bool playing = false;
    uint32_t issued = 0;
    double held = 0.0;
    mutable double last = 0.0;
    mutable uint64_t lastSegment = 0;
    mutable bool synced = false;

    // Audio thread only: the playing voice and the one fading out after a jump, with their
    // levels in frames of fade (fadeFrames is full level).
    uint32_t applied = 0;
    bool running = false;
    int64_t position = 0;
    int ramp = 0;
    int64_t tailPosition = 0;
    int tailRamp = 0;
    uint64_t segment = 0;
    uint64_t commandSegment = 0;
};

} // namespace Velmora
