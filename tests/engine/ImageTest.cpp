// Image decoding of good files and of arbitrary bytes; needs no GL.
#include "engine/Image.h"
#include "base/VFileException.h"
#include "tests/engine/ImageSupport.h"
#include "tests/engine/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

using TestSupport::captureStdout;
using Velmora::Image;

namespace {

// The message of the VFileException thrown while decoding path, or "" when it decodes.
std::string loadError(const std::string& path, int channels) {
    std::string message;
    captureStdout([&] {
        try {
            Image image(path.c_str(), channels);
        } catch (const Velmora::VFileException& exception) {
            message = exception.what();
        }
    });
    return message;
}

std::string readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string bigEndian(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

} // namespace

TEST(Image, DecodesWithTheRequestedChannelCount) {
    const std::string path = ImageSupport::writePng("rgb-5x3.png", 5, 3, 3);
    std::string log;
    {
        std::unique_ptr<Image> image;
        log = captureStdout([&] { image = std::make_unique<Image>(path.c_str(), 4); });
        EXPECT_EQ(image->width(), 5);
        EXPECT_EQ(image->height(), 3);
        EXPECT_EQ(image->channels(), 3); // as stored in the file
        // Top row first, four channels per pixel, opaque alpha added.
        const unsigned char* pixels = image->data();
        EXPECT_EQ(pixels[0], ImageSupport::sample(0, 0, 0));
        EXPECT_EQ(pixels[(2 * 5 + 4) * 4 + 2], ImageSupport::sample(4, 2, 2));
        EXPECT_EQ(pixels[(2 * 5 + 4) * 4 + 3], 255);
    }
    EXPECT_EQ(log, "DEBUG - Loading image \"" + path + "\"\n");
}

TEST(Image, EveryDecoderFailureGivesTheOneMessage) {
    const std::string missing = TestSupport::scratchPath("absent.png");
    EXPECT_EQ(loadError(missing, 4), "Failed to open file \"" + missing + "\"");
    const std::string empty = TestSupport::writeFile("empty.png", "");
    EXPECT_EQ(loadError(empty, 3), "Failed to open file \"" + empty + "\"");
    const std::string text = TestSupport::writeFile("text.png", "this is not an image at all");
    EXPECT_EQ(loadError(text, 4), "Failed to open file \"" + text + "\"");
}

TEST(Image, TruncatedAndCorruptFilesNeverCrash) {
    const std::string good = readAll(ImageSupport::writePng("whole.png", 9, 7, 4));
    ASSERT_GT(good.size(), 60u);
    // Every prefix of a valid file either fails cleanly or decodes in full (the decoder does not
    // insist on the end chunk).
    for (size_t length = 0; length < good.size(); ++length) {
        const std::string path = TestSupport::writeFile("prefix.png", good.substr(0, length));
        std::string message;
        captureStdout([&] {
            try {
                Image image(path.c_str(), 4);
                EXPECT_EQ(image.width() * image.height(), 9 * 7) << "prefix of " << length;
            } catch (const Velmora::VFileException& exception) {
                message = exception.what();
                EXPECT_EQ(message, "Failed to open file \"" + path + "\"") << "prefix of " << length;
            }
        });
        // The header alone is never enough.
        if (length < 60) {
            EXPECT_FALSE(message.empty()) << "prefix of " << length;
        }
    }
    // Random byte flips.
    std::mt19937 random(1234);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = good;
        for (int flip = 0; flip < 4; ++flip) {
            bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        loadError(TestSupport::writeFile("flipped.png", bytes), round % 2 == 0 ? 3 : 4);
    }
    // Random bytes behind each format's signature.
    const char* signatures[] = {"\x89PNG\r\n\x1a\n", "BM", "\xff\xd8\xff", "GIF89a", "P6\n",
                                "#?RADIANCE\n",      ""};
    for (const char* signature : signatures) {
        for (int round = 0; round < 50; ++round) {
            std::string bytes = signature;
            for (int i = 0; i < 200; ++i) {
                bytes.push_back(static_cast<char>(random()));
            }
            loadError(TestSupport::writeFile("random.img", bytes), 4);
        }
    }
}

TEST(Image, HugeDimensionsAreRefusedFromTheHeader) {
    // A PNG signature and header chunk claiming 30000 x 30000 pixels, then nothing.
    std::string header = std::string("\x89PNG\r\n\x1a\n", 8) + bigEndian(13) + "IHDR" + bigEndian(30000) +
                         bigEndian(30000) + std::string("\x08\x06\x00\x00\x00", 5) + bigEndian(0);
    const std::string path = TestSupport::writeFile("huge.png", header);
    EXPECT_EQ(loadError(path, 4), "Failed to open file \"" + path + "\"");
}

TEST(Image, OnlyRegularFilesWithinTheLimitAreReadAndCheckSaysWhy) {
    // A FIFO without a writer (where the system has them) would block a plain open for ever; a
    // device never ends.
    const std::string fifo = TestSupport::scratchPath("sprite-fifo.png");
    VelmoraTest::removeAll(fifo);
    std::vector<std::string> special = {VelmoraTest::deviceFile()};
    if (VelmoraTest::makeFifo(fifo)) {
        special.push_back(fifo);
    }
    std::string error;
    for (const std::string& path : special) {
        EXPECT_EQ(loadError(path, 4), "Failed to open file \"" + path + "\"");
        EXPECT_FALSE(Image::check(path, error));
        EXPECT_EQ(error, "is not a regular file");
    }
    VelmoraTest::removeAll(fifo);

    // Larger than the limit: refused from its size, nothing read.
    const std::string huge = TestSupport::writeFile("sprite-huge.png", "\x89PNG\r\n\x1a\n");
    VelmoraTest::resizeFile(huge, Image::maxFileBytes + 1);
    EXPECT_FALSE(Image::check(huge, error));
    EXPECT_NE(error.find("larger than the limit"), std::string::npos) << error;
    EXPECT_EQ(loadError(huge, 4), "Failed to open file \"" + huge + "\"");
    VelmoraTest::removeAll(huge);

    const std::string text = TestSupport::writeFile("sprite-text.png", "not a picture");
    EXPECT_FALSE(Image::check(text, error));
    EXPECT_EQ(error.rfind("cannot be decoded (", 0), 0u) << error;
    const std::string good = ImageSupport::writePng("sprite-good.png", 5, 3, 4);
    EXPECT_TRUE(Image::check(good, error)) << error;
    VelmoraTest::removeAll(text);
    VelmoraTest::removeAll(good);
}
