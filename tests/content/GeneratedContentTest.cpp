// The committed data files are exactly what the content tool makes, and they have the shape the scene
// needs: matching heart phases, unit outward normals, sizes that fit the scene's scale factors, and a
// sprite that fades to nothing at its border.
#include "tools/content/ContentGenerator.h"
#include "tools/content/OutputFile.h"
#include "tools/content/PointCloudFile.h"

#include "tests/support/TestFiles.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string repoData = std::string(VELMORA_REPO_DIR) + "/data/";
const std::vector<std::string> generatedFiles = {"img/foo.png", "raw/heart_1.bin", "raw/heart_2.bin",
                                                 "raw/fetus_512.bin", "raw/jooh.txt"};

std::vector<unsigned char> readBytes(const std::string& path) {
    return Content::readWholeFile(path, 64u << 20);
}

std::vector<Content::CloudPoint> committedCloud(const std::string& name) {
    return Content::readCloudFile(repoData + name);
}

// A scratch folder removed at the end of the test.
struct ScratchDir {
    VelmoraTest::ScratchFolder folder;
    fs::path path;
    explicit ScratchDir(const std::string& name) : folder("content-" + name), path(fs::u8path(folder.path)) {}
};

struct Bounds {
    glm::vec3 low{1e30f};
    glm::vec3 high{-1e30f};
};

Bounds boundsOf(const std::vector<Content::CloudPoint>& cloud) {
    Bounds b;
    for (const auto& p : cloud) {
        b.low = glm::min(b.low, p.position);
        b.high = glm::max(b.high, p.position);
    }
    return b;
}

TEST(GeneratedContent, ProgramAndLibraryRegenerateTheCommittedFilesByteForByte) {
    ScratchDir byProgram("program");
    ScratchDir byLibrary("library");
    const VelmoraTest::RunResult run = VelmoraTest::runProgram(VELMORA_CONTENT_TOOL, {byProgram.folder.path});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> written = Content::writeContent(byLibrary.path.string());
    EXPECT_EQ(written, generatedFiles);
    for (const std::string& name : generatedFiles) {
        SCOPED_TRACE(name);
        const auto fromProgram = readBytes((byProgram.path / name).string());
        EXPECT_FALSE(fromProgram.empty());
        EXPECT_TRUE(fromProgram == readBytes((byLibrary.path / name).string())) << "two runs differ";
        EXPECT_TRUE(fromProgram == readBytes(repoData + name))
            << "committed file is stale: regenerate with build/tools/content/velmora-content data";
    }
}

TEST(GeneratedContent, HeartPhasesMovePointForPoint) {
    const auto relaxed = committedCloud("raw/heart_1.bin");
    const auto contracted = committedCloud("raw/heart_2.bin");
    ASSERT_EQ(relaxed.size(), Content::heartPointCount);
    ASSERT_EQ(contracted.size(), relaxed.size());
    EXPECT_EQ(readBytes(repoData + "raw/heart_1.bin").size(), 24 * relaxed.size());

    const Bounds before = boundsOf(relaxed);
    const Bounds after = boundsOf(contracted);
    const float height = before.high.y - before.low.y;
    // The apex (lowest point) lifts; the tops of the vessels stay where they were.
    EXPECT_GT(after.low.y - before.low.y, 0.05f * height);
    EXPECT_NEAR(after.high.y, before.high.y, 0.01f * height);

    // Each point moves a little (same order in both files), none jumps across the model.
    double topMove = 0.0;
    std::size_t top = 0;
    float largest = 0.0f;
    std::vector<std::size_t> lower; // the ventricles: the lowest third of the relaxed heart
    glm::dvec3 lowerCentre(0.0), lowerCentreAfter(0.0);
    for (std::size_t i = 0; i < relaxed.size(); ++i) {
        const glm::vec3 a = relaxed[i].position;
        const glm::vec3 b = contracted[i].position;
        largest = std::max(largest, glm::length(b - a));
        if (a.y > before.high.y - 0.15f * height) {
            topMove += glm::length(b - a);
            ++top;
        }
        if (a.y < before.low.y + 0.35f * height) {
            lower.push_back(i);
            lowerCentre += glm::dvec3(a);
            lowerCentreAfter += glm::dvec3(b);
        }
    }
    ASSERT_GT(lower.size(), 100u);
    lowerCentre /= static_cast<double>(lower.size());
    lowerCentreAfter /= static_cast<double>(lower.size());
    double spread = 0.0, spreadAfter = 0.0;
    for (std::size_t i : lower) {
        spread += glm::length(glm::dvec3(relaxed[i].position) - lowerCentre);
        spreadAfter += glm::length(glm::dvec3(contracted[i].position) - lowerCentreAfter);
    }
    EXPECT_LT(largest, 0.1f * height);
    ASSERT_GT(top, 100u);
    EXPECT_LT(topMove / top, 0.005 * height) << "vessels should barely move";
    // The ventricles draw in toward their middle by roughly a tenth.
    const double squeeze = 1.0 - spreadAfter / spread;
    EXPECT_GT(squeeze, 0.04);
    EXPECT_LT(squeeze, 0.2);
}

TEST(GeneratedContent, SurfaceCloudsHaveUnitOutwardNormalsAndFitTheScene) {
    for (const char* name : {"raw/heart_1.bin", "raw/heart_2.bin", "raw/fetus_512.bin"}) {
        SCOPED_TRACE(name);
        const auto cloud = committedCloud(name);
        ASSERT_GE(cloud.size(), 10000u);
        ASSERT_LE(cloud.size(), 20000u);
        for (const auto& p : cloud) {
            ASSERT_TRUE(std::isfinite(p.position.x) && std::isfinite(p.position.y) &&
                        std::isfinite(p.position.z));
            ASSERT_NEAR(glm::length(p.normal), 1.0f, 1e-5f);
        }
        // Outward: at the extreme point along each axis the normal points that way.
        for (int axis = 0; axis < 3; ++axis) {
            const auto [lowest, highest] =
                std::minmax_element(cloud.begin(), cloud.end(), [axis](const auto& a, const auto& b) {
                    return a.position[axis] < b.position[axis];
                });
            EXPECT_LT(lowest->normal[axis], -0.5f) << "axis " << axis;
            EXPECT_GT(highest->normal[axis], 0.5f) << "axis " << axis;
        }
        // Scaled by 65 in the scene: a model 4.5 to 6 units across, centred on the origin, upright.
        const Bounds b = boundsOf(cloud);
        const glm::vec3 size = b.high - b.low;
        const float span = std::max(size.x, std::max(size.y, size.z));
        EXPECT_GT(span * 65.0f, 4.5f);
        EXPECT_LT(span * 65.0f, 6.0f);
        EXPECT_LT(glm::length((b.low + b.high) * 0.5f) * 65.0f, 0.5f);
    }
    EXPECT_EQ(committedCloud("raw/fetus_512.bin").size(), Content::fetusPointCount);
}

TEST(GeneratedContent, DustSurroundsTheSceneAndLeavesTheMiddleClear) {
    const auto bytes = readBytes(repoData + "raw/jooh.txt");
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\r'), 0);
    const auto dust = Content::parseTextCloud(bytes);
    ASSERT_EQ(dust.size(), Content::dustPointCount);
    EXPECT_EQ(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')), dust.size());
    // Three numbers on every line.
    std::size_t lineStart = 0, fields = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == ' ') {
            ++fields;
        } else if (bytes[i] == '\n') {
            ASSERT_EQ(fields, 2u) << "line starting at byte " << lineStart;
            fields = 0;
            lineStart = i + 1;
        }
    }
    // Scaled by 25: everything within 40 units on each axis, nothing within 5 units of the models,
    // and the field reaches out to at least 30 units on both sides of every axis.
    glm::vec3 low(0.0f), high(0.0f);
    for (const auto& p : dust) {
        const glm::vec3 s = p.position * 25.0f;
        ASSERT_LE(std::max(std::fabs(s.x), std::max(std::fabs(s.y), std::fabs(s.z))), 40.0f);
        ASSERT_GE(glm::length(s), 5.0f);
        low = glm::min(low, s);
        high = glm::max(high, s);
    }
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_LT(low[axis], -30.0f);
        EXPECT_GT(high[axis], 30.0f);
    }
}

TEST(GeneratedContent, SpriteIsAWhiteDotFadingToZeroAtTheBorder) {
    const auto png = readBytes(repoData + "img/foo.png");
    int width = 0, height = 0, channels = 0;
    unsigned char* pixels =
        stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width, &height, &channels, 4);
    ASSERT_NE(pixels, nullptr);
    const std::vector<unsigned char> rgba(pixels, pixels + width * height * 4);
    stbi_image_free(pixels);
    ASSERT_EQ(width, Content::spriteSize);
    ASSERT_EQ(height, Content::spriteSize);
    EXPECT_EQ(channels, 4);
    const auto alpha = [&](int x, int y) { return rgba[(static_cast<std::size_t>(y) * width + x) * 4 + 3]; };

    for (int i = 0; i < width; ++i) {
        EXPECT_EQ(alpha(i, 0), 0);
        EXPECT_EQ(alpha(i, height - 1), 0);
        EXPECT_EQ(alpha(0, i), 0);
        EXPECT_EQ(alpha(width - 1, i), 0);
    }
    const int c = width / 2;
    for (int y = c - 1; y <= c; ++y) {
        for (int x = c - 1; x <= c; ++x) {
            EXPECT_EQ(alpha(x, y), 255);
        }
    }
    // White everywhere (straight alpha), symmetric, and never brighter further out along a row.
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            ASSERT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255);
            ASSERT_EQ(alpha(x, y), alpha(width - 1 - x, y));
            ASSERT_EQ(alpha(x, y), alpha(y, x));
            if (x >= c) {
                ASSERT_LE(alpha(x + 1 < width ? x + 1 : x, y), alpha(x, y));
            }
        }
    }
    // Soft, not a disc: a broad band of partial alpha between the core and the edge.
    EXPECT_GT(alpha(c + 8, c), 100);
    EXPECT_LT(alpha(c + 24, c), 60);
    EXPECT_GT(alpha(c + 24, c), 0);
}

} // namespace
