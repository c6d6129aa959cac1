// The capture and timedemo commands end to end: the program is run on a small made-up show
// (ShowFixture) under the test's X server, and its files are checked. One GL test also checks the
// read-back path in this process, one compares a captured frame with this process's drawing of the
// same global frame, and one a span with a longer capture at the same frames.
#include "engine/Framebuffer.h"
#include "engine/FramebufferStack.h"
#include "engine/PixelPackBuffer.h"
#include "player/Player.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ShowFixture.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <unistd.h>

using CaptureTest::ShowFixture;

namespace {

constexpr int windowWidth = 320;
constexpr int windowHeight = 180;

std::unique_ptr<Velmora::Player> testPlayer;

ShowFixture& fixture() {
    static std::unique_ptr<ShowFixture> show = std::make_unique<ShowFixture>();
    return *show;
}

using Result = VelmoraTest::RunResult;

// Runs the program in the fixture's folder; `environment` adds "NAME=value" entries.
Result velmora(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
    VelmoraTest::RunOptions options;
    options.workingDirectory = fixture().root();
    options.environment = environment;
    return VelmoraTest::runProgram(VELMORA_BINARY, arguments, options);
}

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

Image loadPng(const std::string& path) {
    Image image;
    int channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &image.width, &image.height, &channels, 3);
    if (pixels != nullptr) {
        image.rgb.assign(pixels, pixels + image.width * image.height * 3);
        stbi_image_free(pixels);
    }
    return image;
}

double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return 1e9;
    }
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        sum += std::abs(int(a[i]) - int(b[i]));
    }
    return sum / a.size();
}

std::vector<uint8_t> flipped(const Image& image) {
    std::vector<uint8_t> out(image.rgb.size());
    const size_t row = static_cast<size_t>(image.width) * 3;
    for (int y = 0; y < image.height; ++y) {
        std::copy_n(image.rgb.begin() + y * row, row, out.begin() + (image.height - 1 - y) * row);
    }
    return out;
}

// "key=value" lines of ffprobe for the first stream of `type`.
std::string probe(const std::string& file, const char* type) {
    const std::string out = file + ".probe";
    CaptureTest::runShell(std::string("ffprobe -v error -count_frames -select_streams ") + type +
                          ":0 -show_entries stream=nb_read_frames,duration -of default=nw=1 '" + file +
                          "' > '" + out + "'");
    std::string text = CaptureTest::readFile(out);
    std::remove(out.c_str());
    return text;
}

double probeValue(const std::string& text, const std::string& key) {
    size_t at = text.find(key + "=");
    return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + key.size() + 1);
}

} // namespace

TEST(CaptureGl, TheBaseTargetTakesTheWindowsPlaceAndReadBackComesTopRowFirst) {
    using namespace Velmora;
    OffscreenTarget target(40, 30);
    Framebuffer* inner = Framebuffer::create(1, 16, 16, false);
    FramebufferStack::instance().setBaseTarget(target.id(), 40, 30);
    inner->bind();
    inner->unbind();
    GLint bound = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    std::array<GLint, 4> viewport{};
    glGetIntegerv(GL_VIEWPORT, viewport.data());
    EXPECT_EQ(static_cast<GLuint>(bound), target.id());
    EXPECT_EQ(viewport, (std::array<GLint, 4>{0, 0, 40, 30}));
    FramebufferStack::instance().setBaseTarget(0, 0, 0);
    inner->bind();
    inner->unbind();
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    glGetIntegerv(GL_VIEWPORT, viewport.data());
    EXPECT_EQ(bound, 0);
    EXPECT_EQ(viewport, (std::array<GLint, 4>{0, 0, windowWidth, windowHeight}));
    delete inner;

    // Six frames through a ring of three: each has its own grey level and a green band along the
    // bottom; they come back in order, with the band in the last rows once flipped.
    PixelPackBuffer readback(40, 30, 3);
    std::vector<int64_t> seen;
    std::vector<uint8_t> topDown(40 * 30 * 4);
    auto check = [&](int64_t index, const uint8_t* bottomUp) {
        seen.push_back(index);
        flipRows(bottomUp, topDown.data(), 40, 30);
        const uint8_t level = static_cast<uint8_t>(index * 40);
        EXPECT_EQ(topDown[0], level) << index;
        EXPECT_EQ(topDown[1], level) << index;
        const uint8_t* bottomRow = &topDown[29 * 40 * 4];
        EXPECT_EQ(bottomRow[0], 0) << index;
        EXPECT_EQ(bottomRow[1], 255) << index;
    };
    for (int64_t k = 0; k < 6; ++k) {
        glBindFramebuffer(GL_FRAMEBUFFER, target.id());
        glViewport(0, 0, 40, 30);
        glClearColor(k * 40 / 255.0f, k * 40 / 255.0f, k * 40 / 255.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 40, 5); // GL's row 0 is the bottom of the picture
        glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
        readback.start(target.id(), k);
        if (readback.full()) {
            readback.finishOldest(check);
        }
    }
    while (readback.pending() > 0) {
        readback.finishOldest(check);
    }
    EXPECT_EQ(seen, (std::vector<int64_t>{0, 1, 2, 3, 4, 5}));
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

TEST(CaptureRun, BadArgumentsExitWithTwoAndCreateNothing) {
    CaptureTest::runShell("mkdir -p '" + fixture().file("earlier") + "' && touch '" +
                          fixture().file("earlier/frame_000000.png") + "' && touch '" +
                          fixture().file("plain") + "'");
    const std::vector<std::string> before = CaptureTest::listFolder(fixture().root());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--capture out.mp4 --size 0x180", "bad size"},
        {"--capture out.mp4 --size 320x180 --fps 0", "bad --fps"},
        {"--capture out.mp4 --size 320x180 --fps -2", "bad --fps"},
        {"--capture out --size 320x180 --fps 10 --from 2 --to 1", "--to must be later than --from"},
        {"--capture out.mp4 --size 321x180 --fps 10", "even width and height"},
        {"--capture out.avi --size 320x180 --fps 10", "must end in .mp4 or .mkv"},
        {"--capture plain/out --size 320x180 --fps 10", "is not a folder"},
        {"--capture missing/out.mp4 --size 320x180 --fps 10", "does not exist"},
        {"--capture earlier --size 320x180 --fps 10", "already holds a capture"},
        {"--capture out --size 320x180 --fps 10 --windowed", "do not apply"},
        {"--timedemo --size 320x180 --from -1", "bad --from"},
    };
    for (const auto& [arguments, message] : cases) {
        Result result = velmora(CaptureTest::words(arguments));
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_NE(result.err.find(message), std::string::npos) << arguments << ": " << result.err;
        EXPECT_EQ(result.err.rfind("velmora: ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    // Without ffmpeg a video cannot be made: said so, with the folder alternative.
    Result noFfmpeg =
        velmora(CaptureTest::words("--capture out.mp4 --size 320x180 --fps 10"), {"PATH=/nonexistent"});
    EXPECT_EQ(noFfmpeg.status, 2);
    EXPECT_NE(noFfmpeg.err.find("ffmpeg program was not found"), std::string::npos) << noFfmpeg.err;
    EXPECT_NE(noFfmpeg.err.find("folder"), std::string::npos) << noFfmpeg.err;
    // Past the end of the music (3 s) there is nothing to capture.
    Result late = velmora(CaptureTest::words("--capture out --size 320x180 --fps 10 --from 5"));
    EXPECT_EQ(late.status, 2);
    EXPECT_NE(late.err.find("beyond the music"), std::string::npos) << late.err;
    EXPECT_EQ(CaptureTest::listFolder(fixture().root()), before);
    CaptureTest::runShell("rm -rf '" + fixture().file("earlier") + "' '" + fixture().file("plain") + "'");
}

TEST(CaptureRun, PngCapturesAreByteIdenticalAndEndWithTheEndTrack) {
    const std::string frames[2] = {fixture().file("first"), fixture().file("second/")};
    for (const std::string& out : frames) {
        Result result = velmora({"--capture", out, "--size", "320x180", "--fps", "10"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.err.find("capture: wrote 25 frames"), std::string::npos) << result.err;
    }
    // "e" goes below 0 at 2.5 s: frames 0..24 at 10 fps, and 2.5 s of audio.
    std::vector<std::string> names = CaptureTest::listFolder(frames[0]);
    ASSERT_EQ(names.size(), 26u);
    EXPECT_EQ(names.front(), "audio.wav");
    EXPECT_EQ(names[1], "frame_000000.png");
    EXPECT_EQ(names.back(), "frame_000024.png");
    EXPECT_EQ(CaptureTest::listFolder(frames[1]), names);
    for (const std::string& name : names) {
        EXPECT_EQ(CaptureTest::readFile(frames[0] + "/" + name), CaptureTest::readFile(frames[1] + name))
            << name;
    }
    const std::string audio = CaptureTest::readFile(frames[0] + "/audio.wav");
    EXPECT_EQ(audio.size(), 44u + 4u * 44100u * 5u / 2u);
    Image first = loadPng(frames[0] + "/frame_000012.png");
    EXPECT_EQ(first.width, 320);
    EXPECT_EQ(first.height, 180);
    EXPECT_GT(meanDifference(first.rgb, std::vector<uint8_t>(first.rgb.size(), 0)), 1.0) << "a black picture";

    // A later span: its audio is the same samples as that span of the whole capture.
    const std::string part = fixture().file("part");
    Result result =
        velmora({"--capture", part, "--size", "320x180", "--fps", "10", "--from", "1", "--to", "1.5"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(CaptureTest::listFolder(part).size(), 6u);
    const std::string partAudio = CaptureTest::readFile(part + "/audio.wav");
    ASSERT_EQ(partAudio.size(), 44u + 4u * 22050u);
    EXPECT_EQ(partAudio.substr(44), audio.substr(44 + 4 * 44100, 4 * 22050));
    CaptureTest::runShell("rm -rf '" + frames[0] + "' '" + frames[1] + "' '" + part + "'");
}

TEST(CaptureRun, AVideoHoldsTheSpanWithItsMusicTheRightWayUp) {
    const std::string video = fixture().file("show.mp4");
    Result result = velmora({"--capture", video, "--size", "320x180", "--fps", "10", "--to", "2"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(CaptureTest::exists(video + ".part"));
    const std::string picture = probe(video, "v");
    EXPECT_EQ(probeValue(picture, "nb_read_frames"), 20.0) << picture;
    EXPECT_NEAR(probeValue(picture, "duration"), 2.0, 1e-6) << picture;
    EXPECT_NEAR(probeValue(probe(video, "a"), "duration"), 2.0, 0.1); // within one frame

    // The video's first picture is the PNG capture's first frame, not upside down.
    const std::string frames = fixture().file("reference");
    ASSERT_EQ(velmora({"--capture", frames, "--size", "320x180", "--fps", "10", "--to", "0.1"}).status, 0);
    ASSERT_EQ(CaptureTest::runShell("ffmpeg -v error -y -i '" + video + "' -frames:v 1 '" +
                                    fixture().file("decoded.png") + "'"),
              0);
    Image decoded = loadPng(fixture().file("decoded.png"));
    Image png = loadPng(frames + "/frame_000000.png");
    const double straight = meanDifference(decoded.rgb, png.rgb);
    EXPECT_LT(straight, 6.0);
    EXPECT_LT(straight * 2.0, meanDifference(decoded.rgb, flipped(png)));
    CaptureTest::runShell("rm -rf '" + video + "' '" + frames + "' '" + fixture().file("decoded.png") + "'");
}

TEST(CaptureRun, AnEncoderThatDiesMidwayFailsTheCaptureAndLeavesNoVideo) {
    const std::string fakeFolder = fixture().file("fake");
    CaptureTest::runShell("mkdir -p '" + fakeFolder +
                          "' && printf '#!/bin/sh\\nhead -c 700000 >/dev/null\\necho " +
                          "\"av_interleaved_write_frame(): No space left on device\" >&2\\nexit 1\\n' > '" +
                          fakeFolder + "/ffmpeg' && chmod +x '" + fakeFolder + "/ffmpeg'");
    const std::string video = fixture().file("broken.mp4");
    Result result = velmora({"--capture", video, "--size", "320x180", "--fps", "10"},
                            {CaptureTest::pathWith(fakeFolder)});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find("ffmpeg exited with status 1"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
    EXPECT_FALSE(CaptureTest::exists(video));
    EXPECT_FALSE(CaptureTest::exists(video + ".part"));
    CaptureTest::runShell("rm -rf '" + fakeFolder + "'");
}

TEST(CaptureRun, TimedemoPrintsItsReport) {
    Result result = velmora(CaptureTest::words("--timedemo --size 320x180 --fps 10 --to 1"));
    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<std::string> report;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("timedemo: ", 0) == 0) {
            report.push_back(line);
        }
    }
    ASSERT_EQ(report.size(), 8u) << result.out;
    EXPECT_EQ(report[0], "timedemo: size 320x180 fps 10 from 0.000");
    EXPECT_EQ(report[1], "timedemo: frames 10");
    double values[6];
    const char* names[6] = {"total", "mean", "median", "p99", "worst", "first"};
    for (int i = 0; i < 6; ++i) {
        const std::string prefix = std::string("timedemo: ") + names[i] + " ";
        ASSERT_EQ(report[i + 2].rfind(prefix, 0), 0u) << report[i + 2];
        values[i] = std::atof(report[i + 2].c_str() + prefix.size());
        EXPECT_GT(values[i], 0.0) << report[i + 2];
    }
    EXPECT_LE(values[2], values[3]);                                          // median <= p99
    EXPECT_LE(values[3], values[4]);                                          // p99 <= worst
    EXPECT_NEAR(values[1] * 10 / 1000.0, values[0], 1e-3 + values[0] * 1e-3); // mean x frames = total
}

TEST(CaptureRun, ACapturedFrameIsTheShowsFrameAtItsGlobalIndex) {
    // The reference: this process draws global frame 45 (1.5 s at 30 fps) after the capture's
    // default pre-roll of seven frames, with the show's clocks at that frame (not restarted).
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(fixture().root().c_str()), 0);
    std::vector<uint8_t> reference;
    {
        Velmora::Player& player = *testPlayer;
        player.openMusic(true);
        player.buildShow();
        player.resetShow();
        for (int64_t g = 45 - Velmora::showLeadIn; g <= 45; ++g) {
            player.drawShowFrame(g, 30);
        }
        reference = Velmora::readPixelsTopDown(windowWidth, windowHeight);
    }
    ASSERT_EQ(chdir(previous), 0);

    const std::string frames = fixture().file("row36");
    Result result =
        velmora({"--capture", frames, "--size", "320x180", "--fps", "30", "--from", "1.5", "--to", "1.52"});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(CaptureTest::listFolder(frames).size(), 2u); // one frame and its audio
    Image captured = loadPng(frames + "/frame_000000.png");
    ASSERT_EQ(captured.rgb.size(), reference.size() / 4 * 3);
    size_t differing = 0;
    for (size_t i = 0; i < captured.rgb.size() / 3; ++i) {
        for (int c = 0; c < 3; ++c) {
            differing += captured.rgb[3 * i + c] != reference[4 * i + c];
        }
    }
    EXPECT_EQ(differing, 0u);
    CaptureTest::runShell("rm -rf '" + frames + "'");
}

TEST(CaptureRun, ASpanShowsWhatALongerCaptureShowsAtTheSameFrames) {
    // The show of the golden-frame tests of demo/. A capture from a row no longer restarts the
    // show's clocks (the golden-frame rule does): its first frame is the same global frame of a
    // capture that started two seconds earlier, up to the trails' history, compared by the golden
    // frames' own measure (colour only; mean difference at most 2, at most 1 % of pixels far off).
    ShowFixture show(ShowFixture::Kind::GoldenFrames);
    for (int row : {48, 240}) {
        const double seconds = row / 24.0;
        auto capture = [&](const std::string& name, double from) {
            const std::string frames = show.file(name + std::to_string(row));
            std::ostringstream arguments;
            arguments << "--capture '" << frames << "' --size 320x180 --fps 30 --from " << from << " --to "
                      << seconds + 0.02;
            const std::string command = "cd '" + show.root() + "' && '" VELMORA_BINARY "' " +
                                        arguments.str() + " > /dev/null 2> '" + show.file("err") + "'";
            EXPECT_EQ(CaptureTest::runShell(command), 0) << CaptureTest::readFile(show.file("err"));
            return frames;
        };
        Image span = loadPng(capture("span", seconds) + "/frame_000000.png");
        Image longer = loadPng(capture("longer", seconds - 2.0) + "/frame_000060.png");
        ASSERT_EQ(span.width, 320) << "row " << row;
        ASSERT_EQ(span.rgb.size(), longer.rgb.size());
        size_t farOff = 0;
        for (size_t pixel = 0; pixel < span.rgb.size() / 3; ++pixel) {
            int worst = 0;
            for (int c = 0; c < 3; ++c) {
                worst =
                    std::max(worst, std::abs(int(span.rgb[3 * pixel + c]) - int(longer.rgb[3 * pixel + c])));
            }
            farOff += worst > 48 ? 1 : 0;
        }
        EXPECT_LE(meanDifference(span.rgb, longer.rgb), 2.0) << "row " << row;
        EXPECT_LE(double(farOff) / (span.rgb.size() / 3), 0.01) << "row " << row;
    }
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (for CTest) needs no display.
    if (testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    try {
        Velmora::PlayerDesc desc;
        desc.width = windowWidth;
        desc.height = windowHeight;
        desc.title = "Velmora capture tests";
        desc.hidden = true;
        testPlayer = std::make_unique<Velmora::Player>(desc);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "no GL context: %s\n", error.what());
        return 1;
    } catch (const char* message) {
        std::fprintf(stderr, "no GL context: %s\n", message);
        return 1;
    }
    const int status = RUN_ALL_TESTS();
    testPlayer.reset();
    return status;
}
