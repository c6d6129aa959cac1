// The soundtrack player and the presentation's clock.
//
// Two modes:
//  - live (`open`): the file is decoded on the audio side and played through the default output
//    device; `row()` follows what is being heard.
//  - offline (`openOffline`): no audio device; the caller moves the position with `setPosition`
//    and `row()`/`getFFT` answer for that position from the decoded file, deterministically.
//    Capture, benchmarks and tests use this mode.
//
// Live mode decodes with libmpg123 on a thread of its own into a lock-free ring that the SDL2
// audio callback drains (44100 Hz stereo float, 1024-frame device buffers); the main thread only
// reads atomics the callback publishes. It does not seek, pause, loop or mix.
//
// Spectrum scaling (`getFFT`): the 1024 samples ending at the position (live: ending at what is
// being heard; offline: at the set position, zeros before the start of the file), left and right
// mixed to mono, times a periodic Hann window w; bin k = 0..511 is |X[k]| * 2 / sum(w), centred
// on k * 44100 / 1024 Hz. A full-scale sine at a bin's centre reads 1.0 in that bin (a 1 kHz
// sine, 23.2 bins, reads about 0.97 in bin 23); a constant offset c reads 2c in bin 0.
#pragma once

#include <cstdint>
#include <memory>

namespace Velmora {

class Music {
public:
    static Music& instance();

    // Opens the default output device (44100 Hz, stereo) and the file. Throws Vexception
    // "Fial! BASS!" when no output can be opened, "Failed to open tune." when the file cannot be
    // opened or decoded; the library's reason is logged at error level on the line before.
    void open(const char* path, double bpm);
    // Opens the file without any audio device (offline clock, position 0).
    void openOffline(const char* path, double bpm);

    // Starts playback from the start of the file (live mode; no effect offline).
    void play();
    // Position of what is being heard, in seconds * rowsPerSecond. 0.0 before play. Live, it is
    // the frames handed to the device before its latest request, advanced with the steady clock
    // by at most one device buffer; it never goes back, and stays at the end once the file has
    // been played (the device then gets silence).
    double row() const;
    // Writes 512 magnitudes of a 1024-sample FFT of the samples now being heard (window and
    // scaling at the top of this file). `out` holds 512 floats. Returns the number of bytes
    // written (2048), or -1 when not open.
    int getFFT(float* out);

    // Offline mode only: set the position in seconds (clamped to 0 .. length()).
    void setPosition(double seconds);

    double rowsPerSecond() const;
    bool isOffline() const;
    // Length of the decoded file in seconds (0 before open).
    double length() const;
    int sampleRate() const; // 44100
    // Decoded stereo frames (one frame = left and right). Available once open (live: as the
    // scan at open counted them).
    int64_t frameCount() const;
    // Copies `count` interleaved stereo frames starting at frame `first` as float samples;
    // frames outside the file read as silence. Offline only: live, the decoded frames are not
    // kept and everything reads as silence.
    void copyFrames(int64_t first, int64_t count, float* out) const;

    // Releases the stream and the device now (also done at process exit).
    void close();

    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;
    ~Music();

private:
    Music();
    struct State;
    std::unique_ptr<State> state;
};

} // namespace Velmora
