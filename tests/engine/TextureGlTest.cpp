// Texture against a real context: the bound-texture record, its log lines, image uploads of odd
// widths read back from GL, and the failures of the file constructor.
#include "base/VFileException.h"
#include "base/Vexception.h"
#include "engine/Texture.h"
#include "tests/engine/GlTestSupport.h"
#include "tests/engine/ImageSupport.h"
#include "tests/engine/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using GlTestSupport::integer;
using TestSupport::captureStdout;
using TestSupport::lines;
using Velmora::Texture;

namespace {

std::unique_ptr<Texture> quietTexture(GLenum target) {
    std::unique_ptr<Texture> texture;
    captureStdout([&] { texture = std::make_unique<Texture>(target); });
    return texture;
}

std::string expectVexception(const std::function<void()>& body) {
    try {
        body();
    } catch (const Velmora::Vexception& exception) {
        return exception.what();
    }
    ADD_FAILURE() << "no Vexception";
    return "";
}

} // namespace

TEST(Texture, ConstructionLogsAndBinds) {
    std::unique_ptr<Texture> texture;
    const std::string log = captureStdout([&] { texture = std::make_unique<Texture>(GL_TEXTURE_2D); });
    EXPECT_EQ(log,
              "DEBUG -   Texture(target)\nDEBUG -   textureID = " + std::to_string(texture->id()) + "\n");
    EXPECT_EQ(Texture::boundTexture(), texture.get());
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(texture->id()));
    EXPECT_EQ(texture->unit(), 0);

    std::unique_ptr<Texture> second = quietTexture(GL_TEXTURE_2D);
    EXPECT_EQ(Texture::boundTexture(), second.get());
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(second->id()));

    const GLuint name = second->id();
    EXPECT_EQ(captureStdout([&] { second.reset(); }), "DEBUG - ~Texture()\n");
    EXPECT_FALSE(glIsTexture(name));
    // The record does not keep pointing at a deleted texture.
    EXPECT_EQ(Texture::boundTexture(), nullptr);
}

TEST(Texture, BindingTheRecordedTextureWarnsAndMakesNoCall) {
    std::unique_ptr<Texture> texture = quietTexture(GL_TEXTURE_2D);
    std::unique_ptr<Texture> other = quietTexture(GL_TEXTURE_2D);
    texture->bind();
    // Bind another name behind the record's back: a second bind() must not touch GL.
    glBindTexture(GL_TEXTURE_2D, other->id());
    const std::string log = captureStdout([&] { texture->bind(); });
    EXPECT_EQ(log, "WARNING - Texture " + std::to_string(texture->id()) + " already binded\n");
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(other->id()));
}

TEST(Texture, UnbindOnlyTheRecordedTexture) {
    std::unique_ptr<Texture> a = quietTexture(GL_TEXTURE_2D);
    std::unique_ptr<Texture> b = quietTexture(GL_TEXTURE_2D);
    EXPECT_EQ(expectVexception([&] { a->unbind(); }), "Texture not binded");
    EXPECT_EQ(Texture::boundTexture(), b.get());
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(b->id()));

    b->unbind();
    EXPECT_EQ(Texture::boundTexture(), nullptr);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);
    EXPECT_EQ(expectVexception([&] { b->unbind(); }), "Texture not binded");
}

TEST(Texture, UploadsAndParametersActOnTheBoundTexture) {
    std::unique_ptr<Texture> a = quietTexture(GL_TEXTURE_2D);
    std::unique_ptr<Texture> b = quietTexture(GL_TEXTURE_2D);
    // b is bound: a's calls go to b.
    a->setParameter(GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    a->texImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 3, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLint filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_NEAREST);
    GLint width = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, 3);

    captureStdout([&] { a->bind(); });
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_NEAREST_MIPMAP_LINEAR); // GL's default: a was never set
}

TEST(Texture, SetUnitSelectsTheActiveUnit) {
    std::unique_ptr<Texture> texture = quietTexture(GL_TEXTURE_2D);
    texture->setUnit(3);
    EXPECT_EQ(texture->unit(), 3);
    EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0 + 3);
    texture->setUnit(0);
    EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
}

// Odd widths make rows that are not a multiple of 4 bytes for three channels.
class TextureFromFile : public testing::TestWithParam<std::tuple<int, int, int, bool>> {};

TEST_P(TextureFromFile, UploadsEveryPixelExactly) {
    const auto [width, height, fileChannels, alpha] = GetParam();
    const std::string path =
        ImageSupport::writePng("image-" + std::to_string(width) + "x" + std::to_string(height) + "-" +
                                   std::to_string(fileChannels) + ".png",
                               width, height, fileChannels);
    std::unique_ptr<Texture> texture;
    const std::string log =
        captureStdout([&] { texture = std::make_unique<Texture>(path.c_str(), GL_TEXTURE_2D, alpha); });
    const std::vector<std::string> logged = lines(log);
    ASSERT_EQ(logged.size(), 4u) << log;
    EXPECT_EQ(logged[2], "DEBUG - Texture(" + path + ")");
    EXPECT_EQ(logged[3], "DEBUG - Loading image \"" + path + "\"");
    EXPECT_EQ(Texture::boundTexture(), texture.get());
    EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 4); // put back after the upload

    const int channels = alpha ? 4 : 3;
    GLint size[2] = {};
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &size[0]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &size[1]);
    EXPECT_EQ(size[0], width);
    EXPECT_EQ(size[1], height);
    GLint alphaBits = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
    EXPECT_EQ(alphaBits > 0, alpha);
    GLint filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR);

    std::vector<unsigned char> readBack(static_cast<size_t>(width) * height * channels);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, alpha ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, readBack.data());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                // Channels the file lacks: alpha is opaque.
                const int expected = c < fileChannels ? ImageSupport::sample(x, y, c) : 255;
                ASSERT_EQ(readBack[(static_cast<size_t>(y) * width + x) * channels + c], expected)
                    << "pixel " << x << "," << y << " channel " << c;
            }
        }
    }
    captureStdout([&] { texture.reset(); });
}

INSTANTIATE_TEST_SUITE_P(OddSizes, TextureFromFile,
                         testing::Values(std::make_tuple(5, 3, 3, false), std::make_tuple(7, 5, 4, true),
                                         std::make_tuple(1, 1, 3, false), std::make_tuple(13, 9, 3, true),
                                         std::make_tuple(6, 4, 4, false)));

TEST(Texture, MissingFileThrowsAfterLoggingAndDestroysTheTexture) {
    const std::string path = TestSupport::scratchPath("no-such-image.png");
    std::string message;
    const std::string log = captureStdout([&] {
        try {
            Texture texture(path.c_str(), GL_TEXTURE_2D, true);
        } catch (const Velmora::VFileException& exception) {
            message = exception.what();
        }
    });
    EXPECT_EQ(message, "Failed to open file \"" + path + "\"");
    const std::vector<std::string> logged = lines(log);
    ASSERT_EQ(logged.size(), 5u) << log;
    EXPECT_EQ(logged[0], "DEBUG -   Texture(target)");
    EXPECT_EQ(logged[2], "DEBUG - Texture(" + path + ")");
    EXPECT_EQ(logged[3], "DEBUG - Loading image \"" + path + "\"");
    EXPECT_EQ(logged[4], "DEBUG - ~Texture()");
    const GLuint name = static_cast<GLuint>(std::stoul(logged[1].substr(logged[1].rfind(' ') + 1)));
    EXPECT_FALSE(glIsTexture(name));
    EXPECT_EQ(Texture::boundTexture(), nullptr);
}

TEST(Texture, OnlyTwoDimensionalTargetsLoadFiles) {
    const std::string path = ImageSupport::writePng("cube.png", 4, 4, 4);
    std::string message;
    const std::string log = captureStdout(
        [&] { message = expectVexception([&] { Texture texture(path.c_str(), GL_TEXTURE_3D, true); }); });
    EXPECT_EQ(message, "Velmora::Texture loader for the asked target has not been implemented.");
    EXPECT_EQ(lines(log).back(), "DEBUG - ~Texture()");

    // The file is read first: a missing file is reported as such whatever the target.
    const std::string missing = TestSupport::scratchPath("missing-cube.png");
    captureStdout([&] {
        EXPECT_THROW(Texture texture(missing.c_str(), GL_TEXTURE_3D, true), Velmora::VFileException);
    });
}
