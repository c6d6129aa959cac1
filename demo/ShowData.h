// The files the show reads, as the scene, its passes and the entry point name them: one list for
// whoever needs to know them without building the show (the data check, the edit mode's list of
// tracks). A test checks it against what a built show has loaded.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Demo {

// Everything the show reads, as the scene, the passes and the entry point name it.
struct ShowData {
    std::vector<std::pair<std::string, std::string>> programs; // fragment and vertex stage files
    std::string sprite;
    std::vector<std::string> binaryClouds;
    std::vector<std::string> textClouds;
    std::string soundtrack;
    std::string trackBase; // a track NAME is read from trackBase + "_" + NAME + ".track"
    std::vector<std::string> tracks;
    double rowsPerSecond = 24.0;
};
const ShowData& showData();

} // namespace Demo
