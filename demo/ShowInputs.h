// What the show reads from outside itself, handed in by whoever runs it: the size of the picture,
// the sync device whose tracks it reads (at the device's current row), and the music's spectrum
// for the frame being drawn. The show reaches no process-wide instance for these.
#pragma once

#include "sync/SyncDevice.h"

#include <functional>

namespace Demo {

struct ShowInputs {
    // Size of every target the show makes and of the picture its last pass draws.
    int width = 0;
    int height = 0;
    // The tracks; must outlive the show.
    Velmora::SyncDevice* sync = nullptr;
    // Writes the 512 spectrum magnitudes of the frame being drawn; false when there are none (the
    // show then keeps the previous ones). May be empty: no spectrum at all.
    std::function<bool(float* bins)> spectrum;
};

} // namespace Demo
