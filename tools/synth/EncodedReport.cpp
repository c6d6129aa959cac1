#include "tools/synth/EncodedReport.h"

#include "tools/synth/Timing.h"

#include <cmath>
#include <cstdlib>

namespace Synth {

namespace {

// Reads the number after the first `label` found at or after `from`.
bool numberAfter(const std::string& log, size_t from, const std::string& label, double& value) {
    if (from == std::string::npos)
        return false;
    const size_t at = log.find(label, from);
    if (at == std::string::npos)
        return false;
    const char* start = log.c_str() + at + label.size();
    char* end = nullptr;
    value = std::strtod(start, &end);
    return end != start && std::isfinite(value);
}

} // namespace

EncodedReport EncodedReport::parse(const std::string& log) {
    EncodedReport report;
    const size_t summary = log.find("Summary:");
    const size_t integrated =
        summary == std::string::npos ? summary : log.find("Integrated loudness:", summary);
    const size_t peak = summary == std::string::npos ? summary : log.find("True peak:", summary);
    const size_t overall = log.rfind("] Overall");
    double samples = 0.0;
    report.complete = numberAfter(log, integrated, "I:", report.integratedLufs) &&
                      numberAfter(log, peak, "Peak:", report.truePeakDb) &&
                      numberAfter(log, overall, "DC offset:", report.dcOffset) &&
                      numberAfter(log, overall, "Number of samples:", samples);
    report.seconds = samples / sampleRate;
    return report;
}

bool EncodedReport::withinLimits() const {
    return complete && integratedLufs >= -16.0 && integratedLufs <= -12.0 && truePeakDb <= -1.0 &&
           std::fabs(dcOffset) < 0.001;
}

} // namespace Synth
