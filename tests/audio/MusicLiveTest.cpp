// The player on SDL's dummy driver, which consumes audio in real time without a device: the
// clock while playing, paused, after seeks and around loop wraps, the spectrum and waveform of the
// decoded file, the end of the file, and failures to open. Timing checks use wide ranges: the
// machine running the tests may be loaded.
#include "audio/Music.h"
#include "base/Vexception.h"
#include "tests/audio/ToneFile.h"

#include "base/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using namespace Velmora;
using namespace VelmoraTest;
using Clock = std::chrono::steady_clock;

namespace {

class MusicLive : public testing::Test {
protected:
    void SetUp() override { Velmora::setEnvironmentVariable("SDL_AUDIODRIVER", "dummy"); }
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

std::vector<float> spectrumAt(const Music& music, double seconds) {
    std::vector<float> bins(512, -1.0f);
    music.spectrumAt(seconds, bins.data());
    return bins;
}

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
    EXPECT_FALSE(music.ended());
    const double reached = followClock(music, 10.0, [&](double row) { return row >= end; });
    ASSERT_NEAR(reached, end, 1e-9);
    EXPECT_TRUE(music.ended());
    // Nothing restarts: the position stays at the end (the device gets silence); still "playing"
    // until the caller pauses. The spectrum is that of the file's last samples.
    followClock(music, 0.3, [](double) { return false; });
    EXPECT_NEAR(music.row(), end, 1e-9);
    EXPECT_TRUE(music.isPlaying());
    std::vector<float> bins(512);
    music.getFFT(bins.data());
    EXPECT_EQ(bins, spectrumAt(music, music.length()));
    EXPECT_EQ(std::max_element(bins.begin(), bins.end()) - bins.begin(), 23);

    // A seek back plays again.
    music.seek(0.1);
    EXPECT_FALSE(music.ended());
    EXPECT_GE(followClock(music, 10.0, [&](double row) { return row >= end; }), end);
    EXPECT_TRUE(music.ended());
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
    Velmora::setEnvironmentVariable("SDL_AUDIODRIVER", "no-such-driver");
    auto [device, deviceLog] = failure([&] { music.open(tone(0.5).c_str(), 60.0); });
    Velmora::setEnvironmentVariable("SDL_AUDIODRIVER", "dummy");
    EXPECT_EQ(device, "Fial! BASS!");
    EXPECT_EQ(deviceLog.rfind("ERROR - ", 0), 0u) << deviceLog;
    EXPECT_EQ(std::count(deviceLog.begin(), deviceLog.end(), '\n'), 1) << deviceLog;

    // And the player recovers once a device is there again.
    music.open(tone(0.5).c_str(), 180.0);
    music.play();
    EXPECT_GT(followClock(music, 10.0, [](double row) { return row > 1.0; }), 1.0);
}

namespace {

// One device buffer, in rows at 24 rows a second.
constexpr double bufferRows = 1024.0 / 44100.0 * 24.0;

// Waits until the clock moves past `from`; returns the first value past it and checks that it is
// no further on than real time since `since` plus one device buffer allows.
double firstMove(Music& music, double from, Clock::time_point since) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    double row = music.row();
    while (row <= from && Clock::now() < deadline) {
        EXPECT_GE(row, from) << "went back before moving on";
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        row = music.row();
    }
    // SDL's dummy driver sleeps whole milliseconds per buffer (23 for 23.2), so it runs about 1%
    // fast; 2% of the elapsed time covers that.
    const double allowed = from + seconds(Clock::now() - since) * 24.0 * 1.02 + bufferRows + 1e-6;
    EXPECT_GT(row, from) << "the clock did not move within ten seconds";
    EXPECT_LE(row, allowed) << "ran ahead of the sound";
    return row;
}

// Reads row() a few times over 200 ms; each must equal `held` exactly.
void expectHeld(Music& music, double held) {
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(music.row(), held) << "reading " << i;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

} // namespace

TEST_F(MusicLive, PauseHoldsTheRowExactlyAndResumeContinuesFromIt) {
    Music& music = Music::instance();
    music.open(tone(4.0).c_str(), 180.0);
    // Pausing before anything plays is harmless.
    music.pause();
    EXPECT_EQ(music.row(), 0.0);
    music.play();
    EXPECT_TRUE(music.isPlaying());
    followClock(music, 10.0, [](double row) { return row >= 12.0; });

    const double before = music.row();
    music.pause();
    EXPECT_FALSE(music.isPlaying());
    const double held = music.row();
    EXPECT_GE(held, before);
    EXPECT_LT(held, before + 24.0) << "paused a second later than asked";
    expectHeld(music, held);
    // The spectrum is that of the held position.
    std::vector<float> bins(512);
    music.getFFT(bins.data());
    EXPECT_EQ(bins, spectrumAt(music, held / 24.0));
    EXPECT_FALSE(music.ended());

    // Resume: from the held row on, never below it.
    const auto resumed = Clock::now();
    music.play();
    EXPECT_TRUE(music.isPlaying());
    EXPECT_GE(music.row(), held);
    firstMove(music, held, resumed);
    followClock(music, 0.3, [](double) { return false; });

    // A second pause holds again, at its own position.
    music.pause();
    const double second = music.row();
    EXPECT_GT(second, held);
    expectHeld(music, second);
}

TEST_F(MusicLive, SeekLandsWithinOneDeviceBufferAndMovesOn) {
    Music& music = Music::instance();
    music.open(tone(4.0).c_str(), 180.0);
    // Before the first play: the position is taken, and playback starts there.
    music.seek(1.0);
    EXPECT_EQ(music.row(), 24.0);
    auto started = Clock::now();
    music.play();
    firstMove(music, 24.0, started);

    // Forwards, backwards, and to a position between two frames.
    for (double target : {2.5, 0.5, 3.123456789}) {
        SCOPED_TRACE(target);
        const auto sought = Clock::now();
        music.seek(target);
        EXPECT_EQ(music.row(), target * 24.0);
        firstMove(music, target * 24.0, sought);
        followClock(music, 0.2, [](double) { return false; });
    }

    // Outside the file: clamped.
    music.seek(-5.0);
    EXPECT_EQ(music.row(), 0.0);
    music.seek(std::nan(""));
    EXPECT_EQ(music.row(), 0.0);
    music.seek(1e9);
    EXPECT_EQ(music.row(), 4.0 * 24.0);
    EXPECT_TRUE(music.ended());
    followClock(music, 0.2, [](double) { return false; });
    EXPECT_EQ(music.row(), 4.0 * 24.0);
}

TEST_F(MusicLive, SeekWhilePausedMovesTheHeldPosition) {
    Music& music = Music::instance();
    const std::string path = tone(4.0, 440.0);
    music.open(path.c_str(), 180.0);
    music.play();
    followClock(music, 10.0, [](double row) { return row >= 6.0; });
    music.pause();
    music.seek(2.0);
    EXPECT_FALSE(music.isPlaying());
    expectHeld(music, 48.0);
    // The spectrum follows the new position at once.
    std::vector<float> bins(512);
    music.getFFT(bins.data());
    EXPECT_EQ(bins, spectrumAt(music, 2.0));
    EXPECT_EQ(std::max_element(bins.begin(), bins.end()) - bins.begin(), 10) << "440 Hz";

    const auto resumed = Clock::now();
    music.play();
    firstMove(music, 48.0, resumed);
}

TEST_F(MusicLive, LoopWrapsAndTheClockStaysInsideIt) {
    Music& music = Music::instance();
    music.open(tone(3.0).c_str(), 180.0);
    // Ranges that are empty once clamped, or not numbers, are refused and change nothing.
    EXPECT_FALSE(music.setLoop(1.0, 0.5));
    EXPECT_FALSE(music.setLoop(0.5, 0.5));
    EXPECT_FALSE(music.setLoop(5.0, 6.0));
    EXPECT_FALSE(music.setLoop(std::nan(""), 1.0));
    EXPECT_FALSE(music.loop().has_value());
    ASSERT_TRUE(music.setLoop(-1.0, 1e9));
    EXPECT_EQ(music.loop()->from, 0.0);
    EXPECT_EQ(music.loop()->to, 3.0);

    ASSERT_TRUE(music.setLoop(0.5, 1.0));
    EXPECT_EQ(music.loop()->from, 0.5);
    EXPECT_EQ(music.loop()->to, 1.0);
    music.play();
    // From 0 into the loop, then round it: inside it, forward between wraps.
    followClock(music, 10.0, [](double row) { return row >= 12.0; });
    int wraps = 0;
    double previous = music.row();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (wraps < 3 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        const double row = music.row();
        ASSERT_GE(row, 12.0);
        ASSERT_LT(row, 24.0);
        if (row < previous)
            ++wraps;
        previous = row;
    }
    EXPECT_EQ(wraps, 3) << "the loop did not wrap three times in 20 seconds";
    EXPECT_FALSE(music.ended());

    // Cleared, playback runs on past the loop's end.
    music.clearLoop();
    EXPECT_FALSE(music.loop().has_value());
    EXPECT_GT(followClock(music, 10.0, [](double row) { return row > 30.0; }), 30.0);

    // A loop set behind the position catches it at once.
    ASSERT_TRUE(music.setLoop(0.25, 0.75));
    const auto caughtBy = Clock::now() + std::chrono::seconds(10);
    double caught = music.row();
    while (caught >= 18.0 && Clock::now() < caughtBy) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        caught = music.row();
    }
    EXPECT_GE(caught, 6.0);
    EXPECT_LT(caught, 18.0);
}

TEST_F(MusicLive, LoopShorterThanADeviceBuffer) {
    Music& music = Music::instance();
    music.open(tone(3.0).c_str(), 180.0);
    // 441 frames, less than half a device buffer.
    ASSERT_TRUE(music.setLoop(1.0, 1.01));
    music.seek(1.0);
    music.play();
    int wraps = 0;
    double previous = music.row();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (wraps < 5 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        const double row = music.row();
        ASSERT_GE(row, 24.0);
        ASSERT_LT(row, 24.24);
        if (row < previous)
            ++wraps;
        previous = row;
    }
    EXPECT_EQ(wraps, 5);
}

TEST_F(MusicLive, DecodedFileMatchesTheOfflineOneBitForBit) {
    Music& music = Music::instance();
    const std::string path = tone(2.0);
    const std::vector<double> positions = {0.0, 0.01, 0.5, 1.2345, 2.0};
    std::vector<std::vector<float>> offline;
    std::vector<float> frames(2 * 3000);
    std::vector<float> low(40), high(40);
    music.openOffline(path.c_str(), 180.0);
    for (double at : positions) {
        music.setPosition(at);
        std::vector<float> bins(512);
        music.getFFT(bins.data());
        EXPECT_EQ(spectrumAt(music, at), bins);
        offline.push_back(bins);
    }
    music.copyFrames(40000, 3000, frames.data());
    music.waveform(-1000, 2500, 40, low.data(), high.data());

    music.open(path.c_str(), 180.0);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (music.decodedFrames() < music.frameCount() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(music.decodedFrames(), music.frameCount());
    for (size_t i = 0; i < positions.size(); ++i)
        EXPECT_EQ(spectrumAt(music, positions[i]), offline[i]) << positions[i];
    // getFFT at a held position is the same.
    music.seek(1.2345);
    std::vector<float> bins(512);
    music.getFFT(bins.data());
    EXPECT_EQ(bins, offline[3]);
    std::vector<float> liveFrames(frames.size());
    music.copyFrames(40000, 3000, liveFrames.data());
    EXPECT_EQ(liveFrames, frames);
    std::vector<float> liveLow(40), liveHigh(40);
    music.waveform(-1000, 2500, 40, liveLow.data(), liveHigh.data());
    EXPECT_EQ(liveLow, low);
    EXPECT_EQ(liveHigh, high);

    // Nothing to answer: zeros.
    EXPECT_EQ(spectrumAt(music, std::nan("")), std::vector<float>(512, 0.0f));
    music.close();
    EXPECT_EQ(spectrumAt(music, 1.0), std::vector<float>(512, 0.0f));
}

TEST_F(MusicLive, WaveformOfAKnownTone) {
    Music& music = Music::instance();
    // 1 kHz at 0.5 for one second.
    music.open(tone(1.0).c_str(), 180.0);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (music.decodedFrames() < music.frameCount() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<float> low(4, -9.0f), high(4, -9.0f);
    // Before the file, its two halves, after it.
    music.waveform(-22050, 22050, 4, low.data(), high.data());
    EXPECT_EQ(low[0], 0.0f);
    EXPECT_EQ(high[0], 0.0f);
    for (int b : {1, 2}) {
        EXPECT_NEAR(low[b], -0.5f, 0.03f) << b;
        EXPECT_NEAR(high[b], 0.5f, 0.03f) << b;
    }
    EXPECT_EQ(low[3], 0.0f);
    EXPECT_EQ(high[3], 0.0f);
    // The first quarter period (11 frames) rises from 0 to almost the peak.
    music.waveform(0, 11, 1, low.data(), high.data());
    EXPECT_NEAR(low[0], 0.0f, 0.03f);
    EXPECT_NEAR(high[0], 0.5f * std::sin(2.0 * 3.14159265 * 10.0 / 44.1), 0.03f);
}

TEST_F(MusicLive, FilesLongerThanTwentyMinutesAreRefused) {
    // Ten seconds of near-silence at 8 kHz without an info frame, joined 126 times: 21 minutes
    // that scan quickly.
    ToneDesc desc;
    desc.amplitude = 0.0;
    desc.seconds = 10.0;
    desc.sampleRate = 8000;
    desc.channels = 1;
    desc.bitrate = 8;
    desc.infoTag = false;
    std::string piece;
    {
        std::ifstream in(makeToneMp3(folder, "piece", desc), std::ios::binary);
        piece.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string path = folder.file("long.mp3");
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 126; ++i)
            out << piece;
        ASSERT_TRUE(out.good());
    }
    Music& music = Music::instance();
    for (bool live : {true, false}) {
        SCOPED_TRACE(live);
        testing::internal::CaptureStdout();
        std::string thrown;
        try {
            if (live)
                music.open(path.c_str(), 180.0);
            else
                music.openOffline(path.c_str(), 180.0);
        } catch (const Vexception& e) {
            thrown = e.what();
        }
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(thrown, "Failed to open tune.");
        EXPECT_NE(log.find("ERROR - "), std::string::npos) << log;
        EXPECT_NE(log.find("longer than 20 minutes"), std::string::npos) << log;
        EXPECT_EQ(music.frameCount(), 0);
        EXPECT_EQ(music.row(), 0.0);
    }
    // Twelve copies (two minutes) are fine.
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 12; ++i)
            out << piece;
    }
    // (Each piece brings the encoder's delay and padding along: a little over ten seconds.)
    music.open(path.c_str(), 180.0);
    EXPECT_GE(music.length(), 120.0);
    EXPECT_LT(music.length(), 125.0);
}
