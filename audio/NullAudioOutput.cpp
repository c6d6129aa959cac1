#include "audio/AudioOutput.h"

namespace Velmora {

namespace {

class NullAudioOutput final : public AudioOutput {
public:
    bool open(const AudioOutputDesc& desc, AudioRenderer&, std::string&) override {
        frames = desc.bufferFrames;
        return true;
    }
    void start() override {}
    void close() override { frames = 0; }
    int bufferFrames() const override { return frames; }

private:
    int frames = 0;
};

} // namespace

std::unique_ptr<AudioOutput> makeNullAudioOutput() {
    return std::make_unique<NullAudioOutput>();
}

} // namespace Velmora
