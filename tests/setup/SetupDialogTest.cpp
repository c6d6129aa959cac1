// The setup dialog's logic on synthetic mode lists: filter, preselection, and what "Demo" and
// "Die" leave in the settings record. No display is involved.
#include <gtest/gtest.h>

#include "app/setup/SetupDialog.h"

namespace {

DisplayMode mode(int32_t width, int32_t height, int32_t bitsPerPixel = 32) {
    return {width, height, bitsPerPixel};
}

std::vector<std::string> itemsOf(const DisplayModeList& list) {
    std::vector<std::string> items;
    for (int i = 0; i < list.count(); ++i) {
        items.push_back(list.itemText(i));
    }
    return items;
}

class FixedModes : public DisplayModeSource {
public:
    explicit FixedModes(std::vector<DisplayMode> list) : list(std::move(list)) {}
    std::vector<DisplayMode> modes() override { return list; }
    std::vector<DisplayMode> list;
};

// Records what it was shown and answers as a viewer would.
class ScriptedView : public SetupDialogView {
public:
    int result = 1;
    int pick = -2; // -2 = leave the list as it opened
    bool tick = false;
    bool changeTick = false;

    std::vector<std::string> shownItems;
    SetupChoice shownChoice;

    int show(const std::vector<std::string>& items, SetupChoice& choice) override {
        shownItems = items;
        shownChoice = choice;
        if (result == 1) {
            if (pick != -2) {
                choice.selectedIndex = pick;
            }
            if (changeTick) {
                choice.fullscreenTicked = tick;
            }
        }
        return result;
    }
};

TEST(DisplayModeList, KeepsOnlySixteenByNineAtTheRecordsDepth) {
    EXPECT_TRUE(DisplayModeList::isSixteenByNine(1280, 720));
    EXPECT_TRUE(DisplayModeList::isSixteenByNine(1366, 768)); // 1366 * 9 / 16 = 768.375
    EXPECT_TRUE(DisplayModeList::isSixteenByNine(1600, 900));
    EXPECT_TRUE(DisplayModeList::isSixteenByNine(1920, 1080));
    EXPECT_FALSE(DisplayModeList::isSixteenByNine(1360, 768)); // 765
    EXPECT_FALSE(DisplayModeList::isSixteenByNine(1280, 1024));
    EXPECT_FALSE(DisplayModeList::isSixteenByNine(1280, 721));
    // Unsigned 32-bit arithmetic: the product wraps instead of overflowing.
    EXPECT_TRUE(DisplayModeList::isSixteenByNine(536870912, 33554432));
    EXPECT_FALSE(DisplayModeList::isSixteenByNine(536870912, 301989888));

    DisplayModeList list;
    list.fill({mode(640, 480), mode(1280, 720, 16), mode(1360, 768), mode(1366, 768), mode(1280, 1024),
               mode(1920, 1080, 24), mode(1920, 1080)},
              32);
    EXPECT_EQ(itemsOf(list), (std::vector<std::string>{"1366 x 768", "1920 x 1080"}));

    DisplayModeList sixteen;
    sixteen.fill({mode(1280, 720, 16), mode(1280, 720, 32)}, 16);
    EXPECT_EQ(itemsOf(sixteen), (std::vector<std::string>{"1280 x 720"}));
}

TEST(DisplayModeList, EmptyForDisplaysWithoutSixteenByNineModesAtThatDepth) {
    DisplayModeList list;
    list.fill({mode(640, 480), mode(1024, 768), mode(1280, 1024), mode(1440, 900), mode(1920, 1200)}, 32);
    EXPECT_EQ(list.count(), 0);
    list.fill({mode(1280, 720, 16), mode(1920, 1080, 16)}, 32);
    EXPECT_EQ(list.count(), 0);
    list.fill({}, 32);
    EXPECT_EQ(list.count(), 0);
}

TEST(DisplayModeList, DropsOnlyARepeatOfTheEntryJustAdded) {
    DisplayModeList list;
    // Refresh rates of one size come in a row; a size seen again after another size is kept.
    // A mode that fails the filter between two equal sizes does not separate them.
    list.fill({mode(1280, 720), mode(1280, 720), mode(1280, 720), mode(1920, 1080), mode(1920, 1080),
               mode(1280, 720), mode(1280, 1024), mode(1280, 720), mode(1920, 1080, 16), mode(1920, 1080)},
              32);
    EXPECT_EQ(itemsOf(list),
              (std::vector<std::string>{"1280 x 720", "1920 x 1080", "1280 x 720", "1920 x 1080"}));
}

TEST(DisplayModeList, HoldsAtMost4096Entries) {
    std::vector<DisplayMode> modes;
    for (int32_t i = 1; i <= 5000; ++i) {
        modes.push_back(mode(16 * i, 9 * i));
    }
    DisplayModeList list;
    list.fill(modes, 32);
    ASSERT_EQ(list.count(), DisplayModeList::capacity);
    EXPECT_EQ(list.itemText(4095), "65536 x 36864");
    EXPECT_FALSE(list.offer(mode(16, 9), 32));
    EXPECT_EQ(list.count(), 4096);
}

TEST(DisplayModeList, PreselectionFindsTheLastEntryOfTheRecordsSize) {
    DisplayModeList list;
    list.fill({mode(1920, 1080), mode(1280, 720), mode(1600, 900), mode(1280, 720)}, 32);
    EXPECT_EQ(list.indexOf(1280, 720), 3);
    EXPECT_EQ(list.indexOf(1600, 900), 2);
    EXPECT_EQ(list.indexOf(1366, 768), -1);
}

TEST(DisplayMode, BitsPerPixelFromChannelBits) {
    EXPECT_EQ(bitsPerPixelFromChannels(8, 8, 8), 32); // ordinary modes match the record's default
    EXPECT_EQ(bitsPerPixelFromChannels(10, 10, 10), 32);
    EXPECT_EQ(bitsPerPixelFromChannels(5, 6, 5), 16);
    EXPECT_EQ(bitsPerPixelFromChannels(5, 5, 5), 16);
    EXPECT_EQ(bitsPerPixelFromChannels(3, 3, 2), 8);
    EXPECT_EQ(bitsPerPixelFromChannels(16, 16, 16), 48);
    EXPECT_EQ(bitsPerPixelFromChannels(0, 0, 0), 0);
    EXPECT_EQ(bitsPerPixelFromChannels(-1, 8, 8), 16);
    EXPECT_EQ(bitsPerPixelFromChannels(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX);
}

TEST(SetupDialog, OpensWithTheRecordsSizeSelectedAndTheBoxTickedForFullscreen) {
    FixedModes modes({mode(1920, 1080), mode(1280, 720, 16), mode(1280, 720), mode(1280, 720)});
    ScriptedView view;
    view.result = 0;

    DemoSettings settings;
    EXPECT_EQ(runSetupDialog(&settings, modes, view), 0);
    EXPECT_EQ(view.shownItems, (std::vector<std::string>{"1920 x 1080", "1280 x 720"}));
    EXPECT_EQ(view.shownChoice.selectedIndex, 1);
    EXPECT_FALSE(view.shownChoice.fullscreenTicked); // windowed 1

    settings.windowed = 0;
    runSetupDialog(&settings, modes, view);
    EXPECT_TRUE(view.shownChoice.fullscreenTicked);
    settings.windowed = 7; // not 0: the box starts unticked, though 7 would mean fullscreen
    runSetupDialog(&settings, modes, view);
    EXPECT_FALSE(view.shownChoice.fullscreenTicked);

    settings.width = 1366;
    settings.height = 768;
    runSetupDialog(&settings, modes, view);
    EXPECT_EQ(view.shownChoice.selectedIndex, -1);
}

TEST(SetupDialog, DemoWritesTheChosenModeTheBoxAndVsyncOff) {
    FixedModes modes({mode(1280, 720), mode(1600, 900), mode(1920, 1080)});
    ScriptedView view;

    DemoSettings settings;
    view.pick = 2;
    view.changeTick = true;
    view.tick = true;
    EXPECT_EQ(runSetupDialog(&settings, modes, view), 1);
    EXPECT_EQ(settings.width, 1920);
    EXPECT_EQ(settings.height, 1080);
    EXPECT_EQ(settings.windowed, 0);
    EXPECT_EQ(settings.vsync, 0);
    EXPECT_EQ(settings.bitsPerPixel, 32);

    // Now the record says fullscreen at 1920 x 1080; confirming it unticked means a window.
    view.pick = -2;
    view.tick = false;
    EXPECT_EQ(runSetupDialog(&settings, modes, view), 1);
    EXPECT_EQ(view.shownChoice.selectedIndex, 2);
    EXPECT_TRUE(view.shownChoice.fullscreenTicked);
    EXPECT_EQ(settings.width, 1920);
    EXPECT_EQ(settings.windowed, 1);
}

TEST(SetupDialog, DieAndNoDialogLeaveTheRecordAlone) {
    FixedModes modes({mode(1920, 1080)});
    ScriptedView view;
    view.pick = 0;
    view.changeTick = true;
    view.tick = true;

    for (int result : {0, -1}) {
        view.result = result;
        DemoSettings settings;
        settings.windowed = 5;
        EXPECT_EQ(runSetupDialog(&settings, modes, view), result);
        EXPECT_EQ(settings.width, 1280);
        EXPECT_EQ(settings.height, 720);
        EXPECT_EQ(settings.windowed, 5);
        EXPECT_EQ(settings.vsync, 1);
    }
    EXPECT_EQ(runSetupDialog(nullptr, modes, view), -1);
}

TEST(SetupDialog, DemoWithNothingSelectedKeepsTheRecordsSize) {
    ScriptedView view;
    view.changeTick = true;
    view.tick = true;

    // Nothing offered at all.
    FixedModes none({mode(1280, 1024), mode(1024, 768)});
    DemoSettings settings;
    EXPECT_EQ(runSetupDialog(&settings, none, view), 1);
    EXPECT_TRUE(view.shownItems.empty());
    EXPECT_EQ(settings.width, 1280);
    EXPECT_EQ(settings.height, 720);
    EXPECT_EQ(settings.windowed, 0);
    EXPECT_EQ(settings.vsync, 0);

    // The record's size is not offered and the viewer picks nothing; a view reporting an index
    // past the list is treated the same way.
    FixedModes other({mode(1920, 1080)});
    for (int pick : {-2, -1, 1, 4096}) {
        view.pick = pick;
        DemoSettings kept;
        EXPECT_EQ(runSetupDialog(&kept, other, view), 1);
        EXPECT_EQ(kept.width, 1280);
        EXPECT_EQ(kept.height, 720);
    }
}

} // namespace
