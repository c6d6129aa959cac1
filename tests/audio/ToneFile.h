// Test and benchmark MP3 files, made on the spot: a sine tone written as a 16-bit WAV file and
// encoded with the `lame` program. Nothing is downloaded. With VELMORA_TONE_CACHE naming a folder,
// every tone encoded is also kept there, and a tone found there is taken instead of encoding it:
// the Windows build's tests, under wine where no lame can be waited for, use the tones the Linux
// build's tests left (scripts/windows/test.sh).
#pragma once

#include "tests/support/TestFiles.h"

#include <memory>
#include <string>

namespace VelmoraTest {

struct ToneDesc {
    double frequency = 1000.0;
    // Peak level, 1.0 = full scale.
    double amplitude = 0.5;
    double seconds = 1.0;
    int sampleRate = 44100;
    int channels = 2;
    // Constant bit rate in kbit/s for lame's -b; 0 leaves lame's default. Low rates leave no room
    // for the header that carries the encoder delay, and then decoding is not gapless.
    int bitrate = 0;
    // Without lame's info frame (-t) the file is plain MPEG frames: copies of it joined end to end
    // decode as one longer file.
    bool infoTag = true;
};

// The value of the tone at `frame` (both channels carry the same signal).
double toneSample(const ToneDesc& tone, long frame);

// A fresh folder under the system's temporary folder; removed with everything in it by the
// destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }

private:
    std::unique_ptr<ScratchFolder> scratch;

public:
    const std::string path;
};

// Writes `name`.wav and encodes it to `name`.mp3 in `folder`; returns the MP3's path.
// Throws std::runtime_error when the encoder fails.
std::string makeToneMp3(const TempFolder& folder, const std::string& name, const ToneDesc& tone);

// Writes `size` pseudo-random bytes (fixed seed) to a file; returns its path.
std::string makeRandomFile(const TempFolder& folder, const std::string& name, size_t size, unsigned seed);

} // namespace VelmoraTest
