// The time a frame of the show is drawn at, as the sync tracks and the spectrum see it.
//
// It follows the music (its row and the spectrum of what is heard), or it is held at one frame's
// row and music time: while warming up to a row, while paused, and while an off-screen run draws
// frame by frame. The sync device reads its row from here, and the show its spectrum, so whoever
// runs the show decides the time without touching either behind the other's back.
#pragma once

#include "audio/Music.h"

namespace Velmora {

class ShowClock {
public:
    explicit ShowClock(Music& music) : music(music) {}

    // The sync row: the held row, or the music's row read anew at every call.
    double row() const { return isHeld ? heldRow : music.row(); }
    // The music time of the frame in seconds.
    double seconds() const;

    // Holds the clock at one frame's row and music time (normally seconds * rowsPerSecond).
    void hold(double row, double seconds) {
        isHeld = true;
        heldRow = row;
        heldSeconds = seconds;
    }
    // Follows the music again.
    void follow() { isHeld = false; }
    bool held() const { return isHeld; }

    // The 512 spectrum magnitudes at the clock's time: of the music at the held time, or of what
    // is being heard. False when the music is not open.
    bool spectrum(float* bins) const;

private:
    Music& music;
    bool isHeld = false;
    double heldRow = 0.0;
    double heldSeconds = 0.0;
};

} // namespace Velmora
