#include "audio/Spectrum.h"

#include <kiss_fftr.h>

#include <cmath>
#include <new>

namespace Velmora {

namespace {
constexpr double pi = 3.14159265358979323846;
} // namespace

Spectrum::Spectrum() : plan(kiss_fftr_alloc(size, 0, nullptr, nullptr)) {
    if (plan == nullptr)
        throw std::bad_alloc();
    double sum = 0.0;
    for (int n = 0; n < size; ++n) {
        window[n] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * pi * n / size));
        sum += window[n];
    }
    scale = static_cast<float>(2.0 / sum);
}

Spectrum::~Spectrum() {
    kiss_fftr_free(plan);
}

void Spectrum::compute(const float* samples, float* magnitudes) {
    std::array<kiss_fft_scalar, size> windowed;
    for (int n = 0; n < size; ++n)
        windowed[n] = samples[n] * window[n];
    std::array<kiss_fft_cpx, size / 2 + 1> frequencies;
    kiss_fftr(plan, windowed.data(), frequencies.data());
    for (int k = 0; k < bins; ++k)
        magnitudes[k] = std::hypot(frequencies[k].r, frequencies[k].i) * scale;
}

} // namespace Velmora
