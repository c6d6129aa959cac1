// Display modes through EnumDisplaySettingsW: the current display device's modes, in the
// system's order, with the bits per pixel it reports.
#include "app/setup/DisplayModeSource.h"

#include <windows.h>

namespace {

class Win32DisplayModeSource : public DisplayModeSource {
public:
    std::vector<DisplayMode> modes() override {
        std::vector<DisplayMode> result;
        // Far more than the list can hold; a driver that never says "no more" cannot keep us here.
        for (DWORD i = 0; i < 100000; ++i) {
            DEVMODEW mode{};
            mode.dmSize = sizeof mode;
            if (!EnumDisplaySettingsW(nullptr, i, &mode)) {
                break;
            }
            result.push_back({static_cast<int32_t>(mode.dmPelsWidth), static_cast<int32_t>(mode.dmPelsHeight),
                              static_cast<int32_t>(mode.dmBitsPerPel)});
        }
        return result;
    }
};

} // namespace

DisplayModeSource& platformDisplayModeSource() {
    static Win32DisplayModeSource source;
    return source;
}
