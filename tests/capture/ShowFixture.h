// Shows for running the program in tests, each a folder holding ./data:
//  - MadeUp: the real shaders, a soft sprite, small point clouds, a few sync tracks and a 3-second
//    tone as the soundtrack. The end track "e" goes below 0 at row 60 (2.5 s), before the music ends.
//  - GoldenFrames: what the golden-frame tests of demo/ render: the real sprite and point clouds,
//    the choreography of tests/demo/golden/tracks.txt (the real tracks when it is gone), and the
//    real soundtrack, or 20 s of silence while there is none (the golden frames then have no
//    spectrum either).
#pragma once

#include "tests/capture/CaptureTestSupport.h"

#include <string>

namespace CaptureTest {

class ShowFixture {
public:
    static constexpr double endSeconds = 2.5;   // where "e" goes below 0
    static constexpr double musicSeconds = 3.0; // length of the tone

    enum class Kind { MadeUp, GoldenFrames };

    // Builds the folder; throws std::runtime_error when lame fails.
    explicit ShowFixture(Kind kind = Kind::MadeUp);

    // The folder holding data/: the working directory to run the program in.
    const std::string& root() const { return folder.path; }
    std::string file(const std::string& name) const { return folder.file(name); }

private:
    void buildMadeUp();
    void buildGoldenFrames();

    ScratchFolder folder;
};

} // namespace CaptureTest
