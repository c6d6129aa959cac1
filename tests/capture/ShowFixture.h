// A small, made-up show for running the program in tests: a ./data folder with the real shaders,
// a soft sprite, small point clouds, a few sync tracks and a 3-second tone as the soundtrack.
// The end track "e" goes below 0 at row 60 (2.5 s), before the music ends.
#pragma once

#include "tests/capture/CaptureTestSupport.h"

#include <string>

namespace CaptureTest {

class ShowFixture {
public:
    static constexpr double endSeconds = 2.5;   // where "e" goes below 0
    static constexpr double musicSeconds = 3.0; // length of the tone

    // Builds the folder; throws std::runtime_error when lame fails.
    ShowFixture();

    // The folder holding data/: the working directory to run the program in.
    const std::string& root() const { return folder.path; }
    std::string file(const std::string& name) const { return folder.file(name); }

private:
    ScratchFolder folder;
};

} // namespace CaptureTest
