// Magnitude spectrum of 1024 mono samples through KissFFT's real transform.
//
// The samples are multiplied by a periodic Hann window, w[n] = 0.5 - 0.5 cos(2 pi n / 1024), and
// each of the first 512 bins k = 0..511 (bin k centred on k * sampleRate / 1024 Hz) gives
// |X[k]| * 2 / sum(w), sum(w) = 512. A full-scale sine (amplitude 1.0) at a bin's centre frequency
// therefore reads 1.0 in that bin; between two centres the peak drops to about 0.85 (Hann
// scalloping) and spreads into the neighbours. The same factor applies to bin 0, where a constant
// offset c reads 2c. Computing only: it holds no samples and knows nothing of the player.
#pragma once

#include <array>

struct kiss_fftr_state;

namespace Velmora {

class Spectrum {
public:
    static constexpr int size = 1024;
    static constexpr int bins = 512;

    Spectrum();
    ~Spectrum();
    Spectrum(const Spectrum&) = delete;
    Spectrum& operator=(const Spectrum&) = delete;

    // `samples` holds `size` mono samples, oldest first; `magnitudes` receives `bins` values.
    void compute(const float* samples, float* magnitudes);

private:
    kiss_fftr_state* plan;
    std::array<float, size> window;
    float scale;
};

} // namespace Velmora
