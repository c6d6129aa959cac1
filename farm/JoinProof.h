// The assembly's proof, by induction from the start of the one-machine render, that every frame
// taken from a chunk equals that render's frame.
//
// Rendering is deterministic (same build, data and renderer: the manifests say so), and a frame
// depends only on its global index and the state the previous frame carried. So a chunk drawn from
// a reset at the one-machine render's own start is that render. A chunk is proven from the first
// frame where the state it carries equals the state its proven neighbour carries at the same frame
// (its neighbour being equal to the one-machine render from some earlier frame on): from there on
// both draw the same. A chunk drawn from its neighbour's saved state is proven when that state is
// the one the neighbour recorded for that frame. Frames before a chunk's proof come from its
// neighbour, which wrote them as its overlap.
#pragma once

#include "farm/ChunkManifest.h"

#include <optional>
#include <string>
#include <vector>

namespace Velmora {

// Frames [from, to) of the span taken from chunk `chunk`.
struct JoinPiece {
    int chunk = 0;
    int64_t from = 0;
    int64_t to = 0;
    int64_t provenAt = 0; // the first frame whose state equals the one-machine render's
};

struct JoinResult {
    std::vector<JoinPiece> pieces; // the proven chunks in order, as far as the proof got
    int unproven = -1;             // the first chunk that could not be proven, or -1
    std::string reason;            // why, for the message
    bool complete() const { return unproven < 0; }
};

// `chunks[i]` is chunk i's manifest, or nothing when it is missing. The manifests are already
// checked against the plan and one another (same plan, build, data, renderer; their ranges).
JoinResult proveJoins(const FarmPlan& plan, const std::vector<std::optional<ChunkManifest>>& chunks);

} // namespace Velmora
