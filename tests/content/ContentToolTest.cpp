// The content tool's parts: the surface sampler, its own transcendental functions, the point-cloud
// parsers (which must take any bytes) and the preview renderer.
#include "base/VFileException.h"
#include "tools/content/DetMath.h"
#include "tools/content/OutputFile.h"
#include "tools/content/PointCloudFile.h"
#include "tools/content/Preview.h"
#include "tools/content/Random.h"
#include "tools/content/SurfaceSampler.h"

#include "base/Files.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class Sphere : public Content::ImplicitShape {
public:
    double distance(const Content::Vec& p) const override { return glm::length(p - centre) - 2.0; }
    Content::Box bounds() const override {
        Content::Box b;
        b.include(centre, 2.0);
        return b;
    }
    const Content::Vec centre{1.0, -0.5, 0.25};
};

TEST(SurfaceSampler, SpreadsTheExactCountEvenlyOverTheSurfaceWithOutwardNormals) {
    const Sphere sphere;
    const auto points = Content::sampleSurface(sphere, 2000, 7);
    ASSERT_EQ(points.size(), 2000u);
    int octants[8] = {};
    double closest = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Content::Vec r = points[i].position - sphere.centre;
        ASSERT_NEAR(glm::length(r), 2.0, 1e-5);
        ASSERT_NEAR(glm::dot(points[i].normal, r / 2.0), 1.0, 1e-5);
        ++octants[(r.x > 0) + 2 * (r.y > 0) + 4 * (r.z > 0)];
        for (std::size_t j = i + 1; j < points.size(); ++j) {
            closest = std::min(closest, glm::length(points[j].position - points[i].position));
        }
    }
    for (int count : octants) {
        EXPECT_NEAR(count, 250, 50);
    }
    // Even spread: no two points nearly on top of each other (random placement would have some).
    const double meanSpacing = std::sqrt(4.0 * Content::pi * 4.0 / 2000.0);
    EXPECT_GT(closest, 0.3 * meanSpacing);

    const auto again = Content::sampleSurface(sphere, 2000, 7);
    const auto other = Content::sampleSurface(sphere, 2000, 8);
    EXPECT_EQ(std::memcmp(&again[0], &points[0], sizeof points[0]), 0);
    EXPECT_EQ(std::memcmp(&again.back(), &points.back(), sizeof points[0]), 0);
    EXPECT_NE(std::memcmp(&other[0], &points[0], sizeof points[0]), 0);
    EXPECT_TRUE(Content::sampleSurface(sphere, 0, 7).empty());

    // A shape that reaches past its declared bounds is refused rather than sampled with a hole.
    struct Clipped : Sphere {
        Content::Box bounds() const override {
            Content::Box b = Sphere::bounds();
            b.high.x -= 1.0;
            return b;
        }
    };
    EXPECT_THROW(Content::sampleSurface(Clipped(), 100, 7), std::runtime_error);
}

TEST(DetMath, MatchesTheLibraryFunctionsOverTheRangesUsed) {
    for (double x = -20.0; x <= 20.0; x += 0.0137) {
        EXPECT_NEAR(Content::detSin(x), std::sin(x), 1e-14);
        EXPECT_NEAR(Content::detCos(x), std::cos(x), 1e-14);
        EXPECT_NEAR(Content::detExp(x) / std::exp(x), 1.0, 1e-14);
    }
    for (double x = 1e-6; x < 1e6; x *= 1.37) {
        EXPECT_NEAR(Content::detLog(x), std::log(x), 1e-13);
    }
    EXPECT_EQ(Content::detExp(-800.0), 0.0);

    Content::Random random(42);
    double sum = 0.0, squares = 0.0;
    for (int i = 0; i < 20000; ++i) {
        const double g = random.gaussian();
        sum += g;
        squares += g * g;
    }
    EXPECT_NEAR(sum / 20000.0, 0.0, 0.03);
    EXPECT_NEAR(squares / 20000.0, 1.0, 0.05);
}

TEST(PointCloudFile, BinaryRoundTripsAndShortOrGarbageInputIsSafe) {
    std::vector<Content::CloudPoint> cloud(2);
    cloud[0].position = {1.0f, 2.0f, 3.0f};
    cloud[0].normal = {0.0f, 1.0f, 0.0f};
    cloud[1].position = {0.5f, -4.0f, 1e-7f};
    cloud[1].normal = {0.6f, 0.0f, -0.8f};
    const auto bytes = Content::encodeBinaryCloud(cloud);
    ASSERT_EQ(bytes.size(), 48u);
    // Little-endian float32: 1.0f is 00 00 80 3f.
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[2], 0x80);
    EXPECT_EQ(bytes[3], 0x3f);
    const auto back = Content::parseBinaryCloud(bytes);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].position, cloud[1].position);
    EXPECT_EQ(back[1].normal, cloud[1].normal);
    EXPECT_TRUE(back[1].hasNormal);

    // Every truncation: whole records, then a partial record only when it holds a position.
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
        const std::vector<unsigned char> part(bytes.begin(), bytes.begin() + size);
        const auto points = Content::parseBinaryCloud(part);
        const std::size_t values = size / 4;
        EXPECT_EQ(points.size(), values / 6 + (values % 6 >= 3 ? 1 : 0)) << size;
        if (values % 6 >= 3) {
            EXPECT_FALSE(points.back().hasNormal);
        }
    }
    // NaN and infinite values come through without tripping anything.
    std::vector<unsigned char> garbage(24 * 5 + 7);
    Content::Random random(3);
    for (auto& b : garbage) {
        b = static_cast<unsigned char>(random.next());
    }
    std::memset(garbage.data(), 0xff, 12);
    const auto noisy = Content::parseBinaryCloud(garbage);
    EXPECT_EQ(noisy.size(), 5u);
    EXPECT_TRUE(std::isnan(noisy[0].position.x));
    EXPECT_FALSE(noisy[0].hasNormal);
}

TEST(PointCloudFile, TextKeepsMissingCoordinatesAndToleratesAnyLine) {
    const std::vector<glm::vec3> dust{{1.0f, 2.0f, 3.0f}, {-0.000012345f, 123456.7f, 0.5f}};
    const auto text = Content::encodeTextCloud(dust);
    EXPECT_EQ(std::string(text.begin(), text.end()), "1 2 3\n-1.2345e-05 1.2346e+05 0.5\n");

    const std::string odd = "1 2 3\n\n4 5\n  -1.5e2\t0.25 7 trailing words\r\nnot numbers\n9 8 7";
    const auto points = Content::parseTextCloud(std::vector<unsigned char>(odd.begin(), odd.end()));
    ASSERT_EQ(points.size(), 6u);
    EXPECT_EQ(points[1].position, glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(points[2].position, glm::vec3(4.0f, 5.0f, 3.0f));
    EXPECT_EQ(points[3].position, glm::vec3(-150.0f, 0.25f, 7.0f));
    EXPECT_EQ(points[4].position, points[3].position);
    EXPECT_EQ(points[5].position, glm::vec3(9.0f, 8.0f, 7.0f));
    EXPECT_TRUE(Content::parseTextCloud({}).empty());
    // No terminating NUL in the buffer: the parser must stop at its end.
    const std::vector<unsigned char> unterminated{'1', '.', '5'};
    EXPECT_EQ(Content::parseTextCloud(unterminated).at(0).position.x, 1.5f);
    EXPECT_THROW(Content::readCloudFile("/nonexistent/cloud.bin"), std::exception);
}

TEST(Preview, DrawsOneRowOfThreeViewsPerCloudAndSurvivesBadPoints) {
    std::vector<Content::CloudPoint> surface(3);
    surface[0].position = {0.0f, 0.0f, 0.0f};
    surface[1].position = {0.01f, 0.02f, -0.01f};
    surface[2].position = {std::numeric_limits<float>::quiet_NaN(), 0.0f,
                           std::numeric_limits<float>::infinity()};
    for (auto& p : surface) {
        p.normal = {0.0f, 0.0f, -1.0f};
        p.hasNormal = true;
    }
    const std::vector<Content::CloudPoint> empty;
    const Content::RgbaImage image = Content::renderPreview({surface, empty}, 40);
    ASSERT_EQ(image.width, 120);
    ASSERT_EQ(image.height, 80);
    ASSERT_EQ(image.pixels.size(), 120u * 80u * 4u);
    const auto brightest = [&](int x0, int y0) {
        int best = 0;
        for (int y = y0; y < y0 + 40; ++y) {
            for (int x = x0; x < x0 + 40; ++x) {
                best = std::max<int>(best, image.pixels[(static_cast<std::size_t>(y) * 120 + x) * 4]);
            }
        }
        return best;
    };
    // The front view sees the points (their normals face the default camera on -z); the empty cloud's
    // row stays background.
    EXPECT_GT(brightest(0, 0), 100);
    EXPECT_LT(brightest(0, 40), 30);
    EXPECT_LT(brightest(80, 40), 30);
}

} // namespace

TEST(OutputFile, WritesReplaceOnlyRegularFilesAndReadsNeverWaitOnAFifo) {
    VelmoraTest::ScratchFolder scratch("content");
    const std::string folder = scratch.path;
    // A plain open of a FIFO (where the system has them) for writing or reading would wait for the
    // other end for ever; a device is no file either.
    const std::string fifo = folder + "/cloud.bin";
    const std::string special = VelmoraTest::makeFifo(fifo) ? fifo : VelmoraTest::deviceFile();
    EXPECT_THROW(Content::writeWholeFile(special, {1, 2, 3}), Velmora::VFileException);
    EXPECT_THROW(Content::readWholeFile(special, 100), Velmora::VFileException);

    // Missing folders are made; a link (where this process may make one) keeps its place and its
    // target gets the bytes.
    Content::writeWholeFile(folder + "/raw/heart.bin", {1, 2, 3});
    EXPECT_EQ(Content::readWholeFile(folder + "/raw/heart.bin", 100), (std::vector<unsigned char>{1, 2, 3}));
    if (VelmoraTest::makeSymlink("raw/heart.bin", folder + "/alias.bin")) {
        Content::writeWholeFile(folder + "/alias.bin", {4, 5});
        EXPECT_EQ(Content::readWholeFile(folder + "/raw/heart.bin", 100), (std::vector<unsigned char>{4, 5}));
        EXPECT_TRUE(Velmora::linkInfo(folder + "/alias.bin").isLink);
    }
    EXPECT_THROW(Content::readWholeFile(folder + "/raw/heart.bin", 1), Velmora::VFileException);
}
