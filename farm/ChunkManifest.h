// The record a chunk leaves beside its frames (manifest.txt), the proof material of the assembly.
//
// Lines of text, one field each:
//   velmora-chunk 1
//   plan fps=30 size=160x90 frames=0..5430 lead=7 chunks=8 preroll=60 overlap=60
//   chunk 2 1357 2036                    index, start, end
//   rendered 1297 2096                   frames drawn [from, to)
//   resumed 2095 <state>                 only when drawn from a saved state after that frame
//   build <text>                         the program (its version and SHA-256)
//   data <sha256>                        everything under ./data
//   renderer <text>                      GL_RENDERER
//   gl <text>                            GL_VERSION
//   frame 1297 <state> -                 per drawn frame: the SHA-256 of the state it carries on,
//   frame 1357 <state> <png>             and of its PNG file when written
//   saved 2095 <state>                   state.bin: the state after that frame
//   end
// A manifest is written last, under a temporary name, so a chunk with one is complete.
#pragma once

#include "farm/FarmPlan.h"

#include <cstdint>
#include <map>
#include <string>

namespace Velmora {

struct ChunkFrame {
    std::string state; // hex SHA-256 of the carried state after the frame
    std::string png;   // hex SHA-256 of the PNG file; empty when not written
};

struct ChunkManifest {
    FarmPlan plan;
    int index = 0;
    int64_t start = 0;
    int64_t end = 0;
    int64_t renderFrom = 0;
    int64_t renderEnd = 0;
    bool resumed = false;
    int64_t resumedAfter = 0; // drawn from the state after this frame
    std::string resumedState;
    std::string build;
    std::string data;
    std::string renderer;
    std::string glVersion;
    std::map<int64_t, ChunkFrame> frames;
    int64_t savedFrame = 0;
    std::string savedState;

    std::string text() const;
    // Reads text(), checking that it is whole and consistent; false with the reason otherwise.
    static bool parse(const std::string& text, ChunkManifest& manifest, std::string& error);

    const ChunkFrame* frame(int64_t index) const {
        auto found = frames.find(index);
        return found == frames.end() ? nullptr : &found->second;
    }
};

// "chunk-0002"
std::string chunkFolderName(int index);

} // namespace Velmora
