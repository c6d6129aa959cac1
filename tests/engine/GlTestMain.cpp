// Runs the GL tests with a real context: one hidden window, GL entry points loaded and the one
// vertex-array object bound, as the program's player does. Without a context the run fails
// (status 1) before any test starts: a skipped suite would prove nothing.
#include "player/Player.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

constexpr int windowWidth = 96;
constexpr int windowHeight = 64;

std::unique_ptr<Velmora::Player> player;

bool makeContext() {
    try {
        Velmora::PlayerDesc desc;
        desc.width = windowWidth;
        desc.height = windowHeight;
        desc.title = "Velmora GL tests";
        desc.hidden = true;
        player = std::make_unique<Velmora::Player>(desc);
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
    const int status = RUN_ALL_TESTS();
    player.reset();
    return status;
}
