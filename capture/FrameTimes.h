// Frame-time statistics of the timedemo benchmark and the report it prints.
//
// The report is the project's performance record: its lines and their order are stable, so
// scripts can read them (see `formatTimedemoReport`).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {

struct FrameTimeStats {
    int64_t frames = 0;
    double totalSeconds = 0.0;
    double meanMs = 0.0;
    double medianMs = 0.0; // middle value; the mean of the two middle values for an even count
    double p99Ms = 0.0;    // nearest rank: the smallest time that at least 99 % of frames do not exceed
    double worstMs = 0.0;
    int64_t worstFrame = -1; // index of the slowest frame
    double firstMs = 0.0;    // frame 0, which includes the driver's first-use shader compilation
};

FrameTimeStats summarizeFrameTimes(const std::vector<double>& secondsPerFrame);

struct TimedemoSetup {
    int width = 0;
    int height = 0;
    int fps = 0;
    double from = 0.0;
};

// Eight lines, each "timedemo: <name> <value>":
//   timedemo: size 1280x720 fps 30 from 0.000
//   timedemo: frames 5400
//   timedemo: total 180.123 s
//   timedemo: mean 33.356 ms
//   timedemo: median 32.101 ms
//   timedemo: p99 45.204 ms
//   timedemo: worst 612.301 ms (frame 0)
//   timedemo: first 612.301 ms
std::string formatTimedemoReport(const TimedemoSetup& setup, const FrameTimeStats& stats);

// The same figures as a JSON object (--report FILE), each as the report's line rounds it:
//   {"width": 1280, "height": 720, "fps": 30, "from_s": 0.000, "frames": 5400, "total_s": 180.123,
//    "mean_ms": 33.356, "median_ms": 32.101, "p99_ms": 45.204, "worst_ms": 612.301,
//    "worst_frame": 0, "first_ms": 612.301}
std::string formatTimedemoJson(const TimedemoSetup& setup, const FrameTimeStats& stats);

} // namespace Velmora
