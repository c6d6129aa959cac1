#include "capture/FrameTimes.h"

#include "capture/JsonWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Velmora {

FrameTimeStats summarizeFrameTimes(const std::vector<double>& secondsPerFrame) {
    FrameTimeStats stats;
    stats.frames = static_cast<int64_t>(secondsPerFrame.size());
    if (secondsPerFrame.empty()) {
        return stats;
    }
    double total = 0.0;
    for (size_t i = 0; i < secondsPerFrame.size(); ++i) {
        total += secondsPerFrame[i];
        if (stats.worstFrame < 0 || secondsPerFrame[i] * 1000.0 > stats.worstMs) {
            stats.worstMs = secondsPerFrame[i] * 1000.0;
            stats.worstFrame = static_cast<int64_t>(i);
        }
    }
    stats.totalSeconds = total;
    stats.meanMs = total * 1000.0 / secondsPerFrame.size();
    stats.firstMs = secondsPerFrame.front() * 1000.0;

    std::vector<double> sorted = secondsPerFrame;
    std::sort(sorted.begin(), sorted.end());
    size_t n = sorted.size();
    stats.medianMs = (n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0) * 1000.0;
    size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n)));
    stats.p99Ms = sorted[std::max<size_t>(rank, 1) - 1] * 1000.0;
    return stats;
}

std::string formatTimedemoReport(const TimedemoSetup& setup, const FrameTimeStats& stats) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "timedemo: size %dx%d fps %d from %.3f\n"
                  "timedemo: frames %lld\n"
                  "timedemo: total %.3f s\n"
                  "timedemo: mean %.3f ms\n"
                  "timedemo: median %.3f ms\n"
                  "timedemo: p99 %.3f ms\n"
                  "timedemo: worst %.3f ms (frame %lld)\n"
                  "timedemo: first %.3f ms\n",
                  setup.width, setup.height, setup.fps, setup.from, static_cast<long long>(stats.frames),
                  stats.totalSeconds, stats.meanMs, stats.medianMs, stats.p99Ms, stats.worstMs,
                  static_cast<long long>(stats.worstFrame), stats.firstMs);
    return text;
}

std::string formatTimedemoJson(const TimedemoSetup& setup, const FrameTimeStats& stats) {
    JsonObject report;
    report.add("width", setup.width)
        .add("height", setup.height)
        .add("fps", setup.fps)
        .add("from_s", setup.from, 3)
        .add("frames", stats.frames)
        .add("total_s", stats.totalSeconds, 3)
        .add("mean_ms", stats.meanMs, 3)
        .add("median_ms", stats.medianMs, 3)
        .add("p99_ms", stats.p99Ms, 3)
        .add("worst_ms", stats.worstMs, 3)
        .add("worst_frame", stats.worstFrame)
        .add("first_ms", stats.firstMs, 3);
    return report.text();
}

} // namespace Velmora
