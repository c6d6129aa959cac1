#include "tools/synth/Mastering.h"

#include "tools/synth/Biquad.h"
#include "tools/synth/Limiter.h"
#include "tools/synth/Loudness.h"
#include "tools/synth/Random.h"

#include <algorithm>
#include <cmath>

namespace Synth {

void removeDc(StereoBuffer& signal) {
    for (std::vector<float>* channel : {&signal.left, &signal.right}) {
        Biquad highPass = Biquad::highPass(20.0);
        for (float& x : *channel)
            x = float(highPass.process(x));
    }
}

MasterFigures master(StereoBuffer& signal, double targetLufs, double ceilingDb) {
    removeDc(signal);
    const Limiter limiter(ceilingDb);
    double gainDb = targetLufs - integratedLoudness(signal);
    StereoBuffer limited;
    double loudness = 0.0;
    for (int pass = 0; pass < 4; ++pass) {
        limited = signal;
        const float gain = float(fromDecibels(gainDb));
        for (size_t i = 0; i < limited.frames(); ++i) {
            limited.left[i] *= gain;
            limited.right[i] *= gain;
        }
        limiter.process(limited);
        loudness = integratedLoudness(limited);
        if (std::fabs(loudness - targetLufs) < 0.05)
            break;
        gainDb += targetLufs - loudness;
    }
    signal = std::move(limited);
    return {gainDb, loudness, toDecibels(truePeak(signal))};
}

std::vector<int16_t> toPcm16(const StereoBuffer& signal, uint64_t seed) {
    Random random(seed);
    std::vector<int16_t> pcm(signal.frames() * 2);
    for (size_t i = 0; i < signal.frames(); ++i) {
        for (int c = 0; c < 2; ++c) {
            const double x = (c == 0 ? signal.left[i] : signal.right[i]) * 32767.0;
            // Difference of two uniform values: triangular dither of +-1 LSB. Below half an LSB
            // (the silent end) the output stays digital silence.
            const double dither = random.uniform() - random.uniform();
            if (std::fabs(x) < 0.5) {
                pcm[2 * i + c] = 0;
                continue;
            }
            pcm[2 * i + c] = int16_t(std::clamp(std::lround(x + dither), -32768l, 32767l));
        }
    }
    return pcm;
}

} // namespace Synth
