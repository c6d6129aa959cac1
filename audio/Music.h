// The soundtrack player and the presentation's clock.
//
// Two modes:
//  - live (`open`): the file is decoded into memory on a thread of its own and played through the
//    default output device; `row()` follows what is being heard. The main thread can pause,
//    resume, seek and loop it (the edit mode's transport), exact to the sample.
//  - offline (`openOffline`): no audio device; the file is decoded before `openOffline` returns
//    and the caller moves the position with `setPosition` (or `seek`); `row()`/`getFFT` answer for
//    that position, deterministically. Capture, benchmarks and tests use this mode.
//
// Both modes keep the whole file in memory as 44100 Hz stereo float (libmpg123 decodes it, gapless),
// at most 20 minutes (about 420 MB): a longer file, or a broken one claiming to be longer, is
// refused at open. Live, the decoder thread fills the buffer from the start while the music plays;
// frames not decoded yet play as silence with the position held, and read as silence everywhere
// below. The SDL2 audio callback (1024-frame device buffers) plays from that buffer at a position
// it owns; the main thread only writes its commands into atomics and reads the clock the callback
// publishes, and the callback neither locks nor allocates (see Transport.h for the clock across
// seeks, pauses and loop wraps).
//
// Spectrum scaling (`getFFT`, `spectrumAt`): the 1024 samples ending at the position (zeros before
// the start of the file and past its end), left and right mixed to mono, times a periodic Hann
// window w; bin k = 0..511 is |X[k]| * 2 / sum(w), centred on k * 44100 / 1024 Hz. A full-scale
// sine at a bin's centre reads 1.0 in that bin (a 1 kHz sine, 23.2 bins, reads about 0.97 in bin
// 23); a constant offset c reads 2c in bin 0. It is computed from the decoded file, not from what
// reached the device: a loop's splice, the fades and the silence after the end do not show in it.
//
// It does not mix several sounds, change tempo or pitch, resample on the fly, or follow a device
// that changes while it plays. Everything below is for the main thread unless it says otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace Velmora {

class Music {
public:
    // A loop range in seconds, from < to, within the file.
    struct Loop {
        double from = 0.0;
        double to = 0.0;
    };

    static Music& instance();

    // Opens the default output device (44100 Hz, stereo) and the file, paused at 0. Throws
    // Vexception "Fial! BASS!" when no output can be opened, "Failed to open tune." when the file
    // cannot be opened or decoded or is longer than 20 minutes; the reason is logged at error
    // level on the line before.
    void open(const char* path, double bpm);
    // Opens the file without any audio device (offline clock, position 0). Same failures as
    // `open` but for the device.
    void openOffline(const char* path, double bpm);

    // Live: starts playback, or resumes it from exactly the position held by `pause` (fading in).
    // No effect offline or while playing.
    void play();
    // Live: stops the sound (fading out) and holds `row()` at exactly the value it has now until
    // `play` or `seek`. No effect offline or while paused.
    void pause();
    // Live: playing (after play, until pause); it stays true at the end of the file (see ended).
    // Always false offline.
    bool isPlaying() const;
    // Moves to `seconds`, clamped to 0 .. length() (NaN reads 0); playing or paused stays as it
    // was. Right after it `row()` reads seconds * rowsPerSecond; live, once the device has taken
    // the seek (within one device buffer) the clock moves on from there, and the sound crossfades
    // to the new position. Offline it is `setPosition`.
    void seek(double seconds);
    // Sets the loop; each end is clamped into the file. Returns false, changing nothing, when the
    // range is empty (to <= from after clamping, to the frame) or not a number. While a loop is
    // set and playing, reaching its end (or being at or past it) continues at its start, to the
    // sample, with a short crossfade; playback before its start runs into it. Offline it is only
    // remembered.
    bool setLoop(double fromSeconds, double toSeconds);
    void clearLoop();
    std::optional<Loop> loop() const;
    // The position has reached the end of the file (live: what is heard; offline: the set
    // position). Stays true at the end; a seek back clears it.
    bool ended() const;

    // Position of what is being heard, in seconds * rowsPerSecond. 0.0 before play. Live, it is
    // the frames handed to the device before its latest request, advanced with the steady clock
    // by at most one device buffer; it never goes back except at a seek or a loop wrap, holds
    // exactly while paused, and stays at the end once the file has been played (the device then
    // gets silence).
    double row() const;
    // Writes the spectrum at the current `row()` position, as `spectrumAt` (scaling at the top of
    // this file). `out` holds 512 floats. Returns the number of bytes written (2048), or -1 when
    // not open.
    int getFFT(float* out);
    // The 512 spectrum magnitudes of the 1024 mono samples ending at `seconds`, from the decoded
    // file (live: samples not decoded yet read as 0); zeros when not open or not finite. The same
    // in both modes for the same file. Any thread, as long as open and close do not run meanwhile.
    void spectrumAt(double seconds, float* out512) const;
    // Lowest and highest mono sample ((left + right) / 2) of each of `buckets` runs of
    // `framesPerBucket` frames from `firstFrame`, into minOut[buckets] and maxOut[buckets];
    // silence (before or past the file, not decoded yet) counts as 0. Nothing is written when
    // buckets <= 0; zeros when framesPerBucket <= 0. Any thread, as `spectrumAt`.
    void waveform(int64_t firstFrame, int64_t framesPerBucket, int buckets, float* minOut,
                  float* maxOut) const;

    // Offline mode only: set the position in seconds (clamped to 0 .. length()).
    void setPosition(double seconds);

    double rowsPerSecond() const;
    bool isOffline() const;
    // Length of the file in seconds (0 before open).
    double length() const;
    int sampleRate() const; // 44100
    // Stereo frames (one frame = left and right). Available once open (live: as the scan at open
    // counted them; offline: as decoded).
    int64_t frameCount() const;
    // Frames decoded so far: frameCount() offline; live it grows to frameCount() soon after open.
    int64_t decodedFrames() const;
    // Copies `count` interleaved stereo frames starting at frame `first` as float samples;
    // frames outside the file, or not decoded yet, read as silence. Any thread, as `spectrumAt`.
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
