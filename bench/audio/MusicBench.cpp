// Measures the music player on the audio driver SDL_AUDIODRIVER names (dummy unless set):
//  - clock quality: row() sampled every millisecond for 3 s of playback; the largest step
//    backwards and the largest deviation from a straight-line fit, in milliseconds of music;
//  - start-up: milliseconds from the start of open() to the return of play() for a 3-minute
//    MP3, median of several runs (the file is in the page cache after the first);
//  - decoding: milliseconds from open() until the decoder thread has the whole 3-minute file in
//    memory (it plays from the start meanwhile);
//  - seeks while playing: milliseconds from seek() until the clock moves on from the target (the
//    device has taken it), and how far past the target that first reading is, in ms of music.
// The MP3s are made here with lame.
#include "audio/Music.h"
#include "base/Platform.h"
#include "tests/audio/ToneFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using Velmora::Music;
using Clock = std::chrono::steady_clock;

namespace {

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

void clockQuality(const VelmoraTest::TempFolder& folder) {
    VelmoraTest::ToneDesc tone;
    tone.seconds = 5.0;
    const std::string path = VelmoraTest::makeToneMp3(folder, "clock", tone);
    Music& music = Music::instance();
    music.open(path.c_str(), 180.0);
    const double msPerRow = 1000.0 / music.rowsPerSecond();
    music.play();
    // The clock stands at 0 until the device's first request; the measurement starts there.
    while (music.row() == 0.0)
        std::this_thread::sleep_for(std::chrono::microseconds(100));

    std::vector<double> wall;
    std::vector<double> heard;
    const auto start = Clock::now();
    auto next = start;
    while (Clock::now() - start < std::chrono::seconds(3)) {
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
        const double row = music.row();
        wall.push_back(milliseconds(Clock::now() - start));
        heard.push_back(row * msPerRow);
    }
    music.close();

    double backwards = 0.0;
    for (size_t i = 1; i < heard.size(); ++i)
        backwards = std::max(backwards, heard[i - 1] - heard[i]);
    // Least-squares line heard = a + b * wall.
    const double n = double(wall.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < wall.size(); ++i) {
        sx += wall[i];
        sy += heard[i];
        sxx += wall[i] * wall[i];
        sxy += wall[i] * heard[i];
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double offset = (sy - slope * sx) / n;
    double deviation = 0.0;
    double sumSquares = 0.0;
    for (size_t i = 0; i < wall.size(); ++i) {
        const double residual = heard[i] - (offset + slope * wall[i]);
        deviation = std::max(deviation, std::abs(residual));
        sumSquares += residual * residual;
    }
    std::printf("clock: %zu samples over %.0f ms\n", wall.size(), wall.back());
    std::printf("clock: largest step backwards      %.3f ms\n", backwards);
    std::printf("clock: largest deviation from fit  %.3f ms (rms %.3f ms)\n", deviation,
                std::sqrt(sumSquares / n));
    std::printf("clock: music ms per wall ms        %.4f\n", slope);
}

void startUp(const std::string& path) {
    Music& music = Music::instance();
    std::vector<double> openPlay;
    std::vector<double> openOnly;
    for (int run = 0; run < 9; ++run) {
        music.close();
        const auto start = Clock::now();
        music.open(path.c_str(), 180.0);
        const auto opened = Clock::now();
        music.play();
        const auto played = Clock::now();
        openPlay.push_back(milliseconds(played - start));
        openOnly.push_back(milliseconds(opened - start));
    }
    const double length = music.length();
    music.close();
    std::printf("start-up: 3-minute MP3 (%.3f s), %zu runs\n", length, openPlay.size());
    std::printf("start-up: open + play median %.2f ms (first run %.2f ms, worst %.2f ms)\n", median(openPlay),
                openPlay.front(), *std::max_element(openPlay.begin(), openPlay.end()));
    std::printf("start-up: open alone median  %.2f ms\n", median(openOnly));
}

void decoding(const std::string& path) {
    Music& music = Music::instance();
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        music.close();
        const auto start = Clock::now();
        music.open(path.c_str(), 180.0);
        while (music.decodedFrames() < music.frameCount())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        runs.push_back(milliseconds(Clock::now() - start));
    }
    music.close();
    std::printf("decoding: whole 3-minute MP3 in memory, median %.1f ms (worst %.1f ms)\n", median(runs),
                *std::max_element(runs.begin(), runs.end()));
}

void seeks(const std::string& path) {
    Music& music = Music::instance();
    music.open(path.c_str(), 180.0);
    const double msPerRow = 1000.0 / music.rowsPerSecond();
    music.play();
    std::vector<double> taken;
    std::vector<double> landed;
    for (int i = 0; i < 40; ++i) {
        // Spread over the file, forwards and backwards.
        const double target = std::fmod(37.3 * (i * 7 % 40), 170.0) + 1.0;
        const auto start = Clock::now();
        music.seek(target);
        const double at = target * music.rowsPerSecond();
        double row = music.row();
        while (row <= at) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            row = music.row();
        }
        taken.push_back(milliseconds(Clock::now() - start));
        landed.push_back((row - at) * msPerRow);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    music.close();
    std::printf("seek: %zu seeks while playing\n", taken.size());
    std::printf("seek: taken by the device, median %.2f ms (worst %.2f ms)\n", median(taken),
                *std::max_element(taken.begin(), taken.end()));
    std::printf("seek: first moving reading past the target, median %.2f ms (worst %.2f ms) of music\n",
                median(landed), *std::max_element(landed.begin(), landed.end()));
}

} // namespace

int main() {
    Velmora::prepareProcess();
    if (Velmora::environmentVariable("SDL_AUDIODRIVER").empty()) {
        Velmora::setEnvironmentVariable("SDL_AUDIODRIVER", "dummy");
    }
    std::printf("audio driver: %s\n", Velmora::environmentVariable("SDL_AUDIODRIVER").c_str());
    VelmoraTest::TempFolder folder;
    clockQuality(folder);
    VelmoraTest::ToneDesc tone;
    tone.seconds = 180.0;
    const std::string path = VelmoraTest::makeToneMp3(folder, "three-minutes", tone);
    startUp(path);
    decoding(path);
    seeks(path);
    return 0;
}
