// The figures ffmpeg prints for the encoded soundtrack (filters "ebur128=peak=true,astats"):
// integrated loudness, true peak, DC offset and decoded length.
#pragma once

#include <string>

namespace Synth {

struct EncodedReport {
    double integratedLufs = 0.0;
    double truePeakDb = 0.0;
    double dcOffset = 0.0; // overall, as a fraction of full scale
    double seconds = 0.0;  // decoded samples per channel / 44100
    bool complete = false; // every figure was found

    // Parses ffmpeg's log; `complete` stays false when a figure is missing.
    static EncodedReport parse(const std::string& log);
    // Integrated loudness -16..-12 LUFS, true peak at most -1 dBTP, |DC| below 0.001.
    bool withinLimits() const;
};

} // namespace Synth
