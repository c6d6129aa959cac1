// The progress line of an offline run on standard error (through the logger's route for people): "frame k of
// n, frames per second, time left". On a terminal it is redrawn in place with '\r' (at most a few times a
// second); otherwise (a log file, CI) a plain line is written at every 5 % step, so logs stay short and
// readable.
#pragma once

#include <cstdint>
#include <string>

namespace Velmora {

class ProgressLine {
public:
    // `terminal`: redraw in place; usually whether standard error is a terminal.
    ProgressLine(bool terminal, std::string label, int64_t total);

    // `done` frames finished after `elapsedSeconds` of wall-clock time.
    void update(int64_t done, double elapsedSeconds);
    // Writes the final state and ends the line.
    void finish(int64_t done, double elapsedSeconds);

private:
    void print(int64_t done, double elapsedSeconds, bool last);

    bool terminal;
    std::string label;
    int64_t total;
    int lastStep = -1;       // last 5 % step printed (not a terminal)
    double lastDrawn = -1.0; // time of the last redraw (terminal)
    size_t lastLength = 0;   // length of the line on screen, to blank what is left over
};

// "capture: frame 120 of 5400 (2 %), 14.3 fps, 6:09 left"
std::string formatProgress(const std::string& label, int64_t done, int64_t total, double elapsedSeconds);

} // namespace Velmora
