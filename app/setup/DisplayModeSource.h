// Platform service: the display modes of the primary display, in the platform's order.
// One implementation per platform, chosen at link time through platformDisplayModeSource().
#pragma once

#include <vector>

#include "app/setup/DisplayMode.h"

class DisplayModeSource {
public:
    virtual ~DisplayModeSource() = default;
    // Empty when the display cannot be queried.
    virtual std::vector<DisplayMode> modes() = 0;
};

DisplayModeSource& platformDisplayModeSource();
