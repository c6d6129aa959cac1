// The ffmpeg encoder against the real ffmpeg and ffprobe and against shell scripts that stand in
// for an ffmpeg in trouble, with links and FIFOs at the output: POSIX systems with ffmpeg
// installed, as the project's Linux dependencies have it.
#include "capture/FfmpegEncoder.h"
#include "base/Files.h"
#include "base/Process.h"
#include "base/Vexception.h"
#include "capture/VideoCheck.h"
#include "capture/WavWriter.h"
#include "tests/capture/CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace Velmora;
using CaptureTest::ScratchFolder;

namespace {

// Frame count and duration of the first stream of `type` ("v" or "a"), as ffprobe counts them.
std::pair<long, double> probe(const std::string& file, const char* type) {
    std::string out = file + ".probe";
    std::string command = std::string("ffprobe -v error -count_frames -select_streams ") + type +
                          ":0 -show_entries stream=nb_read_frames,duration -of default=nw=1 '" + file +
                          "' > '" + out + "'";
    if (CaptureTest::runShell(command) != 0) {
        return {-1, -1.0};
    }
    std::string text = CaptureTest::readFile(out);
    std::remove(out.c_str());
    long frames = -1;
    double duration = -1.0;
    size_t at = text.find("nb_read_frames=");
    if (at != std::string::npos) {
        frames = std::atol(text.c_str() + at + 15);
    }
    at = text.find("duration=");
    if (at != std::string::npos) {
        duration = std::atof(text.c_str() + at + 9);
    }
    return {frames, duration};
}

} // namespace

TEST(FfmpegEncoder, EncodesFramesWithTheirAudioIntoAFinishedFile) {
    const std::string ffmpeg = findProgramOnPath("ffmpeg");
    ASSERT_FALSE(ffmpeg.empty()) << "ffmpeg is a dependency of the project";
    ScratchFolder scratch;
    {
        WavWriter wav(scratch.file("audio.wav"), 44100, 2);
        std::vector<float> tone(2 * 44100);
        for (size_t i = 0; i < tone.size(); ++i) {
            tone[i] = 0.3f * static_cast<float>(std::sin(i * 0.03));
        }
        wav.write(tone.data(), 44100);
        wav.finish();
    }
    const int width = 64, height = 36, fps = 12;
    for (const char* name : {"clip.mp4", "clip.mkv"}) {
        const std::string output = scratch.file(name);
        FfmpegEncoder encoder(
            VideoSettings{ffmpeg, output, width, height, fps, scratch.file("audio.wav"), ""});
        std::vector<uint8_t> frame(width * height * 4);
        for (int k = 0; k < fps; ++k) {
            std::fill(frame.begin(), frame.end(), static_cast<uint8_t>(k * 20));
            encoder.writeFrame(frame.data());
        }
        EXPECT_FALSE(CaptureTest::exists(output)); // only under its name when complete
        encoder.finish();
        ASSERT_TRUE(CaptureTest::exists(output)) << name;
        EXPECT_FALSE(CaptureTest::exists(output + ".part"));
        auto [frames, videoSeconds] = probe(output, "v");
        EXPECT_EQ(frames, fps) << name;
        if (std::string(name) == "clip.mp4") { // Matroska keeps durations in its tags, not the stream
            EXPECT_NEAR(videoSeconds, 1.0, 1e-6);
            EXPECT_NEAR(probe(output, "a").second, 1.0, 1.0 / fps);
        }
    }
    std::vector<std::string> mp4 = ffmpegArguments({ffmpeg, "x.mp4", 64, 36, 30, "a.wav", ""}, "x.mp4.part");
    EXPECT_NE(std::find(mp4.begin(), mp4.end(), "+faststart"), mp4.end());
    EXPECT_NE(std::find(mp4.begin(), mp4.end(), "yuv420p"), mp4.end());
    // Reproducible bytes: x264's threads pinned (its output depends on their number), no version
    // strings or metadata in the container.
    const auto threads = std::find(mp4.begin(), mp4.end(), "-threads:v");
    ASSERT_NE(threads, mp4.end());
    EXPECT_EQ(*(threads + 1), std::to_string(Velmora::videoEncoderThreads));
    for (const char* flag : {"-fflags", "-flags:v", "-flags:a"}) {
        const auto at = std::find(mp4.begin(), mp4.end(), flag);
        ASSERT_NE(at, mp4.end()) << flag;
        EXPECT_EQ(*(at + 1), "+bitexact") << flag;
    }
    EXPECT_NE(std::find(mp4.begin(), mp4.end(), "-map_metadata"), mp4.end());
    std::vector<std::string> mkv = ffmpegArguments({ffmpeg, "x.MKV", 64, 36, 30, "", ""}, "x.MKV.part");
    EXPECT_NE(std::find(mkv.begin(), mkv.end(), "matroska"), mkv.end());
    EXPECT_EQ(std::find(mkv.begin(), mkv.end(), "aac"), mkv.end()); // no audio given, none encoded
}

TEST(FfmpegEncoder, ADeadEncoderIsAnErrorWithItsLastWordsAndLeavesNoFile) {
    ScratchFolder scratch;
    // Stands in for an ffmpeg that stops (a full disk, a crash) after reading a little.
    const std::string fake = scratch.file("ffmpeg");
    CaptureTest::writeFile(
        fake, "#!/bin/sh\nhead -c 5000 > /dev/null\necho 'No space left on device' >&2\nexit 1\n");
    chmod(fake.c_str(), 0755);
    const std::string output = scratch.file("show.mp4");
    std::string message;
    {
        FfmpegEncoder encoder(VideoSettings{fake, output, 64, 36, 30, "", ""});
        std::vector<uint8_t> frame(64 * 36 * 4, 128);
        try {
            for (int k = 0; k < 2000; ++k) {
                encoder.writeFrame(frame.data()); // ends with EPIPE, not with SIGPIPE killing the test
            }
            encoder.finish();
        } catch (const Vexception& error) {
            message = error.what();
        }
    }
    EXPECT_NE(message.find("ffmpeg exited with status 1"), std::string::npos) << message;
    EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
    EXPECT_FALSE(CaptureTest::exists(output));
    EXPECT_FALSE(CaptureTest::exists(output + ".part"));

    // Failing only at the end (it read everything) is reported by finish().
    const std::string late = scratch.file("late-ffmpeg");
    CaptureTest::writeFile(late, "#!/bin/sh\ncat > /dev/null\necho 'Conversion failed!' >&2\nexit 1\n");
    chmod(late.c_str(), 0755);
    FfmpegEncoder encoder(VideoSettings{late, output, 64, 36, 30, "", ""});
    std::vector<uint8_t> frame(64 * 36 * 4, 128);
    encoder.writeFrame(frame.data());
    try {
        encoder.finish();
        ADD_FAILURE() << "finish() should have failed";
    } catch (const Vexception& error) {
        EXPECT_NE(std::string(error.what()).find("Conversion failed!"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(CaptureTest::exists(output));
}

TEST(FfmpegEncoder, ABrokenVideoOrAnOddOutputNeverReplacesAnything) {
    ScratchFolder scratch;
    const std::string output = scratch.file("show.mp4");
    CaptureTest::writeFile(output, "the earlier video");
    // ffmpeg says all went well but wrote a file without its index, then one with a frame too few.
    const std::string silent = scratch.file("silent-ffmpeg");
    CaptureTest::writeFile(silent, "#!/bin/sh\ncat > /dev/null\nfor a; do out=\"$a\"; done\n"
                                   "printf 'not a video' > \"${out#file:}\"\nexit 0\n");
    chmod(silent.c_str(), 0755);
    std::vector<uint8_t> frame(64 * 36 * 4, 90);
    {
        FfmpegEncoder encoder(VideoSettings{silent, output, 64, 36, 30, "", ""});
        encoder.writeFrame(frame.data());
        try {
            encoder.finish();
            ADD_FAILURE() << "a broken video was accepted";
        } catch (const Vexception& error) {
            EXPECT_NE(std::string(error.what()).find("the video ffmpeg wrote is broken"), std::string::npos)
                << error.what();
        }
    }
    EXPECT_EQ(CaptureTest::readFile(output), "the earlier video");
    EXPECT_EQ(CaptureTest::listFolder(scratch.path), (std::vector<std::string>{"show.mp4", "silent-ffmpeg"}));

    // A device or a folder at the output is refused before ffmpeg starts.
    EXPECT_THROW(FfmpegEncoder(VideoSettings{silent, scratch.path, 64, 36, 30, "", ""}), Vexception);
    mkfifo(scratch.file("pipe.mp4").c_str(), 0600);
    EXPECT_THROW(FfmpegEncoder(VideoSettings{silent, scratch.file("pipe.mp4"), 64, 36, 30, "", ""}),
                 Vexception);
}

TEST(FfmpegEncoder, AStoppedCaptureIsKeptUnderANameOfItsOwnAndALinkKeepsItsPlace) {
    const std::string ffmpeg = findProgramOnPath("ffmpeg");
    ASSERT_FALSE(ffmpeg.empty());
    ScratchFolder scratch;
    mkdir(scratch.file("videos").c_str(), 0755);
    const std::string target = scratch.file("videos/show.mkv");
    CaptureTest::writeFile(target, "the earlier video");
    ASSERT_EQ(symlink("videos/show.mkv", scratch.file("latest.mkv").c_str()), 0);
    std::vector<uint8_t> frame(64 * 36 * 4, 128);
    std::vector<std::string> kept;
    for (int run = 0; run < 2; ++run) {
        FfmpegEncoder encoder(VideoSettings{ffmpeg, scratch.file("latest.mkv"), 64, 36, 10, "", ""});
        EXPECT_EQ(parentFolder(encoder.temporaryPath()), scratch.file("videos")); // beside what it replaces
        for (int k = 0; k < 3 + run; ++k) {
            encoder.writeFrame(frame.data());
        }
        std::string why;
        kept.push_back(encoder.keepPartial(why));
        EXPECT_EQ(why, "");
    }
    EXPECT_EQ(kept, (std::vector<std::string>{scratch.file("videos/show.partial.mkv"),
                                              scratch.file("videos/show.partial-2.mkv")}));
    EXPECT_EQ(probe(kept[0], "v").first, 3);
    EXPECT_EQ(probe(kept[1], "v").first, 4);
    EXPECT_EQ(CaptureTest::readFile(target), "the earlier video");
    {
        // No frame: nothing is kept.
        FfmpegEncoder encoder(VideoSettings{ffmpeg, scratch.file("latest.mkv"), 64, 36, 10, "", ""});
        std::string why;
        EXPECT_EQ(encoder.keepPartial(why), "");
        EXPECT_EQ(why, "no frame was written, so no partial video was kept");
    }
    {
        // Finished: the file behind the link is replaced, the link stays.
        FfmpegEncoder encoder(VideoSettings{ffmpeg, scratch.file("latest.mkv"), 64, 36, 10, "", ""});
        encoder.writeFrame(frame.data());
        encoder.finish();
    }
    struct stat status;
    ASSERT_EQ(lstat(scratch.file("latest.mkv").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(probe(target, "v").first, 1);
    EXPECT_EQ(CaptureTest::listFolder(scratch.file("videos")),
              (std::vector<std::string>{"show.mkv", "show.partial-2.mkv", "show.partial.mkv"}));
}
