#include "edit/EditTitle.h"

#include <algorithm>
#include <cstdio>

namespace Velmora {

namespace {

std::string formatClock(double seconds) {
    const double clamped = std::max(0.0, seconds);
    const int minutes = static_cast<int>(clamped / 60.0);
    char text[32];
    std::snprintf(text, sizeof text, "%d:%05.2f", minutes, clamped - minutes * 60.0);
    return text;
}

} // namespace

std::string formatRow(double row) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", row);
    return text;
}

std::string editTitle(double row, double rowsPerSecond, bool playing,
                      std::optional<std::pair<double, double>> loop, double fps, bool shaderError) {
    const double clamped = std::max(0.0, row);
    const long whole = static_cast<long>(clamped);
    const long bar = whole / editRowsPerBar + 1;
    const long beat = whole % editRowsPerBar / editRowsPerBeat + 1;
    std::string title = "Velmora | row " + formatRow(row) + " | " + std::to_string(bar) + "." +
                        std::to_string(beat) + " | " +
                        formatClock(rowsPerSecond > 0.0 ? row / rowsPerSecond : 0.0) + " | " +
                        (playing ? "playing" : "paused");
    if (loop) {
        title += " | loop " + formatRow(loop->first) + "-" + formatRow(loop->second);
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", fps);
    title += std::string(" | ") + rate + " fps";
    if (shaderError) {
        title += " | shader error";
    }
    return title;
}

} // namespace Velmora
