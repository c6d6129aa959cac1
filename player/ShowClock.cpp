#include "player/ShowClock.h"

namespace Velmora {

double ShowClock::seconds() const {
    if (isHeld) {
        return heldSeconds;
    }
    const double rate = music.rowsPerSecond();
    return rate > 0.0 ? music.row() / rate : 0.0;
}

bool ShowClock::spectrum(float* bins) const {
    if (isHeld) {
        if (music.length() <= 0.0) {
            return false;
        }
        music.spectrumAt(heldSeconds, bins);
        return true;
    }
    return music.getFFT(bins) >= 0;
}

} // namespace Velmora
