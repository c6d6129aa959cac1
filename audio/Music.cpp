#include "audio/Music.h"

#include "audio/AudioOutput.h"
#include "audio/Mp3Decoder.h"
#include "audio/PcmBuffer.h"
#include "audio/PlaybackClock.h"
#include "audio/Spectrum.h"
#include "audio/Transport.h"
#include "base/Logger.h"
#include "base/Vexception.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <new>
#include <string>
#include <thread>

namespace Velmora {

namespace {
constexpr int sampleRateHz = Mp3Decoder::sampleRate;
// 23 ms per device buffer: the clock's interpolation never runs more than this ahead.
constexpr int deviceBufferFrames = 1024;
// Decoded in chunks of about 90 ms, each published as soon as it is complete.
constexpr int64_t decodeChunkFrames = 4096;
// The whole file is held as stereo float: 20 minutes is about 420 MB, and a broken file cannot
// make it allocate more than that.
constexpr int64_t maxFrames = int64_t(sampleRateHz) * 60 * 20;
constexpr int fftBytes = Spectrum::bins * int(sizeof(float));

double rowsPerSecondFor(double bpm) {
    return bpm / 60.0 * 8.0;
}
} // namespace

struct Music::State {
    enum class Mode { closed, live, offline };

    Mode mode = Mode::closed;
    double rowsPerSecond = 0.0;
    int64_t frames = 0;
    std::unique_ptr<AudioOutput> output;
    bool started = false;

    // The decoded file. Live, the decoder belongs to the decoder thread while it runs and fills
    // `pcm` from the start; the transport plays it on the audio thread.
    Mp3Decoder decoder;
    PcmBuffer pcm;
    std::thread decoderThread;
    std::atomic<bool> stopDecoding{false};
    Transport transport;

    // Offline mode: the position set by the caller.
    double position = 0.0;
    std::optional<Loop> loop;

    Spectrum spectrum;

    // Reads the file into `pcm` from where it stands until the end, the room runs out or `stop`.
    // Returns the frames decoded in all.
    int64_t decode(const std::atomic<bool>* stop) {
        int64_t written = pcm.available();
        while (written < pcm.capacity() && !(stop && stop->load(std::memory_order_acquire))) {
            const int64_t wanted = std::min(decodeChunkFrames, pcm.capacity() - written);
            const int64_t decoded = decoder.read(pcm.writeAt(written), wanted);
            written += decoded;
            pcm.publish(written);
            if (decoded < wanted)
                break; // the end of the stream (or damage mpg123 cannot get past)
        }
        return written;
    }

    void decodeLoop() {
        decode(&stopDecoding);
        // A file that decodes shorter than its scan plays the missing end as silence.
        if (!stopDecoding.load(std::memory_order_acquire))
            pcm.finishWithSilence();
    }

    // Scans the file and makes room for all of it. On failure returns false with the reason.
    bool prepare(const char* path, std::string& reason) {
        if (!decoder.open(path, reason))
            return false;
        if (decoder.frameCount() > maxFrames) {
            reason = "longer than 20 minutes";
            return false;
        }
        try {
            pcm.allocate(decoder.frameCount());
        } catch (const std::bad_alloc&) {
            reason = "not enough memory for the decoded file";
            return false;
        }
        return true;
    }

    // The position, in seconds, that row() reports.
    double seconds() const {
        if (mode == Mode::offline)
            return position;
        if (mode == Mode::live)
            return transport.heardSeconds(PlaybackClock::steadyNowNs());
        return 0.0;
    }

    void window(double at, float* samples) const {
        pcm.monoBefore(std::llround(at * sampleRateHz), Spectrum::size, samples);
    }

    void close() {
        // The decoder thread first and the decoder with it...
        stopDecoding.store(true, std::memory_order_release);
        if (decoderThread.joinable())
            decoderThread.join();
        decoder.close();
        // ...then the device, so that nothing reads the decoded file any more.
        if (output)
            output->close();
        output.reset();
        started = false;
        transport.detach();
        pcm.release();
        mode = Mode::closed;
        frames = 0;
        position = 0.0;
        loop.reset();
        stopDecoding.store(false, std::memory_order_relaxed);
    }

    [[noreturn]] void failToOpen(const char* path, const std::string& reason) {
        close();
        Logger::instance().error("Tune \"%s\": %s", path ? path : "(null)", reason.c_str());
        throw Vexception("Failed to open tune.");
    }
};

Music& Music::instance() {
    // Destroyed at process exit, which releases the stream and then the device.
    static Music music;
    return music;
}

Music::Music() : state(std::make_unique<State>()) {}

Music::~Music() {
    close();
}

void Music::open(const char* path, double bpm) {
    close();
    State& s = *state;
    auto output = makeSdlAudioOutput();
    AudioOutputDesc desc;
    desc.sampleRate = sampleRateHz;
    desc.bufferFrames = deviceBufferFrames;
    std::string reason;
    if (!output->open(desc, s.transport, reason)) {
        Logger::instance().error("Audio output: %s", reason.c_str());
        throw Vexception("Fial! BASS!");
    }
    s.output = std::move(output);
    s.rowsPerSecond = rowsPerSecondFor(bpm);
    if (!s.prepare(path, reason))
        s.failToOpen(path, reason);
    s.mode = State::Mode::live;
    s.frames = s.decoder.frameCount();
    // The device is open but paused: the callback does not run yet.
    s.transport.attach(&s.pcm, s.frames, sampleRateHz);
    // Decoding starts now, so the start of the file is ready by the time play() is called.
    s.decoderThread = std::thread([&s] { s.decodeLoop(); });
}

void Music::openOffline(const char* path, double bpm) {
    close();
    State& s = *state;
    s.rowsPerSecond = rowsPerSecondFor(bpm);
    std::string reason;
    if (!s.prepare(path, reason))
        s.failToOpen(path, reason);
    const int64_t decoded = s.decode(nullptr);
    s.decoder.close();
    if (decoded == 0)
        s.failToOpen(path, "nothing could be decoded");
    s.output = makeNullAudioOutput();
    AudioOutputDesc desc;
    desc.sampleRate = sampleRateHz;
    s.output->open(desc, s.transport, reason);
    s.mode = State::Mode::offline;
    s.frames = decoded;
    s.position = 0.0;
}

void Music::play() {
    State& s = *state;
    if (s.mode != State::Mode::live)
        return;
    s.transport.play();
    if (!s.started) {
        s.started = true;
        s.output->start();
    }
}

void Music::pause() {
    State& s = *state;
    if (s.mode == State::Mode::live)
        s.transport.pause(PlaybackClock::steadyNowNs());
}

bool Music::isPlaying() const {
    return state->mode == State::Mode::live && state->transport.isPlaying();
}

void Music::seek(double seconds) {
    State& s = *state;
    if (s.mode == State::Mode::offline)
        setPosition(seconds);
    else if (s.mode == State::Mode::live)
        s.transport.seek(std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, length()));
}

bool Music::setLoop(double fromSeconds, double toSeconds) {
    State& s = *state;
    if (s.mode == State::Mode::closed || std::isnan(fromSeconds) || std::isnan(toSeconds))
        return false;
    const double from = std::clamp(fromSeconds, 0.0, length());
    const double to = std::clamp(toSeconds, 0.0, length());
    const int64_t fromFrame = std::llround(from * sampleRateHz);
    const int64_t toFrame = std::llround(to * sampleRateHz);
    if (toFrame <= fromFrame)
        return false;
    s.loop = Loop{from, to};
    if (s.mode == State::Mode::live)
        s.transport.setLoop(fromFrame, toFrame);
    return true;
}

void Music::clearLoop() {
    state->loop.reset();
    state->transport.clearLoop();
}

std::optional<Music::Loop> Music::loop() const {
    return state->loop;
}

bool Music::ended() const {
    return state->mode != State::Mode::closed && state->seconds() >= length();
}

double Music::row() const {
    return state->seconds() * state->rowsPerSecond;
}

int Music::getFFT(float* out) {
    State& s = *state;
    if (s.mode == State::Mode::closed || out == nullptr)
        return -1;
    std::array<float, Spectrum::size> samples;
    s.window(s.seconds(), samples.data());
    s.spectrum.compute(samples.data(), out);
    return fftBytes;
}

void Music::spectrumAt(double seconds, float* out) const {
    if (out == nullptr)
        return;
    const State& s = *state;
    if (s.mode == State::Mode::closed || !std::isfinite(seconds)) {
        std::fill(out, out + Spectrum::bins, 0.0f);
        return;
    }
    std::array<float, Spectrum::size> samples;
    // Outside the file every sample is silence already; clamping keeps the rounding in range.
    s.window(std::clamp(seconds, -1.0, length() + 1.0), samples.data());
    // Its own transform, so that any thread may ask.
    Spectrum spectrum;
    spectrum.compute(samples.data(), out);
}

void Music::waveform(int64_t firstFrame, int64_t framesPerBucket, int buckets, float* minOut,
                     float* maxOut) const {
    state->pcm.minMax(firstFrame, framesPerBucket, buckets, minOut, maxOut);
}

void Music::setPosition(double seconds) {
    State& s = *state;
    if (s.mode != State::Mode::offline)
        return;
    s.position = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, length());
}

double Music::rowsPerSecond() const {
    return state->rowsPerSecond;
}

bool Music::isOffline() const {
    return state->mode == State::Mode::offline;
}

double Music::length() const {
    return static_cast<double>(state->frames) / sampleRateHz;
}

int Music::sampleRate() const {
    return sampleRateHz;
}

int64_t Music::frameCount() const {
    return state->frames;
}

int64_t Music::decodedFrames() const {
    return std::min(state->pcm.available(), state->frames);
}

void Music::copyFrames(int64_t first, int64_t count, float* out) const {
    state->pcm.copy(first, count, out);
}

void Music::close() {
    state->close();
}

} // namespace Velmora
