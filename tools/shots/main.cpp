// velmora-shots: renders the show at chosen sync rows into PNG files, the way the golden-frame
// tests and the capture do it (a fresh demo per row, warm-up frames leading to the row, offline
// music clock when the soundtrack is there). For reviewing looks and choreography.
//
// Usage: velmora-shots [--size WxH] [--frames N] [--prefix OUT] ROW...
// Run it in the folder that holds ./data. Writes OUT<row>.png (OUT defaults to "shot-").
#include "audio/Music.h"
#include "demo/Demo.h"
#include "demo/WarmFrames.h"
#include "engine/VertexArray.h"
#include "engine/Window.h"
#include "sync/SyncDevice.h"

#include <GL/glew.h>
#include <stb_image_write.h>
#include <sys/stat.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

void usage() {
    std::fprintf(stderr, "usage: velmora-shots [--size WxH] [--frames N] [--prefix OUT] ROW...\n");
}

bool fileExists(const char* path) {
    struct stat info;
    return ::stat(path, &info) == 0;
}

} // namespace

int main(int argc, char** argv) {
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    int width = 1280;
    int height = 720;
    std::string prefix = "shot-";
    Demo::WarmFrames plan;
    std::vector<double> rows;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width < 1 || height < 1 ||
                width > 8192 || height > 8192) {
                usage();
                return 2;
            }
        } else if (arg == "--frames" && i + 1 < argc) {
            plan.frames = std::atoi(argv[++i]);
            if (plan.frames < 1 || plan.frames > 10000) {
                usage();
                return 2;
            }
        } else if (arg == "--prefix" && i + 1 < argc) {
            prefix = argv[++i];
        } else {
            char* end = nullptr;
            const double row = std::strtod(arg.c_str(), &end);
            if (end == arg.c_str() || *end != '\0') {
                usage();
                return 2;
            }
            rows.push_back(row);
        }
    }
    if (rows.empty()) {
        usage();
        return 2;
    }
    try {
        Velmora::Window& window = Velmora::Window::instance();
        window.setHidden(true);
        window.open(width, height, "Velmora shots", false, false);
        Velmora::Window::initGlew();
        Velmora::VertexArray::instance().bind();
        Velmora::SyncDevice::instance();
        if (fileExists("./data/sydaembient.mp3")) {
            Velmora::Music::instance().openOffline("./data/sydaembient.mp3", 180.0);
        }
        for (double row : rows) {
            Demo::Demo demo;
            Demo::renderWarmFrames(demo, row, plan);
            const std::vector<uint8_t> pixels = Demo::readPixelsTopDown(width, height);
            char name[64];
            std::snprintf(name, sizeof(name), "%g.png", row);
            const std::string path = prefix + name;
            if (!stbi_write_png(path.c_str(), width, height, 4, pixels.data(), width * 4)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
            std::fprintf(stderr, "wrote %s\n", path.c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ERROR - %s\n", error.what());
        return 1;
    } catch (const char* message) {
        std::fprintf(stderr, "ERROR - %s\n", message);
        return 1;
    }
    return 0;
}
