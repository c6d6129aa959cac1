// Capture and timedemo logic that needs no display: options and the command line, the frame plan,
// frame-time statistics, the progress line, and the writers (WAV, PNG, writer threads); the encoder
// with a real ffmpeg is in FfmpegEncoderTest.cpp.
#include "app/CommandLine.h"
#include "app/offline/CaptureOptions.h"
#include "base/Files.h"
#include "base/Logger.h"
#include "base/Process.h"
#include "base/VFileException.h"
#include "base/Vexception.h"
#include "capture/FfmpegEncoder.h"
#include "capture/FramePlan.h"
#include "capture/FrameTimes.h"
#include "capture/FrameWriter.h"
#include "capture/JsonWriter.h"
#include "capture/PngFolderWriter.h"
#include "capture/ProgressLine.h"
#include "capture/VideoCheck.h"
#include "capture/WavWriter.h"
#include "tests/capture/CaptureTestSupport.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

using namespace Velmora;
using CaptureTest::ScratchFolder;

namespace {

CommandLine parse(std::vector<const char*> words) {
    words.insert(words.begin(), "velmora");
    return parseCommandLine(static_cast<int>(words.size()), words.data());
}

uint16_t le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

uint32_t le32(const std::string& bytes, size_t at) {
    return le16(bytes, at) | (static_cast<uint32_t>(le16(bytes, at + 2)) << 16);
}

} // namespace

TEST(CaptureOptions, ParsesSizesRatesAndSeconds) {
    int w = 0, h = 0;
    EXPECT_TRUE(parseCaptureSize("320x180", w, h));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 180);
    EXPECT_TRUE(parseCaptureSize("1X16384", w, h));
    for (const char* bad :
         {"0x180", "320x0", "320", "x180", "-320x180", "320x180x2", "320x 180", "16385x10", ""}) {
        EXPECT_FALSE(parseCaptureSize(bad, w, h)) << bad;
    }
    int fps = 0;
    EXPECT_TRUE(parseCaptureFps("60", fps));
    EXPECT_EQ(fps, 60);
    for (const char* bad : {"0", "-30", "29.97", "1001", "30fps", ""}) {
        EXPECT_FALSE(parseCaptureFps(bad, fps)) << bad;
    }
    double seconds = -1.0;
    EXPECT_TRUE(parseCaptureSeconds("1.5", seconds));
    EXPECT_EQ(seconds, 1.5);
    EXPECT_TRUE(parseCaptureSeconds("0", seconds));
    EXPECT_EQ(seconds, 0.0);
    for (const char* bad : {"-1", "nan", "inf", "1e999", "1s", " 1", ""}) {
        EXPECT_FALSE(parseCaptureSeconds(bad, seconds)) << bad;
    }
}

TEST(CaptureOptions, OutputKindFollowsTheRuleGivenInTheHelp) {
    ScratchFolder scratch;
    VelmoraTest::makeFolder(scratch.file("existing.mp4"));
    EXPECT_EQ(captureOutputKind("show.mp4"), CaptureOutputKind::Video);
    EXPECT_EQ(captureOutputKind("a/b/SHOW.MKV"), CaptureOutputKind::Video);
    EXPECT_EQ(captureOutputKind("frames"), CaptureOutputKind::Folder);
    EXPECT_EQ(captureOutputKind("frames.v2/"), CaptureOutputKind::Folder);
    EXPECT_EQ(captureOutputKind("release.v2/frames"), CaptureOutputKind::Folder);
    EXPECT_EQ(captureOutputKind(".hidden"), CaptureOutputKind::Folder);
    EXPECT_EQ(captureOutputKind(scratch.file("existing.mp4")), CaptureOutputKind::Folder);
    EXPECT_EQ(captureOutputKind("show.avi"), CaptureOutputKind::Unsupported);
    EXPECT_EQ(captureOutputKind("frame.png"), CaptureOutputKind::Unsupported);
}

TEST(CaptureOptions, CommandLineTakesOfflineRuns) {
    CommandLine capture =
        parse({"--capture", "out.mp4", "--size", "320x180", "--fps", "25", "--from", "1.5", "--to=3"});
    ASSERT_EQ(capture.action, CommandLine::Action::Run) << capture.error;
    EXPECT_EQ(capture.offline.mode, OfflineMode::Capture);
    EXPECT_EQ(capture.offline.output, "out.mp4");
    EXPECT_EQ(capture.offline.width, 320);
    EXPECT_EQ(capture.offline.height, 180);
    EXPECT_EQ(capture.offline.fps, 25);
    EXPECT_EQ(capture.offline.from, 1.5);
    EXPECT_TRUE(capture.offline.hasTo);
    EXPECT_EQ(capture.offline.to, 3.0);

    // Without --size and --fps: 1280x720 at 30, as the help says.
    CommandLine timedemo = parse({"--timedemo"});
    ASSERT_EQ(timedemo.action, CommandLine::Action::Run) << timedemo.error;
    EXPECT_EQ(timedemo.offline.mode, OfflineMode::Timedemo);
    EXPECT_EQ(timedemo.offline.width, 1280);
    EXPECT_EQ(timedemo.offline.height, 720);
    EXPECT_EQ(timedemo.offline.fps, 30);

    EXPECT_EQ(parse({"--windowed"}).offline.mode, OfflineMode::None);
    // Help wins over half-finished offline options, and explains them.
    CommandLine help = parse({"--fps", "30", "--help"});
    EXPECT_EQ(help.action, CommandLine::Action::Help);
    EXPECT_NE(commandLineHelp("velmora").find("frame_000000.png"), std::string::npos);
}

TEST(CaptureOptions, CommandLineRefusesBadCombinations) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{"--capture", "out.mp4", "--size", "0x180"}, "bad size"},
        {{"--capture", "out.mp4", "--fps", "0"}, "bad --fps"},
        {{"--capture", "out.mp4", "--fps", "-5"}, "bad --fps"},
        {{"--capture", "out.mp4", "--from", "2", "--to", "1"}, "--to must be later than --from"},
        {{"--capture", "out.mp4", "--from", "2", "--to", "2"}, "--to must be later than --from"},
        {{"--capture", "out.mp4", "--from", "-1"}, "bad --from"},
        {{"--capture", "out.avi"}, "must end in .mp4 or .mkv"},
        {{"--capture", "out.mp4", "--size", "321x180"}, "even width and height"},
        {{"--capture", ""}, "--capture needs an output"},
        {{"--capture"}, "--capture needs a value"},
        {{"--capture", "out", "--timedemo"}, "exclude each other"},
        {{"--timedemo", "--timedemo"}, "given twice"},
        {{"--timedemo", "--fullscreen"}, "do not apply"},
        {{"--capture", "out", "--vsync"}, "do not apply"},
        {{"--fps", "30"}, "only apply to --capture and --timedemo"},
        {{"--windowed", "--to", "3"}, "only apply to --capture and --timedemo"},
    };
    for (const auto& [words, message] : cases) {
        CommandLine result = parse(words);
        EXPECT_EQ(result.action, CommandLine::Action::Error) << message;
        EXPECT_NE(result.error.find(message), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
        EXPECT_EQ(result.error.rfind("velmora: ", 0), 0u) << result.error;
    }
    // A folder capture may have any size.
    EXPECT_EQ(parse({"--capture", "frames/", "--size", "321x181"}).action, CommandLine::Action::Run);
}

TEST(CaptureOptions, OutputChecksRefuseWithoutCreatingAnything) {
    ScratchFolder scratch;
    CaptureOptions options;
    options.mode = OfflineMode::Capture;

    options.output = scratch.file("new/nested/frames");
    EXPECT_EQ(checkCaptureOutput(options), "");
    options.output = scratch.file("show.mp4");
    EXPECT_EQ(checkCaptureOutput(options), "");
    EXPECT_TRUE(CaptureTest::listFolder(scratch.path).empty());

    CaptureTest::writeFile(scratch.file("plain"), "x");
    options.output = scratch.file("plain/frames");
    EXPECT_NE(checkCaptureOutput(options).find("is not a folder"), std::string::npos);
    options.output = scratch.file("plain/show.mp4");
    EXPECT_NE(checkCaptureOutput(options).find("does not exist"), std::string::npos);
    options.output = scratch.file("missing/show.mkv");
    EXPECT_NE(checkCaptureOutput(options).find("does not exist"), std::string::npos);

    // A folder holding an earlier capture would mix two captures: refused.
    VelmoraTest::makeFolder(scratch.file("old"));
    options.output = scratch.file("old");
    EXPECT_EQ(checkCaptureOutput(options), "");
    CaptureTest::writeFile(scratch.file("old/frame_000003.png"), "x");
    EXPECT_NE(checkCaptureOutput(options).find("already holds a capture"), std::string::npos);
    VelmoraTest::makeFolder(scratch.file("sound"));
    CaptureTest::writeFile(scratch.file("sound/audio.wav"), "x");
    options.output = scratch.file("sound/");
    EXPECT_NE(checkCaptureOutput(options).find("already holds a capture"), std::string::npos);
    EXPECT_EQ(CaptureTest::listFolder(scratch.path), (std::vector<std::string>{"old", "plain", "sound"}));
}

TEST(FramePlan, CountsFramesOnTheOfflineClock) {
    EXPECT_EQ(framesBefore(0.0, 2.0, 30), 60);
    EXPECT_EQ(framesBefore(0.0, 2.0000001, 30), 61); // frame 60 at exactly 2.0 is still before the end
    EXPECT_EQ(framesBefore(0.0, 1.0 / 3.0, 30), 10);
    EXPECT_EQ(framesBefore(0.5, 1.0, 10), 5);
    EXPECT_EQ(framesBefore(1.0, 1.0, 30), 0);
    EXPECT_EQ(framesBefore(2.0, 1.0, 30), 0);

    std::vector<double> asked;
    FramePlan plan = planFrames(0.5, 10.0, 10, [&](double t) {
        asked.push_back(t);
        return t < 1.0; // the end track goes negative at 1 s
    });
    EXPECT_EQ(plan.frameCount, 5);
    EXPECT_EQ(plan.frameTime(0), 0.5);
    EXPECT_DOUBLE_EQ(plan.frameTime(3), 0.8);
    EXPECT_DOUBLE_EQ(plan.endTime(), 1.0);
    EXPECT_EQ(asked.size(), 6u); // stops asking at the first "no"
    EXPECT_EQ(planFrames(0.0, 10.0, 30, [](double) { return false; }).frameCount, 0);
    EXPECT_EQ(planFrames(0.0, 1.0, 30, [](double) { return true; }).frameCount, 30);
    // A start between frames begins at the next frame of the show's grid, and every time is the
    // global frame's, never the start plus a fraction.
    plan = planFrames(120.1, 121.0, 30, [](double) { return true; });
    EXPECT_EQ(plan.first, 3603);
    EXPECT_EQ(plan.frameCount, 27);
    for (int64_t k = 0; k < plan.frameCount; ++k) {
        EXPECT_EQ(plan.frameTime(k), static_cast<double>(3603 + k) / 30.0) << k;
    }
    plan = planFrames(0.11, 1.0, 30, [](double) { return true; });
    EXPECT_EQ(plan.first, 4);
    EXPECT_EQ(plan.from, 4.0 / 30.0);
}

TEST(FramePlan, AudioSpansJoinWithoutGapOrOverlap) {
    FramePlan whole{0.0, 30, 90};
    EXPECT_EQ(whole.firstSample(44100), 0);
    EXPECT_EQ(whole.sampleCount(44100), 3 * 44100);
    // Frames 0..6 and 7..89 of the same show, captured separately.
    FramePlan first{0.0, 30, 7};
    FramePlan second{7.0 / 30.0, 30, 83, 7};
    EXPECT_EQ(first.firstSample(44100) + first.sampleCount(44100), second.firstSample(44100));
    EXPECT_EQ(first.sampleCount(44100) + second.sampleCount(44100), whole.sampleCount(44100));
}

TEST(FrameTimes, SummarizesAndReportsInTheStableFormat) {
    FrameTimeStats stats = summarizeFrameTimes({0.010, 0.030, 0.020, 0.5});
    EXPECT_EQ(stats.frames, 4);
    EXPECT_NEAR(stats.totalSeconds, 0.56, 1e-12);
    EXPECT_NEAR(stats.meanMs, 140.0, 1e-9);
    EXPECT_NEAR(stats.medianMs, 25.0, 1e-9);
    EXPECT_NEAR(stats.p99Ms, 500.0, 1e-9);
    EXPECT_NEAR(stats.worstMs, 500.0, 1e-9);
    EXPECT_EQ(stats.worstFrame, 3);
    EXPECT_NEAR(stats.firstMs, 10.0, 1e-9);

    std::vector<double> ramp;
    for (int i = 200; i >= 1; --i) {
        ramp.push_back(i / 1000.0);
    }
    FrameTimeStats rampStats = summarizeFrameTimes(ramp);
    EXPECT_NEAR(rampStats.medianMs, 100.5, 1e-9);
    EXPECT_NEAR(rampStats.p99Ms, 198.0, 1e-9); // 198 of 200 frames (99 %) take at most 198 ms
    EXPECT_EQ(rampStats.worstFrame, 0);
    EXPECT_EQ(summarizeFrameTimes({}).frames, 0);

    EXPECT_EQ(formatTimedemoReport({1280, 720, 30, 0.0}, stats), "timedemo: size 1280x720 fps 30 from 0.000\n"
                                                                 "timedemo: frames 4\n"
                                                                 "timedemo: total 0.560 s\n"
                                                                 "timedemo: mean 140.000 ms\n"
                                                                 "timedemo: median 25.000 ms\n"
                                                                 "timedemo: p99 500.000 ms\n"
                                                                 "timedemo: worst 500.000 ms (frame 3)\n"
                                                                 "timedemo: first 10.000 ms\n");
}

TEST(ProgressLine, RedrawsOnATerminalAndLogsEveryFivePercentOtherwise) {
    EXPECT_EQ(formatProgress("capture", 120, 5400, 8.0),
              "capture: frame 120 of 5400 (2 %), 15.0 fps, 5:52 left");
    EXPECT_EQ(formatProgress("capture", 0, 10, 0.0), "capture: frame 0 of 10 (0 %)");

    // Through the logger's error route, captured here.
    std::string text;
    Logger::Sink previous = Logger::instance().setErrorSink([&](const std::string& part) { text += part; });
    ProgressLine plain(false, "capture", 1000);
    for (int done = 0; done <= 1000; ++done) {
        plain.update(done, done * 0.01);
    }
    plain.finish(1000, 10.0);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21); // 0 %, 5 %, ... 100 %
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("frame 1000 of 1000 (100 %)"), std::string::npos);

    std::string drawn;
    Logger::instance().setErrorSink([&](const std::string& part) { drawn += part; });
    ProgressLine live(true, "capture", 1000);
    for (int done = 0; done <= 1000; ++done) {
        live.update(done, done * 0.001); // one second in all: redrawn about five times
    }
    live.finish(1000, 1.0);
    Logger::instance().setErrorSink(previous);
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\n'), 1);
    EXPECT_EQ(drawn.back(), '\n');
    long redraws = std::count(drawn.begin(), drawn.end(), '\r');
    EXPECT_GE(redraws, 3);
    EXPECT_LE(redraws, 8);
}

TEST(WavWriter, WritesSixteenBitPcmUnderItsNameOnlyWhenFinished) {
    ScratchFolder scratch;
    const std::string path = scratch.file("audio.wav");
    {
        WavWriter wav(path, 44100, 2);
        const float samples[] = {
            0.0f, 1.0f, -1.0f, 0.5f, 2.0f, -7.0f, std::numeric_limits<float>::quiet_NaN(), -0.25f};
        wav.write(samples, 2);
        EXPECT_FALSE(CaptureTest::exists(path)); // not under its name before it is complete
        wav.write(samples + 4, 2);
        wav.finish();
    }
    EXPECT_EQ(CaptureTest::listFolder(scratch.path), std::vector<std::string>{"audio.wav"});
    std::string bytes = CaptureTest::readFile(path);
    ASSERT_EQ(bytes.size(), 44u + 16u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), 36u + 16u);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le16(bytes, 20), 1);      // PCM
    EXPECT_EQ(le16(bytes, 22), 2);      // stereo
    EXPECT_EQ(le32(bytes, 24), 44100u); // rate
    EXPECT_EQ(le32(bytes, 28), 44100u * 4);
    EXPECT_EQ(le16(bytes, 32), 4);
    EXPECT_EQ(le16(bytes, 34), 16);
    EXPECT_EQ(bytes.substr(36, 4), "data");
    EXPECT_EQ(le32(bytes, 40), 16u);
    const int16_t expected[] = {0, 32767, -32767, 16384, 32767, -32767, 0, -8192};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(static_cast<int16_t>(le16(bytes, 44 + 2 * i)), expected[i]) << i;
    }

    // Abandoned: nothing is left behind, not even the temporary file.
    { WavWriter abandoned(scratch.file("abandoned.wav"), 44100, 2); }
    EXPECT_EQ(CaptureTest::listFolder(scratch.path), std::vector<std::string>{"audio.wav"});
    EXPECT_THROW(WavWriter(scratch.file("missing/audio.wav"), 44100, 2), VFileException);
}

TEST(PngFolderWriter, WritesWholeFramesUnderTheirNumbers) {
    ScratchFolder scratch;
    const int width = 5, height = 3;
    std::vector<uint8_t> rgba(width * height * 4);
    for (size_t i = 0; i < rgba.size(); ++i) {
        rgba[i] = static_cast<uint8_t>(i * 7);
    }
    PngFolderWriter writer(scratch.path, width, height);
    writer.writeFrame(7, rgba.data());
    writer.writeFrame(1234567, rgba.data());
    EXPECT_EQ(CaptureTest::listFolder(scratch.path),
              (std::vector<std::string>{"frame_000007.png", "frame_1234567.png"}));

    int w = 0, h = 0, channels = 0;
    unsigned char* decoded = stbi_load(scratch.file("frame_000007.png").c_str(), &w, &h, &channels, 0);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_EQ(channels, 3); // the picture as seen: no alpha
    for (int i = 0; i < width * height; ++i) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(decoded[3 * i + c], rgba[4 * i + c]) << "pixel " << i;
        }
    }
    stbi_image_free(decoded);

    // Odd sizes and noisy pixels (the row filter wraps around) decode to exactly what was given.
    const int wide = 37, tall = 23;
    std::vector<uint8_t> noise(wide * tall * 4);
    uint32_t state = 12345;
    for (uint8_t& byte : noise) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    PngFolderWriter(scratch.path, wide, tall).writeFrame(8, noise.data());
    decoded = stbi_load(scratch.file("frame_000008.png").c_str(), &w, &h, &channels, 4);
    ASSERT_NE(decoded, nullptr);
    ASSERT_EQ(w * h, wide * tall);
    for (int i = 0; i < wide * tall; ++i) {
        ASSERT_EQ(std::memcmp(decoded + 4 * i, noise.data() + 4 * i, 3), 0) << "pixel " << i;
        ASSERT_EQ(decoded[4 * i + 3], 255) << "pixel " << i;
    }
    stbi_image_free(decoded);
    std::remove(scratch.file("frame_000008.png").c_str());

    PngFolderWriter nowhere(scratch.file("missing"), width, height);
    EXPECT_THROW(nowhere.writeFrame(0, rgba.data()), VFileException);
    EXPECT_THROW(writeFileAtomically(scratch.file("missing/x"), "abc", 3), VFileException);
    EXPECT_EQ(CaptureTest::listFolder(scratch.path).size(), 2u);
}

TEST(PngFolderWriter, ThreadsThatWriteAndEndLeaveEveryFrameWhole) {
    // Writer threads come and go (each capture has its own); an encoder must outlive none of them
    // wrongly. Many short-lived threads, each writing a few frames, one writer for all.
    ScratchFolder scratch;
    const int width = 16, height = 9;
    std::vector<uint8_t> rgba(width * height * 4, 200);
    PngFolderWriter writer(scratch.path, width, height);
    int64_t next = 0;
    for (int round = 0; round < 20; ++round) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            const int64_t first = next;
            next += 2;
            threads.emplace_back([&writer, &rgba, first] {
                writer.writeFrame(first, rgba.data());
                writer.writeFrame(first + 1, rgba.data());
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    const std::vector<std::string> names = CaptureTest::listFolder(scratch.path);
    ASSERT_EQ(names.size(), static_cast<size_t>(next));
    for (const std::string& name : names) {
        int w = 0, h = 0, channels = 0;
        unsigned char* decoded = stbi_load(scratch.file(name).c_str(), &w, &h, &channels, 3);
        ASSERT_NE(decoded, nullptr) << name;
        EXPECT_EQ(w * h, width * height) << name;
        stbi_image_free(decoded);
    }
}

TEST(FrameWriter, WritesInOrderOnOneThreadAndInParallelOnMore) {
    const int frames = 40;
    std::vector<int64_t> order;
    {
        FrameWriter writer(16, 1, 3, [&](int64_t index, const uint8_t* frame) {
            EXPECT_EQ(frame[0], static_cast<uint8_t>(index));
            EXPECT_EQ(frame[15], static_cast<uint8_t>(index + 1));
            order.push_back(index);
        });
        for (int k = 0; k < frames; ++k) {
            uint8_t* buffer = writer.acquire();
            std::memset(buffer, k, 15);
            buffer[15] = static_cast<uint8_t>(k + 1);
            writer.submit(k, buffer);
        }
        writer.finish();
        EXPECT_EQ(writer.framesWritten(), frames);
    }
    std::vector<int64_t> expected(frames);
    for (int k = 0; k < frames; ++k) {
        expected[k] = k;
    }
    EXPECT_EQ(order, expected);

    std::mutex mutex;
    std::set<int64_t> seen;
    FrameWriter parallel(8, 3, 5, [&](int64_t index, const uint8_t* frame) {
        EXPECT_EQ(frame[7], static_cast<uint8_t>(index));
        std::lock_guard<std::mutex> lock(mutex);
        seen.insert(index);
    });
    for (int k = 0; k < frames; ++k) {
        uint8_t* buffer = parallel.acquire();
        std::memset(buffer, k, 8);
        parallel.submit(k, buffer);
    }
    parallel.finish();
    EXPECT_EQ(seen.size(), static_cast<size_t>(frames));
}

TEST(FrameWriter, TheFirstFailureStopsWritingAndReachesTheDrawingThread) {
    FrameWriter writer(4, 1, 2, [](int64_t index, const uint8_t*) {
        if (index == 5) {
            throw VFileException("Cannot write frame 5: No space left on device");
        }
    });
    std::string message;
    int64_t submitted = 0;
    try {
        for (int64_t k = 0; k < 1000; ++k) {
            writer.submit(k, writer.acquire());
            ++submitted;
        }
        writer.finish();
    } catch (const VFileException& error) {
        message = error.what();
    }
    EXPECT_EQ(message, "Cannot write frame 5: No space left on device");
    EXPECT_LT(submitted, 1000);
    EXPECT_EQ(writer.framesWritten(), 5);
    EXPECT_THROW(writer.finish(), VFileException); // and again, for whoever asks next
}

TEST(VideoCheck, ReadsFfprobeAndComparesWithTheFramesWritten) {
    const VideoFacts mp4 = parseVideoProbe("codec_type=video|duration=2.000000|nb_read_packets=20\n"
                                           "codec_type=audio|duration=2.000000|nb_read_packets=88\n"
                                           "duration=2.000000\n");
    EXPECT_EQ(mp4.videoStreams, 1);
    EXPECT_EQ(mp4.audioStreams, 1);
    EXPECT_EQ(mp4.videoPackets, 20);
    EXPECT_DOUBLE_EQ(mp4.videoSeconds, 2.0);
    EXPECT_EQ(videoProblem(mp4, 20, 10, true), "");
    EXPECT_EQ(videoProblem(mp4, 21, 10, true), "it holds 20 of the 21 frames written");
    // Matroska leaves the streams' lengths to the container.
    const VideoFacts mkv =
        parseVideoProbe("codec_type=video|duration=N/A|nb_read_packets=20\nduration=2.023000\n");
    EXPECT_DOUBLE_EQ(mkv.videoSeconds, -1.0);
    EXPECT_DOUBLE_EQ(mkv.fileSeconds, 2.023);
    EXPECT_EQ(videoProblem(mkv, 20, 10, false), "");
    EXPECT_EQ(videoProblem(mkv, 20, 10, true), "it holds no sound stream");
    const VideoFacts shortFile =
        parseVideoProbe("codec_type=video|duration=N/A|nb_read_packets=20\nduration=1.5\n");
    EXPECT_NE(videoProblem(shortFile, 20, 10, false).find("last 1.500 s instead of 2.000 s"),
              std::string::npos);
    const VideoFacts stretched = parseVideoProbe("codec_type=video|duration=2.5|nb_read_packets=20\n");
    EXPECT_NE(videoProblem(stretched, 20, 10, false).find("instead of 2.000 s"), std::string::npos);
    EXPECT_EQ(videoProblem(parseVideoProbe(""), 0, 10, false), "it holds 0 video streams instead of one");

    EXPECT_EQ(ffmpegFileUrl("-out.mp4"), "file:-out.mp4");
    EXPECT_EQ(ffmpegFileUrl("file:x.mp4"), "file:file:x.mp4");
    const std::vector<std::string> args =
        ffmpegArguments({"ffmpeg", "12:30.mp4", 64, 36, 30, "-a.wav", ""}, "12:30.mp4.part");
    EXPECT_NE(std::find(args.begin(), args.end(), "-xerror"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "file:-a.wav"), args.end());
    EXPECT_EQ(args.back(), "file:12:30.mp4.part");
    EXPECT_EQ(partialVideoName("out/show.mp4", 1), "out/show.partial.mp4");
    EXPECT_EQ(partialVideoName("show.MKV", 3), "show.partial-3.MKV");
    EXPECT_EQ(partialVideoName(".hidden", 1), ".hidden.partial");
}

TEST(JsonWriter, EscapesTextAndWritesNumbersAsTheReportRoundsThem) {
    JsonObject object;
    object.add("name", "a \"quoted\"\\path\n\x01 é").add("count", int64_t(-3)).add("ms", 12.34567, 3);
    object.add("nan", std::numeric_limits<double>::quiet_NaN(), 3).add("tiny", -0.0001, 3);
    EXPECT_EQ(object.text(), "{\n"
                             "  \"name\": \"a \\\"quoted\\\"\\\\path\\n\\u0001 é\",\n"
                             "  \"count\": -3,\n"
                             "  \"ms\": 12.346,\n"
                             "  \"nan\": null,\n"
                             "  \"tiny\": 0.000\n"
                             "}\n");
    EXPECT_EQ(JsonObject().text(), "{}\n");
    FrameTimeStats stats = summarizeFrameTimes({0.010, 0.030});
    const std::string json = formatTimedemoJson({320, 180, 30, 1.5}, stats);
    EXPECT_NE(json.find("\"from_s\": 1.500,\n"), std::string::npos) << json;
    EXPECT_NE(json.find("\"worst_frame\": 1,\n"), std::string::npos) << json;
    EXPECT_NE(json.find("\"median_ms\": 20.000,\n"), std::string::npos) << json;
}

TEST(CaptureOptions, ReportAndCheckOptions) {
    CommandLine report = parse({"--timedemo", "--report", "t.json"});
    ASSERT_EQ(report.action, CommandLine::Action::Run) << report.error;
    EXPECT_EQ(report.offline.report, "t.json");
    EXPECT_EQ(parse({"--check"}).action, CommandLine::Action::Check);
    for (const std::vector<const char*>& words :
         std::vector<std::vector<const char*>>{{"--capture", "x", "--report", "t.json"},
                                               {"--report", "t.json"},
                                               {"--timedemo", "--report", ""},
                                               {"--check", "--timedemo"},
                                               {"--check", "--windowed"},
                                               {"--check", "--fps", "10"}}) {
        EXPECT_EQ(parse(words).action, CommandLine::Action::Error) << words[0] << " " << words[1];
    }
    EXPECT_NE(commandLineHelp("velmora").find("--check"), std::string::npos);
    EXPECT_NE(commandLineHelp("velmora").find("--report FILE"), std::string::npos);

    ScratchFolder scratch;
    CaptureOptions options;
    options.mode = OfflineMode::Capture;
    options.output = scratch.file(std::string(300, 'x'));
    EXPECT_NE(checkCaptureOutput(options).find("File name too long"), std::string::npos);
    options.output = scratch.file(std::string(300, 'x') + "/frame/");
    EXPECT_NE(checkCaptureOutput(options).find("File name too long"), std::string::npos);
    // A FIFO in the output's place, or where the system has none (Windows) a device's name, which
    // names the device in any folder and with any extension.
    const std::string special =
        VelmoraTest::makeFifo(scratch.file("pipe.mp4")) ? scratch.file("pipe.mp4") : scratch.file("NUL.mp4");
    options.output = special;
    EXPECT_NE(checkCaptureOutput(options).find("is not a regular file"), std::string::npos) << special;
    options.mode = OfflineMode::Timedemo;
    options.report = special;
    EXPECT_NE(checkCaptureOutput(options).find("is not a regular file"), std::string::npos) << special;
    options.report = scratch.file("r.json");
    EXPECT_EQ(checkCaptureOutput(options), "");
    EXPECT_TRUE(CaptureTest::listFolder(scratch.path).size() <= 1u); // the FIFO, nothing more
}
