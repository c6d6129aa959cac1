// Platform service: shows the modal setup dialog and lets the viewer edit a SetupChoice.
// One implementation per platform, chosen at link time through platformSetupDialogView().
// The view only shows and reads widgets; which items exist and what they mean is decided by
// runSetupDialog.
#pragma once

#include <string>
#include <vector>

#include "app/setup/SetupChoice.h"

class SetupDialogView {
public:
    virtual ~SetupDialogView() = default;
    // Shows the items with `choice` as the opening state and blocks until the viewer is done.
    // Returns 1 after "Demo" (with `choice` updated to what is on screen), 0 after "Die", Escape
    // or the close box (`choice` untouched), -1 when no dialog can be shown. The dialog is off
    // the screen when this returns.
    virtual int show(const std::vector<std::string>& items, SetupChoice& choice) = 0;
};

SetupDialogView& platformSetupDialogView();
