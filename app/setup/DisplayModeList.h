// The resolutions the setup dialog offers: the display's modes with a 16:9 shape at the wanted
// colour depth, in the platform's order, with a repeat of the entry just added dropped (the same
// size at another refresh rate). Item i of the dialog's list is entry i. Knows nothing of any
// window system; the dialog shows itemText(i) and reads entries back by index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/setup/DisplayMode.h"

class DisplayModeList {
public:
    static constexpr int capacity = 4096;

    struct Entry {
        int32_t width;
        int32_t height;
    };

    // h == (w * 9) >> 4 in unsigned 32-bit arithmetic: 9w/16 rounded down.
    static bool isSixteenByNine(int32_t width, int32_t height);

    // Offers the modes in order until the list is full.
    void fill(const std::vector<DisplayMode>& modes, int32_t bitsPerPixel);
    // Appends the mode when it passes the filter; true when it was appended.
    bool offer(const DisplayMode& mode, int32_t bitsPerPixel);

    int count() const { return static_cast<int>(entries.size()); }
    bool full() const { return count() >= capacity; }
    // The entry behind item i; i must be in [0, count()).
    const Entry& entry(int i) const { return entries[static_cast<size_t>(i)]; }
    // "W x H", the text of item i.
    std::string itemText(int i) const;
    // The last index whose entry is (width, height), or -1 when there is none: selecting every
    // matching item in ascending order leaves the last one selected.
    int indexOf(int32_t width, int32_t height) const;

private:
    std::vector<Entry> entries;
};
