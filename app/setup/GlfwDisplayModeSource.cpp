// Display modes through GLFW: the primary monitor's video modes, in GLFW's order.
// GLFW is initialised only for the query and terminated again at once, so the window code later
// starts from an uninitialised library and initialises it itself.
#include <GLFW/glfw3.h>

#include "app/setup/DisplayModeSource.h"

namespace {

class GlfwDisplayModeSource : public DisplayModeSource {
public:
    std::vector<DisplayMode> modes() override {
        std::vector<DisplayMode> result;
        if (!glfwInit()) {
            return result;
        }
        GLFWmonitor* monitor = glfwGetPrimaryMonitor();
        int count = 0;
        const GLFWvidmode* videoModes = monitor != nullptr ? glfwGetVideoModes(monitor, &count) : nullptr;
        if (videoModes != nullptr) {
            for (int i = 0; i < count; ++i) {
                const GLFWvidmode& mode = videoModes[i];
                result.push_back({mode.width, mode.height,
                                  bitsPerPixelFromChannels(mode.redBits, mode.greenBits, mode.blueBits)});
            }
        }
        glfwTerminate();
        return result;
    }
};

} // namespace

DisplayModeSource& platformDisplayModeSource() {
    static GlfwDisplayModeSource source;
    return source;
}
