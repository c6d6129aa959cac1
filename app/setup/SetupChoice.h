// What the viewer can change in the setup dialog (the selected list item and the fullscreen check
// box), how it starts out from the settings record, and how "Demo" writes it back into the record.
#pragma once

#include "app/DemoSettings.h"
#include "app/setup/DisplayModeList.h"

struct SetupChoice {
    int selectedIndex = -1; // item of the resolution list; -1 = nothing selected
    bool fullscreenTicked = false;
};

// The dialog's opening state: the item of the record's size (none when it is not offered), and
// the check box ticked when the record's windowed flag is 0.
SetupChoice initialSetupChoice(const DisplayModeList& list, const DemoSettings& settings);

// "Demo": the selected entry's size (kept as it was when nothing valid is selected), windowed 1
// unless the box is ticked, and vsync 0, since the dialog offers no choice of vertical sync.
void applySetupChoice(const DisplayModeList& list, const SetupChoice& choice, DemoSettings& settings);
