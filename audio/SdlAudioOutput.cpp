#include "audio/AudioOutput.h"

#include <SDL.h>

namespace Velmora {

namespace {

// Only SDL's audio subsystem is used; the window and events belong to GLFW.
class SdlAudioOutput final : public AudioOutput {
public:
    ~SdlAudioOutput() override { close(); }

    bool open(const AudioOutputDesc& desc, AudioRenderer& target, std::string& error) override {
        close();
        // SDL must not take over SIGINT/SIGTERM from the host program.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            error = SDL_GetError();
            return false;
        }
        SDL_AudioSpec want{};
        want.freq = desc.sampleRate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = static_cast<Uint16>(desc.bufferFrames);
        want.callback = &SdlAudioOutput::callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No allowed changes: SDL converts to whatever the device really runs at, so the renderer
        // always sees the rate, format and buffer size asked for.
        renderer = &target;
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device == 0) {
            error = SDL_GetError();
            renderer = nullptr;
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        frames = have.samples;
        return true;
    }

    void start() override {
        if (device != 0)
            SDL_PauseAudioDevice(device, 0);
    }

    void close() override {
        if (device == 0)
            return;
        // Waits for the audio thread to finish its current callback.
        SDL_CloseAudioDevice(device);
        device = 0;
        renderer = nullptr;
        frames = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    int bufferFrames() const override { return frames; }

private:
    static void callback(void* user, Uint8* stream, int bytes) {
        auto* self = static_cast<SdlAudioOutput*>(user);
        const int count = bytes / static_cast<int>(2 * sizeof(float));
        self->renderer->render(reinterpret_cast<float*>(stream), count);
    }

    SDL_AudioDeviceID device = 0;
    AudioRenderer* renderer = nullptr;
    int frames = 0;
};

} // namespace

std::unique_ptr<AudioOutput> makeSdlAudioOutput() {
    return std::make_unique<SdlAudioOutput>();
}

} // namespace Velmora
