// Point-cloud readers: the binary and text formats, their console lines, and hostile input.
#include "demo/PointCloud.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

class PointCloudFiles : public ::testing::Test {
protected:
    void SetUp() override {
        scratch = std::make_unique<VelmoraTest::ScratchFolder>("pointcloud");
        folder = scratch->path;
    }
    void TearDown() override { scratch.reset(); }

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        written.push_back(path);
        return path;
    }
    std::string writeFloats(const std::string& name, const std::vector<float>& values,
                            size_t extraBytes = 0) {
        std::string bytes(values.size() * 4 + extraBytes, '\x7f');
        std::memcpy(&bytes[0], values.data(), values.size() * 4);
        return write(name, bytes);
    }

    std::unique_ptr<VelmoraTest::ScratchFolder> scratch;
    std::string folder;
    std::vector<std::string> written;
};

std::string captureBinary(const std::string& path, std::vector<glm::vec3>& points) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    points = Demo::readBinaryPointCloud(path.c_str());
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::vector<float> records(int count) {
    std::vector<float> values;
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < 6; ++j) {
            values.push_back(static_cast<float>(i * 10 + j));
        }
    }
    return values;
}

TEST_F(PointCloudFiles, BinaryRecordsAndConsoleLines) {
    std::vector<glm::vec3> points;
    // Two records; the unused three values of each record are skipped.
    const std::string two = writeFloats("two.bin", {1, 2, 3, 9, 9, 9, 0.5f, -4, 0.0000001f, 9, 9, 9});
    EXPECT_EQ(captureBinary(two, points), "LogoScene::readBParticles\n- 12\n0: 1, 2, 3\n1: 0.5, -4, 1e-07\n");
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1], glm::vec3(0.5f, -4.0f, 0.0000001f));

    // 24 bytes: one point; 25 to 27 bytes: the partial value is dropped, same single point.
    for (size_t extra = 0; extra <= 3; ++extra) {
        const std::string path = writeFloats("one" + std::to_string(extra) + ".bin", records(1), extra);
        EXPECT_EQ(captureBinary(path, points), "LogoScene::readBParticles\n- 6\n0: 0, 1, 2\n") << extra;
        EXPECT_EQ(points.size(), 1u);
    }

    // Nine values: the trailing group of three still yields a point.
    std::vector<float> nine = records(2);
    nine.resize(9);
    EXPECT_EQ(captureBinary(writeFloats("nine.bin", nine), points),
              "LogoScene::readBParticles\n- 9\n0: 0, 1, 2\n1: 10, 11, 12\n");
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1], glm::vec3(10, 11, 12));
}

TEST_F(PointCloudFiles, BinaryTrailingGroupOfOneOrTwoValuesIsDropped) {
    std::vector<glm::vec3> points;
    for (size_t keep : {7u, 8u}) {
        std::vector<float> values = records(2);
        values.resize(keep);
        const std::string out =
            captureBinary(writeFloats("short" + std::to_string(keep) + ".bin", values), points);
        EXPECT_EQ(out, "LogoScene::readBParticles\n- " + std::to_string(keep) + "\n0: 0, 1, 2\n");
        EXPECT_EQ(points.size(), 1u);
    }
    // Fewer than three values in all: no point at all.
    EXPECT_EQ(captureBinary(writeFloats("two-values.bin", {1, 2}), points),
              "LogoScene::readBParticles\n- 2\n");
    EXPECT_TRUE(points.empty());
}

TEST_F(PointCloudFiles, BinaryPrintsOnlyTheFirstTenPoints) {
    std::vector<glm::vec3> points;
    const std::string out = captureBinary(writeFloats("twelve.bin", records(12)), points);
    EXPECT_EQ(points.size(), 12u);
    EXPECT_NE(out.find("\n9: 90, 91, 92\n"), std::string::npos);
    EXPECT_EQ(out.find("\n10: "), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 12);
    EXPECT_EQ(points[11], glm::vec3(110, 111, 112));
}

TEST_F(PointCloudFiles, MissingOrUnreadableFilesGiveEmptyLists) {
    std::vector<glm::vec3> points;
    EXPECT_EQ(captureBinary(folder + "/missing.bin", points), "LogoScene::readBParticles\n- 0\n");
    EXPECT_TRUE(points.empty());
    EXPECT_TRUE(Demo::readRawFloats((folder + "/missing.bin").c_str()).empty());
    EXPECT_TRUE(Demo::readTextPointCloud((folder + "/missing.txt").c_str()).empty());
    // A folder, and devices that never end, are not regular files: nothing is read from them.
    EXPECT_EQ(captureBinary(folder, points), "LogoScene::readBParticles\n- 0\n");
    EXPECT_TRUE(Demo::readRawFloats(VelmoraTest::deviceFile().c_str()).empty());
    EXPECT_TRUE(Demo::readTextPointCloud(VelmoraTest::deviceFile().c_str()).empty());
    EXPECT_TRUE(Demo::readTextPointCloud(folder.c_str()).empty());
    EXPECT_TRUE(Demo::readRawFloats(nullptr).empty());
}

TEST_F(PointCloudFiles, FifosAndFilesOverTheLimitAreNotRead) {
    // A FIFO without a writer (where the system has them) would block a plain open for ever; a
    // sparse file over the limit would be read (and allocated) in full.
    const std::string fifo = folder + "/cloud.fifo";
    if (VelmoraTest::makeFifo(fifo)) {
        EXPECT_TRUE(Demo::readRawFloats(fifo.c_str()).empty());
        EXPECT_TRUE(Demo::readTextPointCloud(fifo.c_str()).empty());
    }
    const std::string huge = writeFloats("huge.bin", {1.0f, 2.0f, 3.0f, 0.0f, 0.0f, 0.0f});
    VelmoraTest::resizeFile(huge, Demo::maxPointCloudBytes + 8);
    EXPECT_TRUE(Demo::readRawFloats(huge.c_str()).empty());
    const std::string hugeText = write("huge.txt", "1 2 3\n");
    VelmoraTest::resizeFile(hugeText, Demo::maxPointCloudBytes + 8);
    EXPECT_TRUE(Demo::readTextPointCloud(hugeText.c_str()).empty());
    // At the limit's side of small: read as usual.
    EXPECT_EQ(Demo::readRawFloats(writeFloats("small.bin", {1.0f, 2.0f, 3.0f}).c_str()).size(), 3u);
}

TEST_F(PointCloudFiles, TextLinesAndTheRepeatRule) {
    using glm::vec3;
    auto read = [this](const std::string& name, const std::string& text) {
        return Demo::readTextPointCloud(write(name, text).c_str());
    };
    EXPECT_EQ(read("a.txt", "1 2 3\n4 5 6\n"), (std::vector<vec3>{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(read("b.txt", "1 2 3\n4 5 6"), (std::vector<vec3>{{1, 2, 3}, {4, 5, 6}}));
    // An empty line repeats the previous point; a short line keeps the missing coordinates.
    EXPECT_EQ(read("c.txt", "1 2 3\n\n7 8 9\n"), (std::vector<vec3>{{1, 2, 3}, {1, 2, 3}, {7, 8, 9}}));
    EXPECT_EQ(read("d.txt", "1 2 3\n4 5\n"), (std::vector<vec3>{{1, 2, 3}, {4, 5, 3}}));
    EXPECT_EQ(read("e.txt", "  -1.5e2\t0.25 7 trailing words\n"), (std::vector<vec3>{{-150, 0.25f, 7}}));
    // Carriage returns are white space; a token that is not a number stops the line and leaves the
    // coordinates it would have set as they were.
    EXPECT_EQ(read("f.txt", "1 2 3\r\n4 x 6\r\n"), (std::vector<vec3>{{1, 2, 3}, {4, 2, 3}}));
    // The first line's missing coordinates start at 0.
    EXPECT_EQ(read("g.txt", "5\n"), (std::vector<vec3>{{5, 0, 0}}));
    EXPECT_TRUE(read("h.txt", "").empty());
    EXPECT_EQ(read("i.txt", "\n").size(), 1u);
}

TEST_F(PointCloudFiles, ArbitraryBytesNeverCrashEitherReader) {
    std::mt19937 random(1234);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 600, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random() & 0xff);
        }
        if (round % 3 == 0) {
            // Mostly printable, with line ends and number-ish pieces.
            const char alphabet[] = "0123456789 .-+eE\t\n\rnaif";
            for (char& c : bytes) {
                c = alphabet[static_cast<unsigned char>(c) % (sizeof(alphabet) - 1)];
            }
        }
        const std::string path = write("random" + std::to_string(round), bytes);
        std::vector<glm::vec3> points;
        captureBinary(path, points);
        const size_t values = bytes.size() / 4;
        EXPECT_EQ(points.size(), values / 6 + (values % 6 >= 3 ? 1 : 0));
        const std::vector<glm::vec3> text = Demo::readTextPointCloud(path.c_str());
        EXPECT_LE(text.size(), bytes.size() + 1);
    }
}

} // namespace
