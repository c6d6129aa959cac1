// The title of the edit window: row, bar.beat, minutes:seconds, playing or paused, the loop,
// frames per second, "shader error" while one is pending.
//
// Pure text: it does not set the title (the session does, a few times a second).
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace Velmora {

// Rows of a beat and of a bar in the show's music.
constexpr int editRowsPerBeat = 8;
constexpr int editRowsPerBar = 32;

std::string editTitle(double row, double rowsPerSecond, bool playing,
                      std::optional<std::pair<double, double>> loop, double fps, bool shaderError);

// A row as the title and the API's messages write it: one decimal ("1234.5").
std::string formatRow(double row);

} // namespace Velmora
