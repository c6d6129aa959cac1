#include "farm/JoinProof.h"

#include <algorithm>

namespace Velmora {

JoinResult proveJoins(const FarmPlan& plan, const std::vector<std::optional<ChunkManifest>>& chunks) {
    JoinResult result;
    auto unproven = [&](int index, const std::string& why) {
        result.unproven = index;
        result.reason = why;
        return result;
    };
    for (int i = 0; i < plan.chunks; ++i) {
        if (i >= static_cast<int>(chunks.size()) || !chunks[static_cast<size_t>(i)]) {
            return unproven(i, "it is missing (no complete manifest)");
        }
        const ChunkManifest& chunk = *chunks[static_cast<size_t>(i)];
        JoinPiece piece;
        piece.chunk = i;
        piece.to = chunk.end;
        if (!chunk.resumed && chunk.renderFrom == plan.renderStart()) {
            // Drawn from the one-machine render's own start.
            piece.provenAt = chunk.renderFrom;
            piece.from = chunk.start;
        } else if (i == 0) {
            return unproven(i, "it does not start where the one-machine render starts (frame " +
                                   std::to_string(plan.renderStart()) + ")");
        } else {
            const ChunkManifest& before = *chunks[static_cast<size_t>(i) - 1];
            const int64_t beforeProven = result.pieces.back().provenAt;
            if (chunk.resumed) {
                const ChunkFrame* theirs = before.frame(chunk.resumedAfter);
                if (chunk.resumedAfter < beforeProven || theirs == nullptr ||
                    theirs->state != chunk.resumedState) {
                    return unproven(i, "it was drawn from a state after frame " +
                                           std::to_string(chunk.resumedAfter) + " that chunk " +
                                           std::to_string(i - 1) + " did not prove");
                }
                piece.provenAt = chunk.resumedAfter + 1;
            } else {
                const int64_t low = std::max(chunk.renderFrom, beforeProven);
                const int64_t high = before.renderEnd;
                piece.provenAt = -1;
                for (int64_t g = low; g < high; ++g) {
                    const ChunkFrame* mine = chunk.frame(g);
                    const ChunkFrame* theirs = before.frame(g);
                    if (mine != nullptr && theirs != nullptr && mine->state == theirs->state) {
                        piece.provenAt = g;
                        break;
                    }
                }
                if (piece.provenAt < 0) {
                    return unproven(i, low < high ? "its state never equals chunk " + std::to_string(i - 1) +
                                                        "'s in frames " + std::to_string(low) + " to " +
                                                        std::to_string(high - 1) + " (pre-roll too short)"
                                                  : "it shares no frame with chunk " + std::to_string(i - 1));
                }
            }
            piece.from = std::max(piece.provenAt, chunk.start);
            if (piece.from > before.renderEnd) {
                return unproven(i, "chunk " + std::to_string(i - 1) + " wrote frames up to " +
                                       std::to_string(before.renderEnd - 1) +
                                       " only, and this one is proven from " + std::to_string(piece.from));
            }
            result.pieces.back().to = piece.from;
        }
        result.pieces.push_back(piece);
    }
    // A piece may end up empty when its neighbour's overlap covers it whole.
    result.pieces.erase(std::remove_if(result.pieces.begin(), result.pieces.end(),
                                       [](const JoinPiece& piece) { return piece.to <= piece.from; }),
                        result.pieces.end());
    return result;
}

} // namespace Velmora
