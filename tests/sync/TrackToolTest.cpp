// The velmora-track program, run as authors run it.
#include "base/Files.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"
#include "tests/support/TestProcess.h"
#include "tests/sync/SyncTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace Velmora;
using namespace SyncTest;

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    const std::vector<unsigned char> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the tool with these arguments (its output and errors are collected outside `dir`). Output
// of a Windows program comes in text mode: lines are given back with "\n" alone.
ToolRun runTool(const std::vector<std::string>& arguments) {
    VelmoraTest::RunResult result = VelmoraTest::runProgram(VELMORA_TRACK_TOOL, arguments);
    auto unix = [](std::string text) {
        std::string lines;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                lines += text[i];
            }
        }
        return lines;
    };
    return {result.status, unix(result.out), unix(result.err)};
}

void writeText(const std::string& path, const std::string& text) {
    writeFile(path, std::vector<unsigned char>(text.begin(), text.end()));
}

std::size_t countFiles(const ScratchDir& dir) {
    return VelmoraTest::listFolder(dir.path).size();
}

} // namespace

TEST(TrackTool, BuildDumpEvalRoundTrip) {
    ScratchDir dir;
    writeText(dir.file("fade.txt"), "# fade in, hold, drop\n"
                                    "\n"
                                    "0\t0    SmoothStep   # ease\n"
                                    "  96 1 linear\n"
                                    "120 0.1 quadratic\r\n"
                                    "480 -1 constant\n"
                                    "# the end\n");
    ToolRun run = runTool({"build", dir.file("fade.txt"), dir.file("fade.track")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(
        readFile(dir.file("fade.track")),
        trackImage(
            {{0, 0.0f, smoothstep}, {96, 1.0f, linear}, {120, 0.1f, quadratic}, {480, -1.0f, constant}}));

    run = runTool({"dump", dir.file("fade.track")});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "0 0 smoothstep\n96 1 linear\n120 0.100000001 quadratic\n480 -1 constant\n");

    // The dump builds back to the identical file.
    writeText(dir.file("again.txt"), run.out);
    ASSERT_EQ(runTool({"build", dir.file("again.txt"), dir.file("again.track")}).status, 0);
    EXPECT_EQ(readFile(dir.file("again.track")), readFile(dir.file("fade.track")));

    run = runTool({"eval", dir.file("fade.track"), "-5", "48", "100.5", "480", "1e9", "nan"});
    ASSERT_EQ(run.status, 0) << run.err;
    char expected[256];
    std::snprintf(expected, sizeof expected, "0\n0.5\n%.17g\n-1\n-1\n0\n",
                  1.0 + (4.5 / 24.0) * double(0.1f - 1.0f));
    EXPECT_EQ(run.out, expected);
}

TEST(TrackTool, OddFilesRoundTripExactly) {
    ScratchDir dir;
    // NaN payloads, negative zero, a subnormal, raw interpolation codes, out-of-order rows.
    std::vector<TrackKey> keys = {
        {5, -0.0f, 7}, {-3, 1.4e-45f, -128}, {5, 3.0f, 127}, {2147483647, 1e38f, 2}};
    const std::uint32_t nanBits[] = {0x7fc00000u, 0xffc00000u, 0x7f800001u, 0xffabcdefu};
    for (std::uint32_t bits : nanBits) {
        TrackKey key{int(keys.size()), 0.0f, 1};
        std::memcpy(&key.value, &bits, sizeof bits);
        keys.push_back(key);
    }
    writeFile(dir.file("odd.track"), trackImage(keys));
    ToolRun run = runTool({"dump", dir.file("odd.track")});
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("not in strictly ascending row order"), std::string::npos) << run.err;
    writeText(dir.file("odd.txt"), run.out);
    run = runTool({"build", dir.file("odd.txt"), dir.file("odd2.track")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(dir.file("odd2.track")), readFile(dir.file("odd.track")));

    // The text form itself round-trips every float bit pattern.
    std::mt19937 random(99);
    for (int i = 0; i < 20000; ++i) {
        TrackKey key{std::int32_t(random()), 0.0f, std::int32_t(random() % 256) - 128};
        const std::uint32_t bits = std::uint32_t(random());
        std::memcpy(&key.value, &bits, sizeof bits);
        const TrackText::Result parsed = TrackText::parse(TrackText::formatKey(key));
        ASSERT_EQ(parsed.keys.size(), 1u) << TrackText::formatKey(key);
        ASSERT_EQ(std::memcmp(&parsed.keys[0], &key, sizeof key), 0) << TrackText::formatKey(key);
    }
}

TEST(TrackTool, MalformedSourceWritesNothing) {
    ScratchDir dir;
    const std::string source = dir.file("bad.txt");
    writeText(source, "0 0 linear\n"
                      "10 1 lnear\n"
                      "20 1\n"
                      "30 1e39 constant\n"
                      "4.5 1 constant\n"
                      "50 1 linear extra\n"
                      "99999999999 0 linear\n");
    ToolRun run = runTool({"build", source, dir.file("bad.track")});
    EXPECT_EQ(run.status, 1);
    for (int line = 2; line <= 7; ++line) {
        EXPECT_NE(run.err.find(source + ":" + std::to_string(line) + ": "), std::string::npos) << line;
    }
    EXPECT_EQ(run.err.find(source + ":1:"), std::string::npos);
    EXPECT_NE(run.err.find("lnear"), std::string::npos);
    EXPECT_EQ(countFiles(dir), 1u); // bad.txt: no output and no temporary left

    // An existing output stays as it was.
    writeFile(dir.file("keep.track"), trackImage({{1, 2.0f, constant}}));
    EXPECT_EQ(runTool({"build", source, dir.file("keep.track")}).status, 1);
    EXPECT_EQ(readFile(dir.file("keep.track")), trackImage({{1, 2.0f, constant}}));

    // Warnings do not stop a build.
    writeText(source, "10 1 linear\n5 2 constant\n5 3 9\n");
    run = runTool({"build", source, dir.file("warn.track")});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find(source + ":2: warning:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(source + ":3: warning:"), std::string::npos) << run.err;
}

TEST(TrackTool, UsageAndFileErrors) {
    ScratchDir dir;
    const std::vector<std::vector<std::string>> wrong = {{},
                                                         {"frobnicate", "x"},
                                                         {"dump"},
                                                         {"dump", "a", "b"},
                                                         {"build", "onlyone"},
                                                         {"eval", "x.track"},
                                                         {"eval", "x.track", "1", "notarow"}};
    for (const std::vector<std::string>& arguments : wrong) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 2) << arguments.size();
        EXPECT_NE(run.err.find("usage:"), std::string::npos) << arguments.size();
    }
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"dump", "build", "eval", "constant", "linear", "smoothstep", "quadratic", "#"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(runTool({"dump", dir.file("missing.track")}).status, 1);
    EXPECT_EQ(runTool({"dump", dir.path}).status, 1);
    EXPECT_EQ(runTool({"eval", dir.file("missing.track"), "0"}).status, 1);
    EXPECT_EQ(runTool({"build", dir.file("missing.txt"), dir.file("x.track")}).status, 1);
}

TEST(TrackTool, BuildNeverWritesOverItsSource) {
    ScratchDir dir;
    const std::string source = dir.file("x.txt");
    const std::string text = "0 1 constant\n";
    writeText(source, text);
    std::vector<std::string> outputs = {source, dir.path + "/./x.txt"};
    std::error_code linkError;
    std::filesystem::create_hard_link(std::filesystem::u8path(source),
                                      std::filesystem::u8path(dir.file("hard.track")), linkError);
    EXPECT_FALSE(linkError) << linkError.message();
    outputs.push_back(dir.file("hard.track"));
    const bool symlinked = VelmoraTest::makeSymlink("x.txt", dir.file("link.track"));
    if (symlinked) {
        outputs.push_back(dir.file("link.track"));
    }
    for (const std::string& out : outputs) {
        const ToolRun run = runTool({"build", source, out});
        EXPECT_EQ(run.status, 1) << out;
        EXPECT_NE(run.err.find("is the source file itself"), std::string::npos) << run.err;
        EXPECT_EQ(slurp(source), text) << out;
    }
    EXPECT_TRUE(!symlinked || linkInfo(dir.file("link.track")).isLink);
}

TEST(TrackTool, SourcesThatAreNotRegularFilesFailWithOneLine) {
    ScratchDir dir;
    VelmoraTest::makeFolder(dir.file("folder"));
    std::vector<std::pair<std::string, std::string>> cases = {
        {dir.file("folder"), "is a folder, not a file"},
        {VelmoraTest::deviceFile(), "is not a regular file"}};
    const bool fifo = VelmoraTest::makeFifo(dir.file("fifo.txt"));
    if (fifo) {
        cases.push_back({dir.file("fifo.txt"), "is not a regular file"});
    }
    for (const auto& [source, reason] : cases) {
        const ToolRun run = runTool({"build", source, dir.file("out.track")});
        EXPECT_EQ(run.status, 1) << source;
        EXPECT_EQ(run.err, "velmora-track: " + source + ": cannot read: " + reason + "\n");
        EXPECT_FALSE(pathExists(dir.file("out.track")));
    }
    // A device or a FIFO as a track file does not block dump or eval either.
    const std::string special = fifo ? dir.file("fifo.txt") : VelmoraTest::deviceFile();
    EXPECT_EQ(runTool({"dump", special}).status, 1);
    const ToolRun eval = runTool({"eval", special, "0"});
    EXPECT_EQ(eval.status, 1);
    EXPECT_NE(eval.err.find("is not a regular file"), std::string::npos) << eval.err;
}

TEST(TrackTool, BuildReplacesOnlyRegularFilesAndKeepsTheirModeAndLinks) {
    ScratchDir dir;
    const std::string source = dir.file("src.txt");
    writeText(source, "0 1 constant\n");
    const std::vector<unsigned char> built = trackImage({{0, 1.0f, constant}});

    // A read-only file stays read-only (root may replace it; others are refused and keep it whole).
    const std::string locked = dir.file("locked.track");
    writeFile(locked, trackImage({}));
    VelmoraTest::makeReadOnly(locked);
    const ToolRun lockedRun = runTool({"build", source, locked});
    const std::filesystem::perms permissions =
        std::filesystem::status(std::filesystem::u8path(locked)).permissions();
    EXPECT_EQ(permissions & std::filesystem::perms::owner_write, std::filesystem::perms::none);
    EXPECT_EQ(readFile(locked), lockedRun.status == 0 ? built : trackImage({})) << lockedRun.err;

    // A symbolic link (where this process may make one) stays a link; the file it leads to gets
    // the track.
    VelmoraTest::makeFolder(dir.file("tracks"));
    writeFile(dir.file("tracks/real.track"), trackImage({}));
    if (VelmoraTest::makeSymlink("tracks/real.track", dir.file("alias.track"))) {
        ASSERT_EQ(runTool({"build", source, dir.file("alias.track")}).status, 0);
        EXPECT_TRUE(linkInfo(dir.file("alias.track")).isLink);
        EXPECT_EQ(readFile(dir.file("tracks/real.track")), built);
    }

    // A FIFO, a device and a folder are never replaced.
    std::vector<std::string> refused = {dir.file("tracks"), VelmoraTest::deviceFile()};
    if (VelmoraTest::makeFifo(dir.file("pipe.track"))) {
        refused.push_back(dir.file("pipe.track"));
    }
    for (const std::string& out : refused) {
        const ToolRun run = runTool({"build", source, out});
        EXPECT_EQ(run.status, 1) << out;
        EXPECT_NE(run.err.find(out + ": "), std::string::npos) << run.err;
    }
    EXPECT_NE(fileInfo(dir.file("pipe.track")).type, FileType::Regular);
    EXPECT_TRUE(isDirectory(dir.file("tracks")));
}
