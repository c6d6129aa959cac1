// The setup dialog shown before the demo: pick a 16:9 resolution and fullscreen or windowed.
#pragma once

#include "app/DemoSettings.h"
#include "app/setup/DisplayModeSource.h"
#include "app/setup/SetupDialogView.h"

// Lists the display's modes that fit the record, preselects the record's size and shows the
// dialog. Returns 1 after "Demo" (the record then holds the choice), 0 after "Die", Escape or
// the close box (the record is unchanged), -1 when no dialog can be shown (record unchanged).
int runSetupDialog(DemoSettings* settings, DisplayModeSource& modes, SetupDialogView& view);

// The same with this platform's display modes and dialog.
int runSetupDialog(DemoSettings* settings);
