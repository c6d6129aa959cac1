// Mastering of the rendered mix: DC removal, loudness normalisation, true-peak limiting and the
// conversion to dithered 16-bit PCM for the encoder.
#pragma once

#include "tools/synth/StereoBuffer.h"

#include <cstdint>
#include <vector>

namespace Synth {

struct MasterFigures {
    double gainDb;     // gain applied before the limiter
    double loudness;   // integrated loudness of the result, LUFS
    double truePeakDb; // true peak of the result, dBTP
};

// Second-order 20 Hz high-pass on both channels: takes out any DC offset and sub-sonic rumble.
void removeDc(StereoBuffer& signal);

// Removes DC, then finds the gain that brings the limited mix to `targetLufs` (a few passes,
// since limiting lowers the loudness a little) and limits true peaks to `ceilingDb`.
MasterFigures master(StereoBuffer& signal, double targetLufs, double ceilingDb);

// Interleaved 16-bit samples with triangular dither from a seeded generator.
std::vector<int16_t> toPcm16(const StereoBuffer& signal, uint64_t seed);

} // namespace Synth
