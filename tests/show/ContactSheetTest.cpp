// The contact sheet: its layout, the thumbnail scaling, the row labels' font, and velmora-shots
// --sheet run on the real show (needs a display: run under Xvfb).
#include "tools/shots/ContactSheet.h"
#include "tools/shots/RgbaImage.h"

#include "tests/support/TestFiles.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using Shots::ContactSheet;
using Shots::Rgba;
using Shots::RgbaImage;

namespace {

int litPixels(const RgbaImage& image, Rgba colour) {
    int lit = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = image.at(x, y);
            lit += (p[0] == colour[0] && p[1] == colour[1] && p[2] == colour[2] && p[3] == colour[3]) ? 1 : 0;
        }
    }
    return lit;
}

Rgba pixel(const RgbaImage& image, int x, int y) {
    const uint8_t* p = image.at(x, y);
    return {p[0], p[1], p[2], p[3]};
}

} // namespace

TEST(ContactSheet, EvenRowsSpreadOverTheShowAvoidingItsEnds) {
    const std::vector<double> rows = ContactSheet::evenRows(24, 4352.0);
    ASSERT_EQ(rows.size(), 24u);
    EXPECT_EQ(rows.front(), 90.0);
    EXPECT_EQ(rows.back(), 4261.0);
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_NEAR(rows[i] - rows[i - 1], 4352.0 / 24, 1.0);
    }
    EXPECT_EQ(ContactSheet::evenRows(1, 100.0), std::vector<double>{50.0});
    EXPECT_TRUE(ContactSheet::evenRows(0, 100.0).empty());
}

TEST(ContactSheet, DownscaleAveragesTheCoveredArea) {
    // Left half red, right half blue: halved, each side keeps its colour exactly.
    RgbaImage halves(4, 2, {0, 0, 255, 255});
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            std::copy_n(Rgba{255, 0, 0, 255}.data(), 4, halves.at(x, y));
        }
    }
    const RgbaImage two = Shots::downscale(halves, 2, 1);
    EXPECT_EQ(pixel(two, 0, 0), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(pixel(two, 1, 0), (Rgba{0, 0, 255, 255}));
    // Down to one pixel: the mean of everything.
    EXPECT_EQ(pixel(Shots::downscale(halves, 1, 1), 0, 0), (Rgba{128, 0, 128, 255}));

    // 3 -> 2 columns: each target pixel covers one and a half source pixels.
    RgbaImage ramp(3, 1, {0, 0, 0, 255});
    ramp.at(1, 0)[0] = 90;
    ramp.at(2, 0)[0] = 180;
    const RgbaImage scaled = Shots::downscale(ramp, 2, 1);
    EXPECT_EQ(scaled.at(0, 0)[0], 30);  // (0 * 1 + 90 * 0.5) / 1.5
    EXPECT_EQ(scaled.at(1, 0)[0], 150); // (90 * 0.5 + 180 * 1) / 1.5

    EXPECT_TRUE(Shots::downscale(halves, 0, 5).pixels.empty());
    EXPECT_TRUE(Shots::downscale(RgbaImage(), 4, 4).pixels.empty());
}

TEST(ContactSheet, FontDrawsDigitsClippedAtTheEdges) {
    const Rgba white = {255, 255, 255, 255};
    RgbaImage eight(20, 20, {0, 0, 0, 255});
    Shots::drawText(eight, 1, 1, 2, "8", white);
    EXPECT_EQ(litPixels(eight, white), 13 * 4); // 13 lit cells, each 2x2
    RgbaImage one(20, 20, {0, 0, 0, 255});
    Shots::drawText(one, 1, 1, 2, "1", white);
    EXPECT_EQ(litPixels(one, white), 8 * 4);
    EXPECT_NE(eight.pixels, one.pixels);

    // Characters without a glyph are blanks that still advance.
    RgbaImage spaced(40, 10, {0, 0, 0, 255});
    Shots::drawText(spaced, 0, 0, 1, "1x1", white);
    EXPECT_EQ(litPixels(spaced, white), 16);
    EXPECT_EQ(pixel(spaced, 9, 4), white); // bottom row of the second "1" starts at x = 8
    EXPECT_EQ(Shots::textWidth("1x1", 1), 11);
    EXPECT_EQ(Shots::textWidth("", 3), 0);

    // Partly or wholly outside: clipped, nothing written out of bounds.
    RgbaImage small(4, 4, {0, 0, 0, 255});
    Shots::drawText(small, -2, -3, 2, "4352.5-", white);
    Shots::drawText(small, 100, 100, 2, "8", white);
    EXPECT_GT(litPixels(small, white), 0);
}

TEST(ContactSheet, GridPlacesThumbnailsWithTheirLabels) {
    ContactSheet sheet(5, 3, 4, 3);
    EXPECT_EQ(sheet.columns(), 3);
    EXPECT_EQ(sheet.lines(), 2);
    const int cellHeight = 3 + ContactSheet::labelHeight() + ContactSheet::margin;
    EXPECT_EQ(sheet.image().width, 8 + 3 * (4 + 8));
    EXPECT_EQ(sheet.image().height, 8 + 2 * cellHeight);
    EXPECT_EQ(sheet.thumbX(4), 8 + 12);
    EXPECT_EQ(sheet.thumbY(4), 8 + cellHeight);

    const Rgba background = pixel(sheet.image(), 0, 0);
    // A frame with a transparent alpha still gives an opaque thumbnail.
    sheet.place(4, RgbaImage(40, 30, {200, 100, 50, 0}), "7");
    const RgbaImage& image = sheet.image();
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(pixel(image, sheet.thumbX(4) + x, sheet.thumbY(4) + y), (Rgba{200, 100, 50, 255}));
        }
    }
    EXPECT_EQ(pixel(image, sheet.thumbX(4) - 1, sheet.thumbY(4)), background);
    EXPECT_EQ(pixel(image, sheet.thumbX(3), sheet.thumbY(3)), background);

    // The label sits in the strip under its thumbnail, centred on it.
    int labelLeft = image.width;
    int labelRight = -1;
    int labelCount = 0;
    for (int y = sheet.thumbY(4) + 3; y < sheet.thumbY(4) + 3 + ContactSheet::labelHeight(); ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (pixel(image, x, y) != background) {
                labelLeft = std::min(labelLeft, x);
                labelRight = std::max(labelRight, x);
                ++labelCount;
            }
        }
    }
    EXPECT_GT(labelCount, 0);
    EXPECT_NEAR((labelLeft + labelRight) / 2.0, sheet.thumbX(4) + 1.5, 1.0);

    // Outside the grid: ignored; more columns than thumbnails: one line.
    const std::vector<uint8_t> before = image.pixels;
    sheet.place(5, RgbaImage(4, 3, {255, 255, 255, 255}), "1");
    sheet.place(-1, RgbaImage(4, 3, {255, 255, 255, 255}), "1");
    EXPECT_EQ(sheet.image().pixels, before);
    EXPECT_EQ(ContactSheet(2, 6, 4, 3).columns(), 2);
}

TEST(ContactSheet, ShotsToolWritesTheSheetOfTheShow) {
    VelmoraTest::ScratchFolder scratch("sheet");
    const std::string out = scratch.file("sheet.png");
    VelmoraTest::RunOptions inRepository;
    inRepository.workingDirectory = VELMORA_SOURCE_DIR;
    const VelmoraTest::RunResult run =
        VelmoraTest::runProgram(VELMORA_SHOTS_TOOL,
                                {"--sheet", out, "--count", "2", "--columns", "2", "--thumb", "64x36",
                                 "--size", "160x90", "--frames", "2"},
                                inRepository);
    ASSERT_EQ(run.status, 0) << run.err;

    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* pixels = stbi_load(out.c_str(), &width, &height, &channels, 4);
    ASSERT_NE(pixels, nullptr);
    ContactSheet expected(2, 2, 64, 36);
    EXPECT_EQ(width, expected.image().width);
    EXPECT_EQ(height, expected.image().height);
    // Rows 1088 and 3264 of the show: the heart and the fetus; each thumbnail has lit pixels.
    for (int index = 0; index < 2; ++index) {
        int brightest = 0;
        for (int y = 0; y < 36; ++y) {
            for (int x = 0; x < 64; ++x) {
                const unsigned char* p = pixels + (static_cast<size_t>(expected.thumbY(index) + y) * width +
                                                   expected.thumbX(index) + x) *
                                                      4;
                brightest = std::max({brightest, int(p[0]), int(p[1]), int(p[2])});
            }
        }
        EXPECT_GT(brightest, 100) << "thumbnail " << index;
    }
    stbi_image_free(pixels);

    // Bad options are refused without drawing.
    EXPECT_EQ(VelmoraTest::runProgram(VELMORA_SHOTS_TOOL, {"--sheet", scratch.file("x.png"), "--count", "0"})
                  .status,
              2);
    EXPECT_FALSE(VelmoraTest::exists(scratch.file("x.png")));
}
