// The soundtrack's time grid: 44.1 kHz, 180 beats per minute, 4 beats per bar, 8 sync rows per
// beat (24 rows per second). A beat is exactly 14700 samples, so every row boundary of a whole bar
// falls on a whole sample.
#pragma once

#include <cmath>
#include <cstdint>

namespace Synth {

constexpr int sampleRate = 44100;
constexpr int beatsPerMinute = 180;
constexpr int beatsPerBar = 4;
constexpr int rowsPerBeat = 8;
constexpr int rowsPerBar = rowsPerBeat * beatsPerBar;
constexpr int samplesPerBeat = sampleRate * 60 / beatsPerMinute;
constexpr double secondsPerBeat = 60.0 / beatsPerMinute;
constexpr double pi = 3.14159265358979323846;
static_assert(samplesPerBeat * beatsPerMinute == sampleRate * 60, "a beat must be a whole number of samples");

inline int64_t beatToSample(double beat) {
    return std::llround(beat * samplesPerBeat);
}
inline int64_t barToSample(double bar) {
    return beatToSample(bar * beatsPerBar);
}
inline double barToSeconds(double bar) {
    return bar * beatsPerBar * secondsPerBeat;
}
inline double midiToHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

} // namespace Synth
