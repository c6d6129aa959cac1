// Level measurement of the mastered mix, so the tool can normalise it before encoding:
// ITU-R BS.1770 integrated loudness (K-weighting, 400 ms blocks with 75 % overlap, absolute gate
// at -70 LUFS, relative gate 10 LU below) and true peak by 4x oversampling. The figures printed
// for the encoded file come from ffmpeg; these guide the gain and the limiter.
#pragma once

#include "tools/synth/StereoBuffer.h"

#include <cmath>
#include <cstddef>

namespace Synth {

// Integrated loudness in LUFS; -200 when every block is below the absolute gate.
double integratedLoudness(const StereoBuffer& signal);

// Largest magnitude among x[i] and the three 4x-oversampled points between x[i] and x[i + 1]
// (windowed-sinc interpolation; samples outside 0..count-1 count as silence).
float oversampledPeak(const float* x, size_t count, size_t i);

// Highest 4x-oversampled magnitude of either channel, linear.
double truePeak(const StereoBuffer& signal);

inline double toDecibels(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -200.0;
}
inline double fromDecibels(double db) {
    return std::pow(10.0, db / 20.0);
}

} // namespace Synth
