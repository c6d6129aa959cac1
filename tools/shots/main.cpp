// velmora-shots: renders the show at chosen sync rows into PNG files, the way the golden-frame
// tests and the capture do it (a freshly reset show per row, warm-up frames leading to the row, offline
// music clock when the soundtrack is there). For reviewing looks and choreography.
//
// Usage: velmora-shots [--size WxH] [--frames N] [--prefix OUT] ROW...
//        velmora-shots --sheet OUT.png [--count N] [--columns C] [--thumb WxH] [--size WxH]
//                      [--frames N] [ROW...]
// Run it in the folder that holds ./data. Writes OUT<row>.png (OUT defaults to "shot-"), or with
// --sheet one contact sheet: a grid of thumbnails with the row under each, of the given ROWs or
// of N rows (default 24) spread evenly over the music.
#include "base/Files.h"
#include "base/Platform.h"
#include "player/Player.h"
#include "tools/shots/ContactSheet.h"

#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

void usage() {
    std::fprintf(stderr, "usage: velmora-shots [--size WxH] [--frames N] [--prefix OUT] ROW...\n"
                         "       velmora-shots --sheet OUT.png [--count N] [--columns C] [--thumb WxH]\n"
                         "                     [--size WxH] [--frames N] [ROW...]\n");
}

bool parseSize(const char* text, int& width, int& height) {
    return std::sscanf(text, "%dx%d", &width, &height) == 2 && width >= 1 && height >= 1 && width <= 8192 &&
           height <= 8192;
}

int parseCount(const char* text, int low, int high) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (end == text || *end != '\0' || value < low || value > high) ? -1 : static_cast<int>(value);
}

} // namespace

int main(int argc, char** argv) {
    Velmora::prepareProcess();
    int width = 1280;
    int height = 720;
    std::string prefix = "shot-";
    std::string sheetPath;
    int sheetCount = 24;
    int sheetColumns = 6;
    int thumbWidth = 320;
    int thumbHeight = 180;
    Velmora::WarmFrames plan;
    std::vector<double> rows;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            if (!parseSize(argv[++i], width, height)) {
                usage();
                return 2;
            }
        } else if (arg == "--thumb" && i + 1 < argc) {
            if (!parseSize(argv[++i], thumbWidth, thumbHeight)) {
                usage();
                return 2;
            }
        } else if (arg == "--sheet" && i + 1 < argc) {
            sheetPath = argv[++i];
        } else if ((arg == "--count" || arg == "--columns") && i + 1 < argc) {
            const int value = parseCount(argv[++i], 1, 1000);
            if (value < 0) {
                usage();
                return 2;
            }
            (arg == "--count" ? sheetCount : sheetColumns) = value;
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
    const bool sheet = !sheetPath.empty();
    if (rows.empty() && !sheet) {
        usage();
        return 2;
    }
    try {
        Velmora::PlayerDesc desc;
        desc.width = width;
        desc.height = height;
        desc.title = "Velmora shots";
        desc.hidden = true;
        Velmora::Player player(desc);
        if (Velmora::pathExists(Velmora::Player::musicPath)) {
            player.openMusic(true);
        }
        if (sheet && rows.empty()) {
            Velmora::Music& music = player.music();
            if (!music.isOffline()) {
                std::fprintf(stderr, "velmora-shots: --sheet without rows needs ./data/sydaembient.mp3\n");
                return 1;
            }
            rows = Shots::ContactSheet::evenRows(sheetCount, music.length() * music.rowsPerSecond());
        }
        // Without --sheet the grid is never drawn: keep it at one cell.
        Shots::ContactSheet contactSheet(sheet ? static_cast<int>(rows.size()) : 1, sheetColumns, thumbWidth,
                                         thumbHeight);
        player.buildShow();
        // One picture per row, each after its warm-up, read back as soon as it is drawn.
        Velmora::FrameLoop loop;
        loop.clock = Velmora::ClockPolicy::Held;
        loop.frames = static_cast<int64_t>(rows.size());
        loop.row = [&](int64_t k) { return rows[static_cast<size_t>(k)]; };
        loop.warm = plan;
        loop.output = Velmora::FrameOutput::ReadBack;
        loop.readBackDepth = 1;
        loop.events = false;
        loop.stopOnClose = false;
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
        bool written = true;
        loop.frame = [&](const Velmora::FrameInfo&) {
            return written ? Velmora::FrameChoice::WarmUp : Velmora::FrameChoice::Stop;
        };
        loop.picture = [&](int64_t k, const uint8_t* bottomUp) {
            Velmora::flipRows(bottomUp, pixels.data(), width, height);
            const size_t index = static_cast<size_t>(k);
            const double row = rows[index];
            char label[64];
            std::snprintf(label, sizeof(label), "%g", row);
            if (sheet) {
                Shots::RgbaImage frame;
                frame.width = width;
                frame.height = height;
                frame.pixels = pixels;
                contactSheet.place(static_cast<int>(index), frame, label);
                std::fprintf(stderr, "row %s (%zu of %zu)\n", label, index + 1, rows.size());
                return;
            }
            char name[64];
            std::snprintf(name, sizeof(name), "%g.png", row);
            const std::string path = prefix + name;
            if (!stbi_write_png(path.c_str(), width, height, 4, pixels.data(), width * 4)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                written = false;
                return;
            }
            std::fprintf(stderr, "wrote %s\n", path.c_str());
        };
        player.run(loop);
        if (!written) {
            return 1;
        }
        if (sheet) {
            const Shots::RgbaImage& image = contactSheet.image();
            if (!stbi_write_png(sheetPath.c_str(), image.width, image.height, 4, image.pixels.data(),
                                image.width * 4)) {
                std::fprintf(stderr, "cannot write %s\n", sheetPath.c_str());
                return 1;
            }
            std::fprintf(stderr, "wrote %s (%dx%d)\n", sheetPath.c_str(), image.width, image.height);
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
