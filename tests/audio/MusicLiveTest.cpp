// The player on SDL's dummy driver, which consumes audio in real time without a device: the
// clock while playing, the spectrum of what is heard, the end of the file, and failures to open.
// Timing checks use wide ranges: the machine running the tests may be loaded.
#include "audio/Music.h"
#include "base/Vexception.h"
#include "tests/audio/ToneFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace Velmora;
using namespace VelmoraTest;
using Clock = std::chrono::steady_clock;

namespace {

class MusicLive : public testing::Test {
protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
    void TearDown() override { Music::instance().close(); }

    std::string tone(double seconds, double frequency = 1000.0) {
        ToneDesc desc;
        desc.seconds = seconds;
        desc.frequency = frequency;
        return makeToneMp3(folder, "tone" + std::to_string(++files), desc);
    }

    TempFolder folder;
    int files = 0;
};

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// Samples row() until `until` or a deadline; checks that it never goes back; returns the last.
template <typename Until> double followClock(Music& music, double timeout, Until until) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeout);
    double previous = music.row();
    while (Clock::now() < deadline && !until(previous)) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        const double now = music.row();
        EXPECT_GE(now, previous) << "the clock went backwards";
        if (now < previous)
            break;
        previous = now;
    }
    return previous;
}

} // namespace

TEST_F(MusicLive, ClockStartsAtPlayAndFollowsRealTime) {
    Music& music = Music::instance();
    const std::string path = tone(3.0);
    music.open(path.c_str(), 180.0);
    EXPECT_FALSE(music.isOffline());
    EXPECT_EQ(music.rowsPerSecond(), 24.0);
    EXPECT_DOUBLE_EQ(music.length(), 3.0);
    EXPECT_EQ(music.frameCount(), 3 * 44100);

    // Not before play, however long it waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(music.row(), 0.0);
    // setPosition is for the offline clock only.
    music.setPosition(1.0);
    EXPECT_EQ(music.row(), 0.0);

    const auto start = Clock::now();
    music.play();
    const double reached = followClock(music, 10.0, [](double row) { return row >= 24.0; });
    const double elapsed = seconds(Clock::now() - start);
    ASSERT_GE(reached, 24.0) << "one second of music was not heard within ten";
    // The clock cannot run ahead of real time by more than one device buffer (plus the dummy
    // driver's rounding of its period); it may lag when the machine is busy.
    EXPECT_GE(elapsed, 0.9);

    // Playing again neither restarts nor disturbs it.
    const double before = music.row();
    music.play();
    EXPECT_GE(music.row(), before);
}

TEST_F(MusicLive, SpectrumFollowsWhatIsHeard) {
    Music& music = Music::instance();
    music.open(tone(3.0).c_str(), 180.0);
    std::vector<float> bins(512, -1.0f);
    // Before play nothing is heard.
    EXPECT_EQ(music.getFFT(bins.data()), 2048);
    EXPECT_EQ(*std::max_element(bins.begin(), bins.end()), 0.0f);

    music.play();
    followClock(music, 10.0, [](double row) { return row >= 12.0; });
    ASSERT_GE(music.row(), 12.0);
    EXPECT_EQ(music.getFFT(bins.data()), 2048);
    EXPECT_EQ(std::max_element(bins.begin(), bins.end()) - bins.begin(), 23);
    EXPECT_NEAR(bins[23], 0.5 * 0.97, 0.05);
}

TEST_F(MusicLive, PositionHoldsAtTheEndOfTheFile) {
    Music& music = Music::instance();
    music.open(tone(0.3).c_str(), 180.0);
    const double end = 0.3 * 24.0;
    music.play();
    const double reached = followClock(music, 10.0, [&](double row) { return row >= end; });
    ASSERT_NEAR(reached, end, 1e-9);
    // Nothing restarts: the position stays at the end and the output falls silent.
    followClock(music, 0.3, [](double) { return false; });
    EXPECT_NEAR(music.row(), end, 1e-9);
    std::vector<float> bins(512);
    music.getFFT(bins.data());
    EXPECT_LT(*std::max_element(bins.begin(), bins.end()), 1e-6f);
}

TEST_F(MusicLive, ReopeningReplacesTheStream) {
    Music& music = Music::instance();
    music.open(tone(2.0).c_str(), 180.0);
    music.play();
    followClock(music, 10.0, [](double row) { return row >= 2.4; });

    // A second open closes the first stream and device; the clock starts over.
    music.open(tone(1.0, 440.0).c_str(), 120.0);
    EXPECT_EQ(music.row(), 0.0);
    EXPECT_EQ(music.rowsPerSecond(), 16.0);
    EXPECT_DOUBLE_EQ(music.length(), 1.0);
    music.play();
    EXPECT_GT(followClock(music, 10.0, [](double row) { return row >= 1.6; }), 1.6);

    // From live to offline and back.
    const std::string path = tone(1.0);
    music.openOffline(path.c_str(), 180.0);
    EXPECT_TRUE(music.isOffline());
    music.open(path.c_str(), 180.0);
    EXPECT_FALSE(music.isOffline());
    EXPECT_EQ(music.row(), 0.0);

    music.close();
    EXPECT_EQ(music.row(), 0.0);
    std::vector<float> bins(512);
    EXPECT_EQ(music.getFFT(bins.data()), -1);
    music.close(); // twice is harmless
}

TEST_F(MusicLive, FailuresToOpenAreReportedWithTheReason) {
    Music& music = Music::instance();
    auto failure = [](auto call) {
        testing::internal::CaptureStdout();
        std::string thrown;
        try {
            call();
        } catch (const Vexception& e) {
            thrown = e.what();
        }
        return std::pair{thrown, testing::internal::GetCapturedStdout()};
    };

    auto [missing, missingLog] = failure([&] { music.open(folder.file("missing.mp3").c_str(), 180.0); });
    EXPECT_EQ(missing, "Failed to open tune.");
    EXPECT_EQ(missingLog.rfind("ERROR - ", 0), 0u) << missingLog;
    EXPECT_NE(missingLog.find("missing.mp3"), std::string::npos) << missingLog;
    EXPECT_EQ(music.rowsPerSecond(), 24.0);
    EXPECT_EQ(music.row(), 0.0);
    music.play(); // nothing open: no effect
    EXPECT_EQ(music.row(), 0.0);

    // Random bytes must not crash the player, whether mpg123 refuses them or finds "frames".
    const std::string noise = makeRandomFile(folder, "noise.mp3", 32 * 1024, 7);
    try {
        music.open(noise.c_str(), 180.0);
        music.play();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<float> bins(512);
        music.getFFT(bins.data());
        EXPECT_GE(music.row(), 0.0);
    } catch (const Vexception& e) {
        EXPECT_STREQ(e.what(), "Failed to open tune.");
    }

    // No audio output: the device error comes before the file is looked at.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    auto [device, deviceLog] = failure([&] { music.open(tone(0.5).c_str(), 60.0); });
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_EQ(device, "Fial! BASS!");
    EXPECT_EQ(deviceLog.rfind("ERROR - ", 0), 0u) << deviceLog;
    EXPECT_EQ(std::count(deviceLog.begin(), deviceLog.end(), '\n'), 1) << deviceLog;

    // And the player recovers once a device is there again.
    music.open(tone(0.5).c_str(), 180.0);
    music.play();
    EXPECT_GT(followClock(music, 10.0, [](double row) { return row > 1.0; }), 1.0);
}
