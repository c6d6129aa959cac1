#include "audio/Transport.h"

#include "audio/PcmBuffer.h"

#include <algorithm>
#include <cmath>

namespace Velmora {

namespace {
// Command word: serial (31 bits) | playing (1 bit) | target frame (32 bits). A file is at most
// 20 minutes (53 million frames), well within 32 bits. Serial 0 means no command yet.
constexpr uint32_t serialMask = 0x7fffffffu;
constexpr int64_t frameMask = 0xffffffffll;

uint64_t commandWord(uint32_t serial, bool play, int64_t frame) {
    return (uint64_t(serial) << 33) | (uint64_t(play ? 1 : 0) << 32) | uint64_t(frame & frameMask);
}

// Loop word: first frame (high 32 bits) | end frame (low 32 bits); 0 means no loop.
uint64_t loopWordOf(int64_t from, int64_t to) {
    return (uint64_t(from & frameMask) << 32) | uint64_t(to & frameMask);
}
} // namespace

Transport::Transport(int fade) : fadeFrames(std::max(fade, 0)) {}

float Transport::gainOf(int level) const {
    return fadeFrames > 0 ? float(level) / float(fadeFrames) : 1.0f;
}

void Transport::attach(const PcmBuffer* buffer, int64_t end, int sampleRate) {
    detach();
    source = buffer;
    endFrame = std::clamp<int64_t>(end, 0, std::min(buffer ? buffer->capacity() : 0, frameMask));
    rate = sampleRate;
}

void Transport::detach() {
    source = nullptr;
    endFrame = 0;
    command.store(0, std::memory_order_relaxed);
    loopWord.store(0, std::memory_order_relaxed);
    clock.reset();
    playing = false;
    issued = 0;
    held = 0.0;
    last = 0.0;
    lastSegment = 0;
    synced = false;
    applied = 0;
    running = false;
    position = 0;
    ramp = 0;
    tailPosition = 0;
    tailRamp = 0;
    segment = 0;
    commandSegment = 0;
}

void Transport::issue(double seconds, bool play) {
    const double end = double(endFrame) / rate;
    held = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, end);
    last = held;
    synced = false;
    issued = (issued + 1) & serialMask;
    if (issued == 0)
        issued = 1;
    const int64_t frame = std::clamp<int64_t>(std::llround(held * rate), 0, endFrame);
    command.store(commandWord(issued, play, frame), std::memory_order_release);
}

void Transport::play() {
    if (playing || source == nullptr)
        return;
    playing = true;
    // From exactly where the clock stood.
    issue(held, true);
}

void Transport::pause(int64_t nowNs) {
    if (!playing)
        return;
    const double now = heardSeconds(nowNs);
    playing = false;
    issue(now, false);
}

void Transport::seek(double seconds) {
    if (source == nullptr)
        return;
    issue(seconds, playing);
}

void Transport::setLoop(int64_t fromFrame, int64_t toFrame) {
    if (source == nullptr || fromFrame < 0 || toFrame <= fromFrame || toFrame > endFrame)
        return;
    loopWord.store(loopWordOf(fromFrame, toFrame), std::memory_order_release);
}

void Transport::clearLoop() {
    loopWord.store(0, std::memory_order_release);
}

double Transport::heardSeconds(int64_t nowNs) const {
    PlaybackClock::Snapshot snapshot;
    if (!playing || !clock.read(snapshot) || snapshot.command != issued)
        return last;
    if (!synced) {
        // The first reading since the callback took the latest command: its segment starts at
        // the command's position.
        synced = true;
        lastSegment = snapshot.commandSegment;
    }
    const PlaybackClock::Position heard = PlaybackClock::positionAt(snapshot, nowNs, rate);
    const double seconds = heard.fileFrame / rate;
    if (heard.segment != lastSegment) {
        lastSegment = heard.segment;
        last = seconds;
    } else {
        // Two readings can straddle a callback whose estimate is a hair behind.
        last = std::max(last, seconds);
    }
    return last;
}

void Transport::startTail() {
    // What is audible now keeps playing from where it is while it fades out.
    if (!running || ramp == 0 || fadeFrames == 0)
        return;
    tailPosition = position;
    tailRamp = ramp;
}

void Transport::renderAt(float* out, int frames, int64_t nowNs) {
    std::fill(out, out + 2 * frames, 0.0f);
    if (source == nullptr)
        return;

    const uint64_t word = command.load(std::memory_order_acquire);
    const uint32_t serial = uint32_t(word >> 33);
    if (serial != applied) {
        applied = serial;
        startTail();
        running = ((word >> 32) & 1u) != 0;
        position = std::min<int64_t>(int64_t(word & uint64_t(frameMask)), endFrame);
        ramp = 0;
        commandSegment = ++segment;
    }
    const uint64_t loop = loopWord.load(std::memory_order_acquire);
    const int64_t loopFrom = int64_t(loop >> 32);
    const int64_t loopTo = int64_t(loop & uint64_t(frameMask));
    const bool looping = loopTo > loopFrom && loopTo <= endFrame;
    if (running && looping && position >= loopTo) {
        // The loop was set (or moved) behind the position: continue at its start now.
        startTail();
        position = loopFrom;
        ramp = 0;
        ++segment;
    }
    const bool crossfadeWraps = loopTo - loopFrom >= 2 * int64_t(fadeFrames);
    const int64_t available = std::min(source->available(), endFrame);

    PlaybackClock::Snapshot snapshot;
    snapshot.fileStart = position;
    snapshot.bufferFrames = frames;
    snapshot.segment = segment;
    snapshot.command = applied;
    snapshot.commandSegment = commandSegment;
    snapshot.timeNs = nowNs;
    if (looping && position < loopTo) {
        snapshot.loopFrom = loopFrom;
        snapshot.loopTo = loopTo;
    }

    int advanced = 0;
    bool holding = !running;
    for (int i = 0; i < frames; ++i) {
        float left = 0.0f;
        float right = 0.0f;
        // The tail first: a wrap below starts one that sounds from the next frame on.
        if (tailRamp > 0) {
            if (tailPosition < available) {
                const float* frame = source->frame(tailPosition);
                const float gain = gainOf(tailRamp);
                left += frame[0] * gain;
                right += frame[1] * gain;
            }
            ++tailPosition;
            --tailRamp;
        }
        if (!holding && position >= available) {
            // The end of the file, or not decoded yet: silence, and the position holds for the
            // rest of this buffer.
            holding = true;
        } else if (!holding) {
            const float* frame = source->frame(position);
            const float gain = gainOf(ramp);
            left += frame[0] * gain;
            right += frame[1] * gain;
            ramp = std::min(ramp + 1, fadeFrames);
            ++position;
            ++advanced;
            if (looping && position == loopTo) {
                if (crossfadeWraps) {
                    startTail();
                    ramp = 0;
                }
                position = loopFrom;
                ++segment;
            }
        }
        out[2 * i] = left;
        out[2 * i + 1] = right;
    }
    snapshot.fileFramesInBuffer = advanced;
    clock.publish(snapshot);
}

} // namespace Velmora
