#include "app/setup/SetupChoice.h"

SetupChoice initialSetupChoice(const DisplayModeList& list, const DemoSettings& settings) {
    SetupChoice choice;
    choice.selectedIndex = list.indexOf(settings.width, settings.height);
    choice.fullscreenTicked = settings.windowed == 0;
    return choice;
}

void applySetupChoice(const DisplayModeList& list, const SetupChoice& choice, DemoSettings& settings) {
    if (choice.selectedIndex >= 0 && choice.selectedIndex < list.count()) {
        settings.width = list.entry(choice.selectedIndex).width;
        settings.height = list.entry(choice.selectedIndex).height;
    }
    settings.windowed = choice.fullscreenTicked ? 0 : 1;
    settings.vsync = 0;
}
