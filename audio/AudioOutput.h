// An audio output device: pulls interleaved stereo float frames from a renderer on the device's
// own thread. One implementation file per backend (SDL2, null); callers pick one through the
// factory functions below. It does not decode, mix or resample anything of its own.
#pragma once

#include <memory>
#include <string>

namespace Velmora {

// Fills the device's buffers. Called on the output's thread, never on the caller's.
class AudioRenderer {
public:
    virtual ~AudioRenderer() = default;
    // Writes `frames` interleaved stereo frames (2 * frames floats) into `out`.
    virtual void render(float* out, int frames) = 0;
};

struct AudioOutputDesc {
    int sampleRate = 44100;
    // Frames the device asks for per call of the renderer.
    int bufferFrames = 1024;
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    // Opens the device paused. Returns false and the backend's reason in `error` on failure.
    virtual bool open(const AudioOutputDesc& desc, AudioRenderer& renderer, std::string& error) = 0;
    // Starts pulling frames from the renderer.
    virtual void start() = 0;
    // Stops and releases the device; once it returns the renderer is not called any more.
    virtual void close() = 0;
    // Frames per renderer call, as the device granted them (0 when closed).
    virtual int bufferFrames() const = 0;
};

// The default output device through SDL2's audio subsystem (SDL_AUDIODRIVER chooses the driver).
std::unique_ptr<AudioOutput> makeSdlAudioOutput();
// No device: opening always succeeds and the renderer is never called (offline clock).
std::unique_ptr<AudioOutput> makeNullAudioOutput();

} // namespace Velmora
