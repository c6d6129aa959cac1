// The pieces of a chunked render that need no display: frame addressing and clocks, SHA-256, the
// chunk plan, the manifest's text (including arbitrary bytes) and the join proof.
#include "base/Sha256.h"
#include "engine/FrameClock.h"
#include "farm/ChunkManifest.h"
#include "farm/FarmPlan.h"
#include "farm/JoinProof.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace Velmora;

namespace {

std::string hashOf(const std::string& text) {
    return Sha256::of(text);
}

FarmPlan plan(int chunks, int64_t first, int64_t end, int64_t preroll, int64_t overlap) {
    FarmPlan p;
    p.fps = 30;
    p.width = 48;
    p.height = 28;
    p.first = first;
    p.end = end;
    p.lead = showLeadIn;
    p.chunks = chunks;
    p.preroll = preroll;
    p.overlap = overlap;
    return p;
}

// A chunk's manifest whose frame states are "s<frame>" for frames where it agrees with the
// one-machine render (from `agreesFrom` on) and "x<frame>" before.
ChunkManifest chunk(const FarmPlan& p, const ChunkRange& range, int64_t agreesFrom) {
    ChunkManifest m;
    m.plan = p;
    m.index = range.index;
    m.start = range.start;
    m.end = range.end;
    m.renderFrom = range.renderFrom;
    m.renderEnd = range.renderEnd;
    m.build = "velmora test";
    m.data = hashOf("data");
    m.renderer = "llvmpipe";
    m.glVersion = "4.5";
    for (int64_t g = range.renderFrom; g < range.renderEnd; ++g) {
        m.frames[g].state =
            hashOf((g >= agreesFrom ? "s" : "x" + std::to_string(range.index)) + std::to_string(g));
        if (g >= range.start) {
            m.frames[g].png = hashOf("png" + std::to_string(g));
        }
    }
    m.savedFrame = range.renderEnd - 1;
    m.savedState = m.frames[m.savedFrame].state;
    return m;
}

} // namespace

TEST(FrameClock, FrameTimesComeFromTheGlobalIndexAlone) {
    EXPECT_EQ(frameSeconds(0, 30), 0.0);
    EXPECT_EQ(frameSeconds(-7, 30), 0.0); // the lead-in frames are at the show's start
    EXPECT_EQ(frameSeconds(3840, 30), 128.0);
    // The same frame, whatever span it is drawn in: a decimal start is never added to.
    EXPECT_EQ(frameSeconds(3603, 30), 3603.0 / 30.0);
    EXPECT_EQ(firstFrameAt(0.0, 30), 0);
    EXPECT_EQ(firstFrameAt(2.0, 30), 60);
    EXPECT_EQ(firstFrameAt(0.1, 30), 3);      // 3/30 lands on 0.1 within rounding
    EXPECT_EQ(firstFrameAt(0.11, 30), 4);     // between frames: the next one
    EXPECT_EQ(firstFrameAt(120.1, 30), 3603); // 120.1 * 30 is 3602.9999999999995
}

TEST(FrameClock, ReplayedClocksAreBitForBitTheAccumulatedOnes) {
    const double dt = 1.0 / 60.0;
    float scene = 0.0f;
    double particles = 0.0;
    std::vector<SceneClocks> accumulated;
    for (int step = 0; step <= 12000; ++step) {
        accumulated.push_back({step, scene, particles});
        scene = advanceSceneClock(scene, dt);
        particles = advanceParticleClock(particles, dt);
    }
    ClockReplay replay;
    // In order, out of order, and again after another rate.
    for (int64_t steps : {0, 1, 8, 7, 11999, 5000, 12000}) {
        const SceneClocks clocks = replay.at(steps, dt);
        EXPECT_EQ(clocks.steps, steps);
        EXPECT_EQ(clocks.scene, accumulated[static_cast<size_t>(steps)].scene) << steps;
        EXPECT_EQ(clocks.particles, accumulated[static_cast<size_t>(steps)].particles) << steps;
    }
    EXPECT_EQ(replay.at(3, 1.0 / 30.0).particles, (1.0 / 30.0 + 1.0 / 30.0) + 1.0 / 30.0);
    EXPECT_EQ(replay.at(12000, dt).scene, accumulated[12000].scene);
}

TEST(Sha256, KnownDigestsWholeAndInPieces) {
    EXPECT_EQ(Sha256::of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string long56 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256::of(long56), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    Sha256 pieces;
    for (size_t at = 0; at < million.size(); at += 777) {
        pieces.add(million.data() + at, std::min<size_t>(777, million.size() - at));
    }
    EXPECT_EQ(pieces.hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(FarmPlan, TextRoundTripsAndBadTextIsRefused) {
    const FarmPlan p = plan(8, 0, 5430, 60, 60);
    EXPECT_EQ(p.text(), "fps=30 size=48x28 frames=0..5430 lead=7 chunks=8 preroll=60 overlap=60");
    FarmPlan read;
    std::string error;
    ASSERT_TRUE(FarmPlan::parse(p.text(), read, error)) << error;
    EXPECT_EQ(read, p);
    for (const char* bad : {"", "fps=30", "fps=0 size=48x28 frames=0..10 lead=7 chunks=2 preroll=6 overlap=6",
                            "fps=30 size=48x28 frames=10..10 lead=7 chunks=1 preroll=6 overlap=6",
                            "fps=30 size=48x28 frames=0..10 lead=7 chunks=11 preroll=6 overlap=6",
                            "fps=30 size=48x28 frames=0..10 lead=7 chunks=2 preroll=-1 overlap=6",
                            "fps=30 size=48x28 frames=0..10 lead=7 chunks=2 preroll=6 overlap=6 extra=1",
                            "fps=30 size=48x frames=0..10 lead=7 chunks=2 preroll=6 overlap=6"}) {
        EXPECT_FALSE(FarmPlan::parse(bad, read, error)) << bad;
    }
}

TEST(FarmPlan, BoundsMoveOntoNearbyResetsAndPrerollStopsBeforeOne) {
    // 120 frames in 4 chunks: 30 each; a reset 5 frames from a bound takes it, one 10 away does not.
    FarmPlan p = plan(4, 3780, 3900, 60, 20);
    EXPECT_EQ(chunkBounds(p, {}), (std::vector<int64_t>{3780, 3810, 3840, 3870, 3900}));
    EXPECT_EQ(chunkBounds(p, {3815}), (std::vector<int64_t>{3780, 3815, 3840, 3870, 3900}));
    EXPECT_EQ(chunkBounds(p, {3820}), (std::vector<int64_t>{3780, 3810, 3840, 3870, 3900}));
    const std::vector<int64_t> resets = {3815, 3840};
    const std::vector<int64_t> bounds = chunkBounds(p, resets);
    // Chunk 0 starts where the one-machine render does; the others 60 frames early, but never
    // further back than just before the last reset at or before their start.
    EXPECT_EQ(chunkRange(p, bounds, resets, 0).renderFrom, 3780 - showLeadIn);
    EXPECT_EQ(chunkRange(p, bounds, resets, 1).renderFrom, 3814);
    EXPECT_EQ(chunkRange(p, bounds, resets, 2).renderFrom, 3839);
    EXPECT_EQ(chunkRange(p, bounds, resets, 3).renderFrom, 3839);
    EXPECT_EQ(chunkRange(p, bounds, {}, 3).renderFrom, 3810);
    EXPECT_EQ(chunkRange(p, bounds, {}, 1).renderFrom, 3780 - showLeadIn); // not before the render's start
    EXPECT_EQ(chunkRange(p, bounds, resets, 1).renderEnd, 3860);
    EXPECT_EQ(chunkRange(p, bounds, resets, 3).renderEnd, 3900); // not past the span
    // The whole show: the render starts at the show's lead-in.
    EXPECT_EQ(chunkRange(plan(2, 0, 100, 10, 10), {0, 50, 100}, {}, 0).renderFrom, -showLeadIn);
}

TEST(ChunkManifest, TextRoundTrips) {
    const FarmPlan p = plan(3, 300, 390, 10, 5);
    const std::vector<int64_t> bounds = chunkBounds(p, {});
    ChunkManifest m = chunk(p, chunkRange(p, bounds, {}, 1), 0);
    ChunkManifest read;
    std::string error;
    ASSERT_TRUE(ChunkManifest::parse(m.text(), read, error)) << error;
    EXPECT_EQ(read.text(), m.text());
    m.resumed = true;
    m.resumedAfter = 334;
    m.resumedState = hashOf("state");
    for (int64_t g = m.renderFrom; g <= 334; ++g) {
        m.frames.erase(g);
    }
    ASSERT_TRUE(ChunkManifest::parse(m.text(), read, error)) << error;
    EXPECT_EQ(read.resumedAfter, 334);
    EXPECT_EQ(read.frames.begin()->first, 335);
}

TEST(ChunkManifest, IncompleteInconsistentOrArbitraryTextIsRefused) {
    const FarmPlan p = plan(3, 300, 390, 10, 5);
    const ChunkManifest m = chunk(p, chunkRange(p, chunkBounds(p, {}), {}, 1), 0);
    const std::string text = m.text();
    ChunkManifest read;
    std::string error;
    // Cut anywhere before its end: refused.
    for (size_t cut = 0; cut + 4 < text.size(); cut += 7) {
        EXPECT_FALSE(ChunkManifest::parse(text.substr(0, cut), read, error)) << cut;
    }
    auto without = [&](const std::string& line) {
        std::string changed = text;
        changed.erase(changed.find(line), line.size());
        return changed;
    };
    EXPECT_FALSE(ChunkManifest::parse(without("frame 325 "), read, error)); // a frame missing
    EXPECT_FALSE(ChunkManifest::parse(without("build velmora test\n"), read, error));
    std::string twice = text;
    twice.insert(twice.find("data "), "data " + hashOf("x") + "\n");
    EXPECT_FALSE(ChunkManifest::parse(twice, read, error));
    std::string saved = text;
    saved.replace(saved.find("saved 364"), 9, "saved 363");
    EXPECT_FALSE(ChunkManifest::parse(saved, read, error));
    EXPECT_EQ(error, "the saved state is not that of the last frame drawn");
    // Arbitrary bytes, and the real text with bytes changed: never a crash, never accepted by luck.
    std::mt19937 random(20);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes = round % 2 == 0 ? text : std::string(static_cast<size_t>(random() % 300), '\0');
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes || round % 2 == 1; ++c) {
            if (bytes.empty()) {
                break;
            }
            bytes[random() % bytes.size()] = static_cast<char>(random());
            if (round % 2 == 1 && c > static_cast<int>(bytes.size())) {
                break;
            }
        }
        if (bytes != text && ChunkManifest::parse(bytes, read, error)) {
            // Only a change inside a free-text field can still read; then it must say so.
            EXPECT_NE(read.text(), text);
        }
    }
}

TEST(JoinProof, ChunksAreProvenWhereTheirStateMeetsTheProvenNeighbours) {
    const FarmPlan p = plan(3, 300, 390, 10, 6);
    const std::vector<int64_t> bounds = chunkBounds(p, {});
    std::vector<std::optional<ChunkManifest>> chunks;
    chunks.push_back(chunk(p, chunkRange(p, bounds, {}, 0), -1000));
    // Chunk 1 agrees from its 4th pre-roll frame (before its start): all its frames are proven.
    chunks.push_back(chunk(p, chunkRange(p, bounds, {}, 1), 323));
    // Chunk 2 agrees only from frame 363, inside chunk 1's overlap: chunk 1 gives 360..362.
    chunks.push_back(chunk(p, chunkRange(p, bounds, {}, 2), 363));
    JoinResult result = proveJoins(p, chunks);
    ASSERT_TRUE(result.complete()) << result.reason;
    ASSERT_EQ(result.pieces.size(), 3u);
    EXPECT_EQ(result.pieces[0].from, 300);
    EXPECT_EQ(result.pieces[0].to, 330);
    EXPECT_EQ(result.pieces[1].from, 330);
    EXPECT_EQ(result.pieces[1].provenAt, 323);
    EXPECT_EQ(result.pieces[1].to, 363);
    EXPECT_EQ(result.pieces[2].from, 363);
    EXPECT_EQ(result.pieces[2].to, 390);

    // Agreeing only past the neighbour's overlap proves nothing.
    chunks[2] = chunk(p, chunkRange(p, bounds, {}, 2), 366);
    result = proveJoins(p, chunks);
    EXPECT_EQ(result.unproven, 2);
    EXPECT_EQ(result.reason, "its state never equals chunk 1's in frames 350 to 365 (pre-roll too short)");
    ASSERT_EQ(result.pieces.size(), 2u); // what was proven before it

    // A state that equals an unproven stretch of the neighbour proves nothing: with a long pre-roll,
    // chunk 2 draws frames where chunk 1 is not proven yet, and both are wrong alike there.
    const FarmPlan q = plan(3, 300, 390, 35, 6);
    chunks[0] = chunk(q, chunkRange(q, bounds, {}, 0), -1000);
    chunks[1] = chunk(q, chunkRange(q, bounds, {}, 1), 333);
    chunks[2] = chunk(q, chunkRange(q, bounds, {}, 2), 360);
    for (auto& [g, frame] : chunks[2]->frames) {
        if (g < 333) {
            frame.state = chunks[1]->frames.at(g).state;
        }
    }
    result = proveJoins(q, chunks);
    ASSERT_TRUE(result.complete()) << result.reason;
    EXPECT_EQ(result.pieces[1].provenAt, 333);
    EXPECT_EQ(result.pieces[2].provenAt, 360);

    // A missing chunk is named.
    chunks[1].reset();
    result = proveJoins(p, chunks);
    EXPECT_EQ(result.unproven, 1);
    EXPECT_EQ(result.reason, "it is missing (no complete manifest)");
}

TEST(JoinProof, AResumedChunkIsProvenOnlyFromItsNeighboursRecordedState) {
    const FarmPlan p = plan(2, 300, 360, 0, 0);
    const std::vector<int64_t> bounds = chunkBounds(p, {});
    std::vector<std::optional<ChunkManifest>> chunks;
    chunks.push_back(chunk(p, chunkRange(p, bounds, {}, 0), -1000));
    chunks.push_back(chunk(p, chunkRange(p, bounds, {}, 1), 1000));
    JoinResult result = proveJoins(p, chunks);
    EXPECT_EQ(result.unproven, 1);
    EXPECT_EQ(result.reason, "it shares no frame with chunk 0");

    chunks[1]->resumed = true;
    chunks[1]->resumedAfter = 329;
    chunks[1]->resumedState = chunks[0]->savedState;
    result = proveJoins(p, chunks);
    ASSERT_TRUE(result.complete()) << result.reason;
    EXPECT_EQ(result.pieces[1].from, 330);

    chunks[1]->resumedState = hashOf("another state");
    result = proveJoins(p, chunks);
    EXPECT_EQ(result.unproven, 1);
    // Chunk 0 itself must start where the one-machine render does.
    chunks[0]->renderFrom = 298;
    result = proveJoins(p, chunks);
    EXPECT_EQ(result.unproven, 0);
}
