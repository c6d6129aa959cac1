// A span of the show cut into chunks that render on separate machines, and what each chunk draws.
//
// The span is global frames [first, end) at `fps` (engine/FrameClock.h). The one-machine render of
// the span draws, from a reset show, `lead` frames before `first` (never before the show's start)
// and then every frame of the span; chunks must add up to exactly that. Chunk i owns frames
// [start, end) and draws, from a reset show, `preroll` frames before its start without writing them
// and `overlap` frames past its end, which it writes too: the assembly proves each chunk's frames
// equal to the one-machine render where the chunk's carried state equals its (proven) neighbour's
// (farm/JoinProof.h).
//
// Chunk bounds are an even split moved onto nearby exact resets of the trails (frames where the
// feedback keeps nothing of the previous frame), and a pre-roll that reaches back past a reset
// starts just before it instead: the reset makes longer history pointless.
//
// Pure arithmetic and text; no GL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {

struct FarmPlan {
    int fps = 30;
    int width = 0;
    int height = 0;
    int64_t first = 0; // global frames [first, end)
    int64_t end = 0;
    int64_t lead = 0; // frames the one-machine render draws before `first`
    int chunks = 1;
    int64_t preroll = 0;
    int64_t overlap = 0;

    // Defaults in seconds of the show (the trails' memory is in time, not frames): with 5 s of
    // pre-roll and 2 s of overlap, 55 of 63 joins of the whole show at 60 fps were proven in one
    // measurement; with 1 s and 1 s, 29.
    static constexpr int defaultPrerollSeconds = 5;
    static constexpr int defaultOverlapSeconds = 2;
    static constexpr int maxChunks = 100000;

    // The first frame the one-machine render draws (after its reset).
    int64_t renderStart() const;
    // "fps=30 size=160x90 frames=0..5430 lead=7 chunks=8 preroll=60 overlap=60"
    std::string text() const;
    // Reads text(); false with the reason when it is not one.
    static bool parse(const std::string& text, FarmPlan& plan, std::string& error);
    bool operator==(const FarmPlan& other) const { return text() == other.text(); }
    bool operator!=(const FarmPlan& other) const { return !(*this == other); }
};

// What a chunk draws: from `renderFrom` (after a reset) to `renderEnd` (exclusive), writing
// [start, renderEnd).
struct ChunkRange {
    int index = 0;
    int64_t start = 0;
    int64_t end = 0;
    int64_t renderFrom = 0;
    int64_t renderEnd = 0;
};

// The plan's chunk bounds: chunks + 1 increasing frames from first to end. `resets` are the
// frames of the span (sorted) where the trails are wiped.
std::vector<int64_t> chunkBounds(const FarmPlan& plan, const std::vector<int64_t>& resets);
ChunkRange chunkRange(const FarmPlan& plan, const std::vector<int64_t>& bounds,
                      const std::vector<int64_t>& resets, int index);

// Checks a plan's numbers (sizes, counts, chunks no more than frames); the problem or empty.
std::string checkFarmPlan(const FarmPlan& plan);

} // namespace Velmora
