#include "app/setup/SetupDialog.h"

int runSetupDialog(DemoSettings* settings, DisplayModeSource& modes, SetupDialogView& view) {
    if (settings == nullptr) {
        return -1;
    }
    DisplayModeList list;
    list.fill(modes.modes(), settings->bitsPerPixel);

    std::vector<std::string> items;
    items.reserve(static_cast<size_t>(list.count()));
    for (int i = 0; i < list.count(); ++i) {
        items.push_back(list.itemText(i));
    }

    SetupChoice choice = initialSetupChoice(list, *settings);
    int result = view.show(items, choice);
    if (result == 1) {
        applySetupChoice(list, choice, *settings);
    }
    return result;
}
