// The edit mode's pure pieces: track names and paths, the API's interpolation names, the text
// source written back with the author's comments, and the window title.
#include "edit/TrackSource.h"
#include "edit/EditTitle.h"
#include "sync/TrackText.h"

#include <gtest/gtest.h>

using namespace Velmora;

TEST(TrackSource, NamesPathsAndInterpolationsComeFromFixedLists) {
    EXPECT_EQ(TrackSource::trackNames().size(), 36u);
    EXPECT_TRUE(TrackSource::isTrackName("Macroblocksize"));
    EXPECT_FALSE(TrackSource::isTrackName("macroblocksize"));
    EXPECT_FALSE(TrackSource::isTrackName("../e"));
    EXPECT_EQ(TrackSource::trackOfSource("./data/science/src/hue.txt"), "hue");
    EXPECT_EQ(TrackSource::trackOfSource("data/science/src/hue.txt"), "hue");
    EXPECT_EQ(TrackSource::trackOfSource("./data/science/src/.hue.txt.swp"), std::nullopt);
    EXPECT_EQ(TrackSource::trackOfSource("./data/science/src/nosuch.txt"), std::nullopt);
    EXPECT_EQ(TrackSource::trackOfCompiled("./data/science/sync_e.track"), "e");
    EXPECT_EQ(TrackSource::trackOfCompiled("./data/science/sync_e.track.tmp"), std::nullopt);
    for (int code = 0; code < 4; ++code) {
        EXPECT_EQ(TrackSource::apiInterpolationCode(TrackSource::apiInterpolationName(code)), code);
    }
    EXPECT_EQ(TrackSource::apiInterpolationName(7), nullptr);
    EXPECT_EQ(TrackSource::apiInterpolationCode("smoothstep"), 2);
    EXPECT_EQ(TrackSource::apiInterpolationCode("smooth"), std::nullopt);
    EXPECT_EQ(TrackSource::apiInterpolationCode("Constant"), std::nullopt);
}

TEST(TrackSource, FloatsAreWrittenShortAndReadBackExactly) {
    for (float value : {0.1f, -2.5f, 1e-20f, 3.4028235e38f, 1.0f / 3.0f, 0.0f, 16777217.0f}) {
        const std::string text = TrackSource::shortestFloatText(value);
        EXPECT_EQ(std::strtof(text.c_str(), nullptr), value) << text;
    }
    EXPECT_EQ(TrackSource::shortestFloatText(0.1f), "0.1");
    EXPECT_EQ(TrackSource::shortestFloatValue(0.1f), 0.1);
}

TEST(TrackSource, WritingKeepsTheAuthorsCommentsAndParsesBack) {
    const std::string previous = "# fade: the header\n"
                                 "\n"
                                 "# intro\n"
                                 "0     1   smoothstep   # out of black\n"
                                 "96    0   constant\n"
                                 "# outro\n"
                                 "4160  0   smoothstep\n"
                                 "# the end\n";
    const std::vector<TrackKey> keys = {{0, 0.5f, 1}, {100, 0.25f, 2}, {200, -1.0f, 0}};
    const std::string text = TrackSource::writeSource(keys, previous);
    EXPECT_EQ(text, "# fade: the header\n"
                    "\n"
                    "# intro\n"
                    "0  0.5  linear   # out of black\n"
                    "100  0.25  smoothstep\n"
                    "200  -1  constant\n"
                    "# outro\n"
                    "# the end\n");
    const TrackText::Result parsed = TrackText::parse(text);
    ASSERT_TRUE(parsed.ok());
    ASSERT_EQ(parsed.keys.size(), 3u);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(parsed.keys[i].row, keys[i].row);
        EXPECT_EQ(parsed.keys[i].value, keys[i].value);
        EXPECT_EQ(parsed.keys[i].interpolation, keys[i].interpolation);
    }
    EXPECT_EQ(TrackSource::writeSource({}, ""), "");
}

TEST(EditTitle, ShowsRowBarTimeTransportLoopRateAndErrors) {
    EXPECT_EQ(editTitle(0.0, 24.0, false, std::nullopt, 0.0, false),
              "Velmora | row 0.0 | 1.1 | 0:00.00 | paused | 0.0 fps");
    EXPECT_EQ(
        editTitle(1234.5, 24.0, true, std::make_pair(1024.0, 1280.0), 21.25, true),
        "Velmora | row 1234.5 | 39.3 | 0:51.44 | playing | loop 1024.0-1280.0 | 21.2 fps | shader error");
}

TEST(TrackSource, ADescriptionIsTheSourcesLeadingComment) {
    EXPECT_EQ(TrackSource::description("e", "# e: the end.\n#  Below 0 stops it.\n\n# later\n0 1 constant\n"),
              "the end.\nBelow 0 stops it.");
    EXPECT_EQ(TrackSource::description("hue", "#\n# hue rotation\n0 1 linear # not this\n"), "hue rotation");
    EXPECT_EQ(TrackSource::description("hue", "# huey: not the name\n"), "huey: not the name");
    EXPECT_EQ(TrackSource::description("hue", "0 1 linear\n# too late\n"), "");
    EXPECT_EQ(TrackSource::description("hue", ""), "");
}

TEST(TrackSource, OrdinaryNumbersAreWrittenWithoutAnExponent) {
    EXPECT_EQ(TrackSource::shortestFloatText(70.0f), "70");
    EXPECT_EQ(TrackSource::shortestFloatText(780.0f), "780");
    EXPECT_EQ(TrackSource::shortestFloatText(-1200000.0f), "-1200000");
    EXPECT_EQ(TrackSource::shortestFloatText(0.0001f), "0.0001");
    EXPECT_EQ(TrackSource::shortestFloatText(1e20f), "1e+20");
    for (float value : {70.0f, 780.0f, 16777216.0f, 0.00012345f, 123456.7f, -3e9f}) {
        EXPECT_EQ(std::strtof(TrackSource::shortestFloatText(value).c_str(), nullptr), value) << value;
    }
}

TEST(TrackSource, AnEditChangesOnlyTheLinesOfTheKeysThatChanged) {
    const std::string previous = "# fade\r\n"
                                 "0     1     smoothstep   # out of black\r\n"
                                 "\r\n"
                                 "96    0.25  constant\r\n"
                                 "# outro\r\n"
                                 "4160  0     SmoothStep\r\n";
    // 96 changes value, 4160 goes, 100 comes, 0 stays.
    const std::vector<TrackKey> keys = {{0, 1.0f, 2}, {96, 70.0f, 0}, {100, -0.5f, 1}};
    const std::optional<std::string> text = TrackSource::editSource(previous, keys);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "# fade\r\n"
                     "0     1     smoothstep   # out of black\r\n"
                     "\r\n"
                     "96    70    constant\r\n"
                     "100   -0.5  linear\r\n"
                     "# outro\r\n");
    EXPECT_EQ(TrackSource::editSource(previous, {}), "# fade\r\n\r\n# outro\r\n");
    EXPECT_EQ(TrackSource::editSource("0 1 linear\n8 oops constant\n", keys), std::nullopt)
        << "a broken source is never rewritten";
    EXPECT_EQ(TrackSource::editSource("", {{5, 2.0f, 0}}), "5  2  constant\n");
}
