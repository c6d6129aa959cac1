// The player without a device: the clock at a set position, the spectrum of the decoded file,
// access to the decoded frames, and files that cannot be played.
#include "audio/Mp3Decoder.h"
#include "audio/Music.h"
#include "base/Vexception.h"
#include "tests/audio/ToneFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

using namespace Velmora;
using namespace VelmoraTest;

namespace {

std::vector<float> fft(Music& music, int* result = nullptr) {
    std::vector<float> bins(512, -1.0f);
    const int written = music.getFFT(bins.data());
    if (result)
        *result = written;
    return bins;
}

int peakBin(const std::vector<float>& bins) {
    return int(std::max_element(bins.begin(), bins.end()) - bins.begin());
}

// Checks that `call` throws Vexception `message` and that the captured output's last line is an
// ERROR line.
template <typename Call> void expectFailureWithErrorLine(Call call, const std::string& message) {
    testing::internal::CaptureStdout();
    std::string thrown;
    try {
        call();
    } catch (const Vexception& e) {
        thrown = e.what();
    }
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(thrown, message);
    const size_t lastLine = output.rfind('\n', output.size() >= 2 ? output.size() - 2 : 0);
    const std::string line = output.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
    EXPECT_EQ(line.rfind("ERROR - ", 0), 0u) << "output: " << output;
    EXPECT_GT(line.size(), std::string("ERROR - \n").size()) << "the reason is missing";
}

} // namespace

TEST(MusicOffline, ClockFollowsTheSetPosition) {
    TempFolder folder;
    ToneDesc tone;
    tone.seconds = 2.0;
    const std::string path = makeToneMp3(folder, "tone", tone);
    Music& music = Music::instance();
    music.openOffline(path.c_str(), 180.0);

    EXPECT_TRUE(music.isOffline());
    EXPECT_EQ(music.rowsPerSecond(), 24.0);
    EXPECT_EQ(music.row(), 0.0);
    music.setPosition(1.5);
    EXPECT_EQ(music.row(), 36.0);
    music.setPosition(0.1);
    EXPECT_DOUBLE_EQ(music.row(), 2.4);
    // play() has no effect offline: the position stays where it was set.
    music.play();
    EXPECT_DOUBLE_EQ(music.row(), 2.4);
    // Positions outside the file are clamped to it.
    music.setPosition(-3.0);
    EXPECT_EQ(music.row(), 0.0);
    music.setPosition(1e9);
    EXPECT_DOUBLE_EQ(music.row(), music.length() * 24.0);
    music.setPosition(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(music.row(), 0.0);

    // Another tempo after reopening.
    music.openOffline(path.c_str(), 120.0);
    EXPECT_EQ(music.rowsPerSecond(), 16.0);
    music.setPosition(1.5);
    EXPECT_EQ(music.row(), 24.0);
}

TEST(MusicOffline, DecodedFramesMatchTheTone) {
    TempFolder folder;
    ToneDesc tone;
    tone.frequency = 440.0;
    tone.seconds = 1.5;
    const std::string path = makeToneMp3(folder, "tone", tone);
    Music& music = Music::instance();
    music.openOffline(path.c_str(), 180.0);

    // Gapless decoding drops the encoder's delay and padding: the length is the WAV's.
    EXPECT_EQ(music.sampleRate(), 44100);
    EXPECT_EQ(music.frameCount(), 66150);
    EXPECT_DOUBLE_EQ(music.length(), 1.5);

    // Frames line up with the tone sample for sample: no shift fits better than none, and what
    // remains is the codec's error. Both channels.
    std::vector<float> frames(2 * 2000, -1.0f);
    music.copyFrames(20000, 2000, frames.data());
    auto errorAtShift = [&](int shift) {
        double worst = 0.0;
        for (long i = 0; i < 2000; ++i) {
            const double expected = toneSample(tone, 20000 + i + shift);
            worst =
                std::max({worst, std::abs(frames[2 * i] - expected), std::abs(frames[2 * i + 1] - expected)});
        }
        return worst;
    };
    const double aligned = errorAtShift(0);
    EXPECT_LT(aligned, 0.05);
    for (int shift : {-2, -1, 1, 2})
        EXPECT_GT(errorAtShift(shift), aligned) << shift;

    // Spans that reach outside the file read as silence there.
    std::vector<float> edge(2 * 8, -1.0f);
    music.copyFrames(-4, 8, edge.data());
    EXPECT_EQ(std::vector<float>(edge.begin(), edge.begin() + 8), std::vector<float>(8, 0.0f));
    EXPECT_NEAR(edge[8], toneSample(tone, 0), 0.02);
    EXPECT_NEAR(edge[14], toneSample(tone, 3), 0.02);
    music.copyFrames(66148, 4, edge.data());
    EXPECT_EQ(std::vector<float>(edge.begin() + 4, edge.begin() + 8), std::vector<float>(4, 0.0f));
    std::fill(edge.begin(), edge.end(), -1.0f);
    music.copyFrames(std::numeric_limits<int64_t>::max() - 2, 2, edge.data());
    music.copyFrames(std::numeric_limits<int64_t>::min(), 2, edge.data() + 4);
    EXPECT_EQ(std::vector<float>(edge.begin(), edge.begin() + 8), std::vector<float>(8, 0.0f));
    // Nothing asked, nothing written.
    std::fill(edge.begin(), edge.end(), -1.0f);
    music.copyFrames(0, 0, edge.data());
    music.copyFrames(0, -5, edge.data());
    EXPECT_EQ(edge, std::vector<float>(16, -1.0f));

    // Closing releases the file.
    music.close();
    EXPECT_EQ(music.frameCount(), 0);
    EXPECT_EQ(music.length(), 0.0);
    EXPECT_FALSE(music.isOffline());
}

TEST(MusicOffline, SpectrumOfTheSamplesBeforeThePosition) {
    TempFolder folder;
    ToneDesc tone;
    tone.seconds = 2.0;
    const std::string path = makeToneMp3(folder, "tone", tone);
    Music& music = Music::instance();

    int result = 0;
    fft(music, &result);
    EXPECT_EQ(result, -1) << "not open";

    music.openOffline(path.c_str(), 180.0);
    // At the start every sample of the window lies before the file: silence.
    auto bins = fft(music, &result);
    EXPECT_EQ(result, 512 * int(sizeof(float)));
    EXPECT_EQ(*std::max_element(bins.begin(), bins.end()), 0.0f);

    // 1000 Hz lies at 23.2 bins: the peak is bin 23 at the tone's level less a little scalloping.
    music.setPosition(1.0);
    bins = fft(music);
    EXPECT_EQ(peakBin(bins), 23);
    EXPECT_NEAR(bins[23], 0.5 * 0.97, 0.03);
    EXPECT_LT(bins[100], 0.01f);

    // Deterministic: the same position gives the same spectrum.
    EXPECT_EQ(fft(music), bins);

    // 12 ms in, half the window holds the tone.
    music.setPosition(512.0 / 44100.0);
    bins = fft(music);
    EXPECT_EQ(peakBin(bins), 23);
    EXPECT_GT(bins[23], 0.1f);
    EXPECT_LT(bins[23], 0.4f);
}

TEST(MusicOffline, OtherRatesAndChannelCountsAreConvertedTo44100Stereo) {
    TempFolder folder;
    for (const auto& [rate, channels] : {std::pair{48000, 2}, std::pair{22050, 1}}) {
        SCOPED_TRACE(rate);
        ToneDesc tone;
        tone.sampleRate = rate;
        tone.channels = channels;
        tone.seconds = 1.0;
        tone.bitrate = 64;
        const std::string path = makeToneMp3(folder, "tone" + std::to_string(rate), tone);
        Music& music = Music::instance();
        music.openOffline(path.c_str(), 180.0);
        EXPECT_NEAR(music.length(), 1.0, 0.01);
        EXPECT_NEAR(double(music.frameCount()), 44100.0, 441.0);
        music.setPosition(0.5);
        const auto bins = fft(music);
        EXPECT_EQ(peakBin(bins), 23);
        EXPECT_NEAR(bins[23], 0.5 * 0.97, 0.05);
        std::vector<float> frame(2);
        music.copyFrames(22050 + 11, 1, frame.data());
        EXPECT_EQ(frame[0], frame[1]) << "mono is spread to both channels";
    }
}

TEST(MusicOffline, UnplayableFilesFailWithTheReasonLogged) {
    TempFolder folder;
    Music& music = Music::instance();

    expectFailureWithErrorLine([&] { music.openOffline(folder.file("missing.mp3").c_str(), 180.0); },
                               "Failed to open tune.");
    // The tempo is taken even when the file is not.
    EXPECT_EQ(music.rowsPerSecond(), 24.0);
    EXPECT_FALSE(music.isOffline());

    expectFailureWithErrorLine(
        [&] { music.openOffline(makeRandomFile(folder, "empty.mp3", 0, 1).c_str(), 90.0); },
        "Failed to open tune.");
    EXPECT_EQ(music.rowsPerSecond(), 12.0);
    expectFailureWithErrorLine([&] { music.openOffline(nullptr, 180.0); }, "Failed to open tune.");

    // Random bytes: either refused, or whatever frames mpg123 finds in them are readable
    // within the file's length. Nothing may crash or read past the data.
    for (unsigned seed = 1; seed <= 8; ++seed) {
        const std::string path = makeRandomFile(folder, "noise" + std::to_string(seed), 64 * 1024, seed);
        try {
            music.openOffline(path.c_str(), 180.0);
            ASSERT_GE(music.frameCount(), 0);
            music.setPosition(music.length());
            fft(music);
            std::vector<float> frames(2 * 64);
            music.copyFrames(music.frameCount() - 32, 64, frames.data());
        } catch (const Vexception& e) {
            EXPECT_STREQ(e.what(), "Failed to open tune.");
        }
    }
    // After a failure the player opens a good file as usual.
    ToneDesc tone;
    tone.seconds = 0.5;
    const std::string good = makeToneMp3(folder, "good", tone);
    music.openOffline(good.c_str(), 180.0);
    EXPECT_EQ(music.frameCount(), 22050);

    // A good start followed by damage: a cut-off file, and one with noise over its middle.
    // Whatever decodes is kept; the clock and the spectrum stay within it.
    std::string bytes;
    {
        std::ifstream in(good, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(bytes.size(), 4000u);
    const std::string noise = makeRandomFile(folder, "patch", 1500, 99);
    std::string damaged = bytes;
    {
        std::ifstream in(noise, std::ios::binary);
        const std::string patch((std::istreambuf_iterator<char>(in)), {});
        damaged.replace(bytes.size() / 2 - 700, patch.size(), patch);
    }
    for (const std::string& content : {bytes.substr(0, bytes.size() / 2), damaged}) {
        const std::string path = folder.file("damaged.mp3");
        std::ofstream(path, std::ios::binary) << content;
        music.openOffline(path.c_str(), 180.0);
        EXPECT_GT(music.frameCount(), 0);
        EXPECT_LE(music.frameCount(), 2 * 22050);
        music.setPosition(1e9);
        EXPECT_DOUBLE_EQ(music.row(), music.length() * 24.0);
        fft(music);
    }
}

TEST(MusicOffline, LeadingTagsAreSkipped) {
    TempFolder folder;
    ToneDesc tone;
    tone.seconds = 0.5;
    std::string audio;
    {
        std::ifstream in(makeToneMp3(folder, "tone", tone), std::ios::binary);
        audio.assign(std::istreambuf_iterator<char>(in), {});
    }
    // An ID3v2.3 header: "ID3", version, flags, then the tag size in four 7-bit bytes.
    auto tagged = [&](uint32_t declared, size_t present) {
        std::string bytes = "ID3\x03";
        bytes += '\0';
        bytes += '\0';
        for (int shift = 21; shift >= 0; shift -= 7)
            bytes += char((declared >> shift) & 0x7f);
        bytes += std::string(present, 'T');
        const std::string path = folder.file("tagged.mp3");
        std::ofstream(path, std::ios::binary) << bytes << audio;
        return path;
    };
    Music& music = Music::instance();
    music.openOffline(tagged(5000, 5000).c_str(), 180.0);
    EXPECT_EQ(music.frameCount(), 22050);

    // A tag that claims far more than the file holds swallows the audio, and nothing else.
    try {
        music.openOffline(tagged(0x0fffffff, 100).c_str(), 180.0);
        EXPECT_LE(music.frameCount(), 22050);
    } catch (const Vexception& e) {
        EXPECT_STREQ(e.what(), "Failed to open tune.");
    }
}

TEST(MusicOffline, OnlyRegularFilesWithinTheLimitAreOpened) {
    TempFolder folder;
    // A FIFO without a writer (where the system has them) would block a plain open for ever; a
    // device would never end.
    const std::string fifo = folder.file("fifo.mp3");
    const std::string special = VelmoraTest::makeFifo(fifo) ? fifo : VelmoraTest::deviceFile();
    testing::internal::CaptureStdout();
    EXPECT_THROW(Music::instance().openOffline(special.c_str(), 180.0), Vexception);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("is not a regular file"), std::string::npos);

    const std::string huge = makeRandomFile(folder, "huge.mp3", 4096, 7);
    VelmoraTest::resizeFile(huge, Mp3Decoder::maxFileBytes + 1);
    Mp3Decoder decoder;
    std::string error;
    EXPECT_FALSE(decoder.open(huge.c_str(), error));
    EXPECT_NE(error.find("larger than the limit"), std::string::npos) << error;
    const std::string sub = folder.file("sub");
    VelmoraTest::makeFolder(sub);
    EXPECT_FALSE(decoder.open(sub.c_str(), error));
    EXPECT_EQ(error, "cannot open the file: is a folder, not a file");
}
