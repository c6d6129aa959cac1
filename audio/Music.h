// The soundtrack player and the presentation's clock.
//
// Two modes:
//  - live (`open`): the file is decoded on the audio side and played through the default output
//    device; `row()` follows what is being heard.
//  - offline (`openOffline`): no audio device; the caller moves the position with `setPosition`
//    and `row()`/`getFFT` answer for that position from the decoded file, deterministically.
//    Capture, benchmarks and tests use this mode.
//
// Spectrum scaling: see `getFFT`.
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
    // Position of what is being heard, in seconds * rowsPerSecond. 0.0 before play.
    double row() const;
    // Writes 512 magnitudes of a 1024-sample FFT of the samples now being heard (see the source
    // for the window and scaling). Returns the number of bytes written, or -1 when not open.
    int getFFT(float* out);

    // Offline mode only: set the position in seconds (clamped to 0 .. length()).
    void setPosition(double seconds);

    double rowsPerSecond() const;
    bool isOffline() const;
    // Length of the decoded file in seconds (0 before open).
    double length() const;
    int sampleRate() const; // 44100
    // Decoded stereo frames (one frame = left and right). Available once open.
    int64_t frameCount() const;
    // Copies `count` interleaved stereo frames starting at frame `first` as float samples;
    // frames outside the file read as silence.
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
