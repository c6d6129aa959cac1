#include "audio/Music.h"

#include "audio/AudioOutput.h"
#include "audio/FrameRing.h"
#include "audio/Mp3Decoder.h"
#include "audio/PlaybackClock.h"
#include "audio/SampleHistory.h"
#include "audio/Spectrum.h"
#include "base/Logger.h"
#include "base/Vexception.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace Velmora {

namespace {
constexpr int sampleRateHz = Mp3Decoder::sampleRate;
// 23 ms per device buffer: the clock's interpolation never runs more than this ahead.
constexpr int deviceBufferFrames = 1024;
// Decoded audio waiting for the device (about 370 ms), refilled in chunks of about 90 ms.
constexpr size_t decodedRingFrames = 16384;
constexpr int64_t decodeChunkFrames = 4096;
constexpr auto decoderIdleWait = std::chrono::milliseconds(5);
// Offline mode holds the whole file as stereo float: 20 minutes is about 420 MB, and a broken
// file cannot make it allocate more than that.
constexpr int64_t maxOfflineFrames = int64_t(sampleRateHz) * 60 * 20;
constexpr int fftBytes = Spectrum::bins * int(sizeof(float));

double rowsPerSecondFor(double bpm) {
    return bpm / 60.0 * 8.0;
}
} // namespace

struct Music::State final : AudioRenderer {
    enum class Mode { closed, live, offline };

    Mode mode = Mode::closed;
    double rowsPerSecond = 0.0;
    int64_t frames = 0;
    std::unique_ptr<AudioOutput> output;

    // Live mode. The decoder belongs to the decoder thread while it runs; the ring carries its
    // output to the audio callback.
    Mp3Decoder decoder;
    std::unique_ptr<FrameRing> ring;
    std::thread decoderThread;
    std::atomic<bool> stopDecoding{false};
    bool playing = false;
    PlaybackClock clock;
    SampleHistory history;
    // Audio thread only: frames handed to the device so far, all and from the file.
    int64_t handedFrames = 0;
    int64_t handedFileFrames = 0;
    // Main thread only: the furthest file position row() has reported.
    double lastFileFrame = 0.0;

    // Offline mode: the decoded file, interleaved stereo, and the position set by the caller.
    std::vector<float> pcm;
    double position = 0.0;

    Spectrum spectrum;

    void render(float* out, int count) override {
        const int64_t now = PlaybackClock::steadyNowNs();
        const int fromFile = ring ? static_cast<int>(ring->read(out, static_cast<size_t>(count))) : 0;
        // After the end of the file, or when decoding falls behind, the device plays silence and
        // the file position stands still.
        std::fill(out + 2 * fromFile, out + 2 * count, 0.0f);
        history.append(out, count);
        PlaybackClock::Snapshot snapshot;
        snapshot.outputFrames = handedFrames;
        snapshot.fileFrames = handedFileFrames;
        snapshot.bufferFrames = count;
        snapshot.fileFramesInBuffer = fromFile;
        snapshot.timeNs = now;
        clock.publish(snapshot);
        handedFrames += count;
        handedFileFrames += fromFile;
    }

    void decodeLoop() {
        std::vector<float> chunk(2 * decodeChunkFrames);
        while (!stopDecoding.load(std::memory_order_acquire)) {
            if (ring->writable() < static_cast<size_t>(decodeChunkFrames)) {
                std::this_thread::sleep_for(decoderIdleWait);
                continue;
            }
            const int64_t decoded = decoder.read(chunk.data(), decodeChunkFrames);
            ring->write(chunk.data(), static_cast<size_t>(decoded));
            if (decoded < decodeChunkFrames)
                return; // end of the file
        }
    }

    // Heard position in output frames and file frames; false before the first callback.
    bool heard(PlaybackClock::Position& position) const {
        PlaybackClock::Snapshot snapshot;
        if (!playing || !clock.read(snapshot))
            return false;
        position = PlaybackClock::positionAt(snapshot, PlaybackClock::steadyNowNs(), sampleRateHz);
        return true;
    }

    void close() {
        // The stream first: stop the decoder thread and free the decoder...
        stopDecoding.store(true, std::memory_order_release);
        if (decoderThread.joinable())
            decoderThread.join();
        decoder.close();
        // ...then the device, which may have been playing silence since.
        if (output)
            output->close();
        output.reset();
        ring.reset();
        pcm.clear();
        pcm.shrink_to_fit();
        mode = Mode::closed;
        frames = 0;
        playing = false;
        position = 0.0;
        lastFileFrame = 0.0;
        handedFrames = 0;
        handedFileFrames = 0;
        clock.reset();
        history.reset();
        stopDecoding.store(false, std::memory_order_relaxed);
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
    s.ring = std::make_unique<FrameRing>(decodedRingFrames);
    auto output = makeSdlAudioOutput();
    AudioOutputDesc desc;
    desc.sampleRate = sampleRateHz;
    desc.bufferFrames = deviceBufferFrames;
    std::string reason;
    if (!output->open(desc, s, reason)) {
        s.ring.reset();
        Logger::instance().error("Audio output: %s", reason.c_str());
        throw Vexception("Fial! BASS!");
    }
    s.rowsPerSecond = rowsPerSecondFor(bpm);
    if (!s.decoder.open(path, reason)) {
        output->close();
        s.ring.reset();
        Logger::instance().error("Tune \"%s\": %s", path ? path : "(null)", reason.c_str());
        throw Vexception("Failed to open tune.");
    }
    s.output = std::move(output);
    s.mode = State::Mode::live;
    s.frames = s.decoder.frameCount();
    // Decoding starts now, so the ring is full by the time play() is called.
    s.decoderThread = std::thread([&s] { s.decodeLoop(); });
}

void Music::openOffline(const char* path, double bpm) {
    close();
    State& s = *state;
    s.rowsPerSecond = rowsPerSecondFor(bpm);
    std::string reason;
    bool opened = s.decoder.open(path, reason);
    if (opened) {
        const int64_t expected = std::min(s.decoder.frameCount(), maxOfflineFrames);
        s.pcm.reserve(static_cast<size_t>(2 * expected));
        std::vector<float> chunk(2 * decodeChunkFrames);
        for (;;) {
            const int64_t decoded = s.decoder.read(chunk.data(), decodeChunkFrames);
            if (static_cast<int64_t>(s.pcm.size() / 2) + decoded > maxOfflineFrames) {
                reason = "longer than 20 minutes";
                opened = false;
                break;
            }
            s.pcm.insert(s.pcm.end(), chunk.begin(), chunk.begin() + 2 * decoded);
            if (decoded < decodeChunkFrames)
                break;
        }
        s.decoder.close();
        if (opened && s.pcm.empty()) {
            reason = "nothing could be decoded";
            opened = false;
        }
    }
    if (!opened) {
        s.pcm.clear();
        s.pcm.shrink_to_fit();
        Logger::instance().error("Tune \"%s\": %s", path ? path : "(null)", reason.c_str());
        throw Vexception("Failed to open tune.");
    }
    s.output = makeNullAudioOutput();
    AudioOutputDesc desc;
    desc.sampleRate = sampleRateHz;
    s.output->open(desc, s, reason);
    s.mode = State::Mode::offline;
    s.frames = static_cast<int64_t>(s.pcm.size() / 2);
    s.position = 0.0;
}

void Music::play() {
    State& s = *state;
    if (s.mode != State::Mode::live || s.playing)
        return;
    s.playing = true;
    s.output->start();
}

double Music::row() const {
    const State& s = *state;
    if (s.mode == State::Mode::offline)
        return s.position * s.rowsPerSecond;
    PlaybackClock::Position position;
    if (s.mode != State::Mode::live || !s.heard(position))
        return 0.0;
    // Never backwards: two reads can straddle a callback whose estimate is a hair behind.
    state->lastFileFrame = std::max(state->lastFileFrame, position.fileFrame);
    return state->lastFileFrame / sampleRateHz * s.rowsPerSecond;
}

int Music::getFFT(float* out) {
    State& s = *state;
    if (s.mode == State::Mode::closed || out == nullptr)
        return -1;
    std::array<float, Spectrum::size> samples{};
    if (s.mode == State::Mode::offline) {
        const int64_t end = std::llround(s.position * sampleRateHz);
        for (int i = 0; i < Spectrum::size; ++i) {
            const int64_t frame = end - Spectrum::size + i;
            if (frame >= 0 && frame < s.frames)
                samples[i] = 0.5f * (s.pcm[2 * frame] + s.pcm[2 * frame + 1]);
        }
    } else {
        PlaybackClock::Position position;
        // A retry is needed only when this thread stalled long enough for the callback to
        // overwrite the window (about 150 ms); silence is the answer if it keeps happening.
        bool copied = false;
        for (int attempt = 0; attempt < 4 && !copied && s.heard(position); ++attempt)
            copied =
                s.history.read(static_cast<int64_t>(position.outputFrame), Spectrum::size, samples.data());
        if (!copied)
            samples.fill(0.0f);
    }
    s.spectrum.compute(samples.data(), out);
    return fftBytes;
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

void Music::copyFrames(int64_t first, int64_t count, float* out) const {
    if (count <= 0 || out == nullptr)
        return;
    std::fill(out, out + 2 * count, 0.0f);
    const State& s = *state;
    const int64_t held = static_cast<int64_t>(s.pcm.size() / 2);
    // Written so that no sum can overflow whatever `first` is.
    if (first >= held || first + count <= 0)
        return;
    const int64_t begin = std::max<int64_t>(first, 0);
    const int64_t end = first >= held - count ? held : first + count;
    std::copy(s.pcm.begin() + 2 * begin, s.pcm.begin() + 2 * end, out + 2 * (begin - first));
}

void Music::close() {
    state->close();
}

} // namespace Velmora
