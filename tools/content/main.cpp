// velmora-content: makes the show's generated data files from a fixed seed.
//
// Regenerate the committed files, byte for byte, from the repository root:
//     build/tools/content/velmora-content data
//
// Usage:
//     velmora-content [DATADIR]                      write img/foo.png and raw/* under DATADIR ("data")
//     velmora-content --preview OUT.png [--size N] FILE...
//                                                    render each point-cloud file as a row of three views,
//                                                    each N pixels square (360)
#include "tools/content/ContentGenerator.h"
#include "tools/content/Preview.h"

#include "base/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

void usage() {
    std::fprintf(stderr, "usage: velmora-content [DATADIR]\n"
                         "       velmora-content --preview OUT.png [--size N] FILE...\n");
}

} // namespace

int main(int argc, char** argv) {
    Velmora::prepareProcess();
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (!args.empty() && args[0] == "--preview") {
            if (args.size() < 3) {
                usage();
                return 2;
            }
            std::size_t first = 2;
            int size = 360;
            if (args[2] == "--size" && args.size() >= 5) {
                size = std::atoi(args[3].c_str());
                first = 4;
            }
            if (size < 16 || size > 4096) {
                usage();
                return 2;
            }
            std::vector<std::vector<Content::CloudPoint>> clouds;
            for (std::size_t i = first; i < args.size(); ++i) {
                clouds.push_back(Content::readCloudFile(args[i]));
                std::printf("%s: %zu points\n", args[i].c_str(), clouds.back().size());
            }
            Content::writePng(args[1], Content::renderPreview(clouds, size));
            std::printf("wrote %s\n", args[1].c_str());
            return 0;
        }
        if (args.size() > 1 || (!args.empty() && !args[0].empty() && args[0][0] == '-')) {
            usage();
            return 2;
        }
        const std::string dataDir = args.empty() ? "data" : args[0];
        for (const std::string& written : Content::writeContent(dataDir)) {
            std::printf("wrote %s/%s\n", dataDir.c_str(), written.c_str());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-content: %s\n", e.what());
        return 1;
    }
}
