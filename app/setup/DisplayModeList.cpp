#include "app/setup/DisplayModeList.h"

#include <cstdio>

bool DisplayModeList::isSixteenByNine(int32_t width, int32_t height) {
    return static_cast<uint32_t>(height) == (static_cast<uint32_t>(width) * 9u) >> 4;
}

void DisplayModeList::fill(const std::vector<DisplayMode>& modes, int32_t bitsPerPixel) {
    for (const DisplayMode& mode : modes) {
        if (full()) {
            break;
        }
        offer(mode, bitsPerPixel);
    }
}

bool DisplayModeList::offer(const DisplayMode& mode, int32_t bitsPerPixel) {
    if (full() || !isSixteenByNine(mode.width, mode.height) || mode.bitsPerPixel != bitsPerPixel) {
        return false;
    }
    if (!entries.empty() && entries.back().width == mode.width && entries.back().height == mode.height) {
        return false;
    }
    entries.push_back({mode.width, mode.height});
    return true;
}

std::string DisplayModeList::itemText(int i) const {
    char text[500];
    std::snprintf(text, sizeof text, "%d x %d", static_cast<int>(entry(i).width),
                  static_cast<int>(entry(i).height));
    return text;
}

int DisplayModeList::indexOf(int32_t width, int32_t height) const {
    int found = -1;
    for (int i = 0; i < count(); ++i) {
        if (entry(i).width == width && entry(i).height == height) {
            found = i;
        }
    }
    return found;
}
