#include "capture/ProgressLine.h"

#include "base/Logger.h"

#include <cmath>
#include <cstdio>

namespace Velmora {

namespace {

std::string formatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0) {
        return "?";
    }
    long total = std::lround(seconds);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, (total / 60) % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

} // namespace

std::string formatProgress(const std::string& label, int64_t done, int64_t total, double elapsedSeconds) {
    int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    char text[160];
    if (done > 0 && elapsedSeconds > 0.0) {
        double fps = done / elapsedSeconds;
        std::snprintf(text, sizeof text, "%s: frame %lld of %lld (%d %%), %.1f fps, %s left", label.c_str(),
                      static_cast<long long>(done), static_cast<long long>(total), percent, fps,
                      formatDuration((total - done) / fps).c_str());
    } else {
        std::snprintf(text, sizeof text, "%s: frame %lld of %lld (%d %%)", label.c_str(),
                      static_cast<long long>(done), static_cast<long long>(total), percent);
    }
    return text;
}

ProgressLine::ProgressLine(bool terminal, std::string label, int64_t total)
    : terminal(terminal), label(std::move(label)), total(total) {}

void ProgressLine::update(int64_t done, double elapsedSeconds) {
    if (terminal) {
        if (lastDrawn >= 0.0 && elapsedSeconds - lastDrawn < 0.2) {
            return;
        }
        lastDrawn = elapsedSeconds;
        print(done, elapsedSeconds, false);
        return;
    }
    int step = total > 0 ? static_cast<int>(done * 20 / total) : 20;
    if (step != lastStep) {
        lastStep = step;
        print(done, elapsedSeconds, false);
    }
}

void ProgressLine::finish(int64_t done, double elapsedSeconds) {
    int step = total > 0 ? static_cast<int>(done * 20 / total) : 20;
    if (!terminal && step == lastStep) {
        return; // this exact state was already printed as a line of its own
    }
    lastStep = step;
    print(done, elapsedSeconds, true);
}

void ProgressLine::print(int64_t done, double elapsedSeconds, bool last) {
    std::string line = formatProgress(label, done, total, elapsedSeconds);
    if (terminal) {
        size_t length = line.size();
        if (length < lastLength) {
            line.append(lastLength - length, ' ');
        }
        lastLength = length;
        Logger::instance().say(LogStream::Error, "\r" + line + (last ? "\n" : ""));
    } else {
        Logger::instance().say(LogStream::Error, line + "\n");
    }
}

} // namespace Velmora
