// Runs the GL tests with a real context: one hidden window, GL entry points loaded and the one
// vertex-array object bound, as the entry point does. Without a context the run fails (status 1)
// before any test starts: a skipped suite would prove nothing.
#include "engine/VertexArray.h"
#include "engine/Window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>

namespace {

constexpr int windowWidth = 96;
constexpr int windowHeight = 64;

bool makeContext() {
    try {
        Velmora::Window& window = Velmora::Window::instance();
        window.setHidden(true);
        window.open(windowWidth, windowHeight, "Velmora GL tests", false, false);
        Velmora::Window::initGlew();
        Velmora::VertexArray::instance().bind();
        return true;
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "FAIL: no GL context: %s\n", exception.what());
    } catch (const char* message) {
        std::fprintf(stderr, "FAIL: no GL context: %s\n", message);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (test discovery at build time) needs no display.
    if (!GTEST_FLAG_GET(list_tests) && !makeContext()) {
        return 1;
    }
    return RUN_ALL_TESTS();
}
