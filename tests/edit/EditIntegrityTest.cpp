// An author's work is never lost: a text editor's save racing page edits, broken compiled files
// and sources followed by page edits, a save on a full disk, sources kept as the author wrote
// them, and whatever the API returns accepted back. The real `velmora --edit`, over HTTP.
#include "tests/edit/EditFixture.h"

#include "base/Files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifndef VELMORA_TRACK_BINARY
#error "VELMORA_TRACK_BINARY must name velmora-track"
#endif

using namespace EditTest;
namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int raceRounds = 60;
#else
constexpr int raceRounds = 200;
#endif

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// How many lines differ between two texts of the same number of lines; -1 when the counts differ.
int changedLines(const std::string& a, const std::string& b) {
    const std::vector<std::string> x = linesOf(a);
    const std::vector<std::string> y = linesOf(b);
    if (x.size() != y.size()) {
        return -1;
    }
    int changed = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        changed += x[i] != y[i] ? 1 : 0;
    }
    return changed;
}

// The compiled file `velmora-track build` makes of a source.
std::string built(EditProcess& edit, const std::string& source) {
    int status = 0;
    const std::string out = edit.file("built.track");
    std::remove(out.c_str());
    runProgram(VELMORA_TRACK_BINARY, {"build", source, out}, &status);
    return status == 0 ? readFile(out) : "(does not build)";
}

// The error of the track's source in the state (it names the track), or null.
Json trackError(const Json& state, const std::string& track) {
    for (const Json& error : state["errors"]) {
        if (error.value("track", "") == track) {
            return error;
        }
    }
    return nullptr;
}

// The error of a file in the state, or null.
Json fileError(const Json& state, const std::string& file) {
    for (const Json& error : state["errors"]) {
        if (error["file"] == file) {
            return error;
        }
    }
    return nullptr;
}

Json withKeyChanged(Json keys, int index, double value) {
    keys[index]["value"] = value;
    return keys;
}

} // namespace

TEST(EditIntegrity, ATextEditorsSaveIsNeverOverwrittenByAPageEditOnTheRevisionBefore) {
    EditProcess edit;
    ASSERT_TRUE(edit.started()) << edit.errors();
    const std::string source = edit.file("data/science/src/camz.txt");
    const std::string original = readFile(source);
    std::mt19937 random(7);
    int refused = 0;
    for (int round = 0; round < raceRounds; ++round) {
        const Json before = edit.get("/api/tracks/camz").json();
        // The editor saves (temporary file and rename): a key after the others, this round's value.
        const std::string text = original + "99999 " + std::to_string(round + 1000) + " constant\n";
        writeFile(source + ".swp", text);
        ASSERT_TRUE(renameOver(source + ".swp", source));
        // Within the watcher's settling time, or just after it, the page saves on the old revision.
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 80));
        const Answer put = edit.put(
            "/api/tracks/camz",
            Json{{"revision", before["revision"]}, {"keys", withKeyChanged(before["keys"], 1, -5.5)}}.dump());
        ASSERT_TRUE(put.status == 409) << "round " << round << ": " << put.status << " " << put.body;
        ++refused;
        ASSERT_EQ(readFile(source), text) << "round " << round << ": the author's save was overwritten";
        // The answer names the revision of the author's text, which the show now plays.
        const Json now = edit.get("/api/tracks/camz").json();
        EXPECT_EQ(put.json()["revision"], now["revision"]) << "round " << round;
        ASSERT_EQ(now["keys"].back(),
                  (Json{{"row", 99999}, {"value", round + 1000}, {"interpolation", "constant"}}))
            << "round " << round;
    }
    EXPECT_EQ(refused, raceRounds);
    // A page edit on the revision the 409 named goes through and keeps the author's lines.
    const Json current = edit.get("/api/tracks/camz").json();
    const std::string text = readFile(source);
    const Answer put = edit.put(
        "/api/tracks/camz",
        Json{{"revision", current["revision"]}, {"keys", withKeyChanged(current["keys"], 0, 70)}}.dump());
    ASSERT_EQ(put.status, 200) << put.body;
    EXPECT_EQ(changedLines(text, readFile(source)), 1);
    EXPECT_NE(readFile(source).find("\n0       70       linear\n"), std::string::npos) << readFile(source);
    EXPECT_EQ(built(edit, source), readFile(edit.file("data/science/sync_camz.track")));
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}

TEST(EditIntegrity, ABrokenCompiledFileKeepsTheKeysIsReportedAndAPageEditRepairsIt) {
    EditProcess edit;
    ASSERT_TRUE(edit.started()) << edit.errors();
    const std::string source = edit.file("data/science/src/camx.txt");
    const std::string compiled = edit.file("data/science/sync_camx.track");
    const std::string sourceBefore = readFile(source);
    const std::string compiledBefore = readFile(compiled);
    const Json track = edit.get("/api/tracks/camx").json();
    ASSERT_GT(track["keys"].size(), 100u);

    struct Breakage {
        const char* what;
        std::function<bool()> make;
        bool blocksTheSave; // nothing can be written in its place: the save fails and changes nothing
    };
    const std::vector<Breakage> breakages = {
        {"garbage",
         [&] {
             writeFile(compiled + ".new", "this is no track file at all");
             return renameOver(compiled + ".new", compiled);
         },
         false},
        {"a folder",
         [&] {
             VelmoraTest::removeAll(compiled);
             VelmoraTest::makeFolder(compiled);
             return true;
         },
         true},
        {"a FIFO",
         [&] {
             VelmoraTest::removeAll(compiled);
             return VelmoraTest::makeFifo(compiled);
         },
         true},
        {"nothing",
         [&] {
             VelmoraTest::removeAll(compiled);
             return true;
         },
         false},
    };
    Json keys = track["keys"];
    double value = 1.25;
    int edits = 0;
    for (const Breakage& breakage : breakages) {
        SCOPED_TRACE(breakage.what);
        if (!breakage.make()) {
            continue; // no FIFOs here
        }
        const std::string shown = "data/science/sync_camx.track";
        const Json state = edit.waitFor([&](const Json& s) { return !fileError(s, shown).is_null(); });
        const Json error = fileError(state, shown);
        ASSERT_FALSE(error.is_null()) << state.dump();
        EXPECT_FALSE(error.contains("track")) << "a broken compiled file does not stop the track's edits";
        EXPECT_FALSE(error["message"].get<std::string>().empty());
        Json now = edit.get("/api/tracks/camx").json();
        EXPECT_EQ(now["keys"], keys) << "the running keys stay";

        // One key edited from the page: the source keeps every other line, the compiled file is whole
        // again and the error goes.
        const Json edited = withKeyChanged(keys, 3, value);
        const std::string text = readFile(source);
        Answer put =
            edit.put("/api/tracks/camx", Json{{"revision", now["revision"]}, {"keys", edited}}.dump());
        if (breakage.blocksTheSave) {
            EXPECT_EQ(put.status, 500) << put.body;
            EXPECT_NE(put.json()["error"].get<std::string>().find("sync_camx.track"), std::string::npos);
            EXPECT_EQ(readFile(source), text);
            EXPECT_EQ(edit.get("/api/tracks/camx").json(), now);
            VelmoraTest::removeAll(compiled);
            now = edit.get("/api/tracks/camx").json();
            put = edit.put("/api/tracks/camx", Json{{"revision", now["revision"]}, {"keys", edited}}.dump());
        }
        ASSERT_EQ(put.status, 200) << put.body;
        keys = edited;
        ++edits;
        EXPECT_EQ(changedLines(text, readFile(source)), 1);
        EXPECT_EQ(built(edit, source), readFile(compiled));
        EXPECT_TRUE(
            fileError(edit.waitFor([&](const Json& s) { return fileError(s, shown).is_null(); }), shown)
                .is_null());
        value += 1.0;
    }
    EXPECT_GE(edits, 3);
    EXPECT_EQ(changedLines(sourceBefore, readFile(source)), 1);
    EXPECT_NE(readFile(compiled), compiledBefore);
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}

TEST(EditIntegrity, WhileASourceIsBrokenOnDiskPageEditsAreRefusedAndTheAuthorsTextStays) {
    EditProcess edit;
    ASSERT_TRUE(edit.started()) << edit.errors();
    const std::string source = edit.file("data/science/src/brightness.txt");
    const Json track = edit.get("/api/tracks/brightness").json();
    // The author changed one line and mistyped another.
    std::vector<std::string> lines = linesOf(readFile(source));
    ASSERT_EQ(lines[5], "256   0     linear");
    lines[5] = "256   0.5   linear";
    lines[7] = "280   O     constant";
    std::string typed;
    for (const std::string& line : lines) {
        typed += line + "\n";
    }
    writeFile(source, typed);
    const Json state = edit.waitFor([](const Json& s) { return !trackError(s, "brightness").is_null(); });
    const Json error = trackError(state, "brightness");
    ASSERT_FALSE(error.is_null()) << state.dump();
    EXPECT_EQ(error["file"], "data/science/src/brightness.txt");
    EXPECT_EQ(error["line"], 8);
    EXPECT_EQ(edit.get("/api/tracks/brightness").json()["keys"], track["keys"]) << "the show keeps its keys";

    // A page edit of that track, on the current revision: refused, naming the file and line.
    const Json now = edit.get("/api/tracks/brightness").json();
    const Answer put =
        edit.put("/api/tracks/brightness",
                 Json{{"revision", now["revision"]}, {"keys", withKeyChanged(now["keys"], 0, 2)}}.dump());
    EXPECT_EQ(put.status, 409) << put.body;
    EXPECT_EQ(put.json()["file"], "data/science/src/brightness.txt");
    EXPECT_EQ(put.json()["line"], 8);
    EXPECT_EQ(put.json()["revision"], now["revision"]);
    EXPECT_NE(put.json()["error"].get<std::string>().find("brightness.txt"), std::string::npos);
    EXPECT_EQ(readFile(source), typed) << "the author's text stays as typed";
    // Other tracks can still be edited.
    const Json other = edit.get("/api/tracks/darken").json();
    EXPECT_EQ(
        edit.put("/api/tracks/darken", Json{{"revision", other["revision"]}, {"keys", other["keys"]}}.dump())
            .status,
        200);

    // Fixed: the author's change is played, and the page may edit again.
    lines[7] = "280   0     constant";
    typed.clear();
    for (const std::string& line : lines) {
        typed += line + "\n";
    }
    writeFile(source, typed);
    const Json fixed = edit.waitFor([](const Json& s) { return trackError(s, "brightness").is_null(); });
    EXPECT_TRUE(trackError(fixed, "brightness").is_null());
    const Json reloaded = edit.get("/api/tracks/brightness").json();
    EXPECT_EQ(reloaded["keys"][1]["value"], 0.5);
    EXPECT_EQ(edit.put("/api/tracks/brightness", Json{{"revision", reloaded["revision"]},
                                                      {"keys", withKeyChanged(reloaded["keys"], 0, 780)}}
                                                     .dump())
                  .status,
              200);
    EXPECT_EQ(changedLines(typed, readFile(source)), 1);
    EXPECT_NE(readFile(source).find("0     780   constant\n"), std::string::npos) << readFile(source);

    // A source removed while running is reported, and edits wait until it is back.
    VelmoraTest::removeAll(source);
    const Json removed = trackError(
        edit.waitFor([](const Json& s) { return !trackError(s, "brightness").is_null(); }), "brightness");
    ASSERT_FALSE(removed.is_null());
    EXPECT_EQ(removed["file"], "data/science/src/brightness.txt");
    const Json last = edit.get("/api/tracks/brightness").json();
    EXPECT_EQ(edit.put("/api/tracks/brightness",
                       Json{{"revision", last["revision"]}, {"keys", last["keys"]}}.dump())
                  .status,
              409);
    EXPECT_FALSE(VelmoraTest::exists(source));
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}

TEST(EditIntegrity, ASaveKeepsTheAuthorsLayoutAndWritesPlainNumbers) {
    EditProcess edit;
    ASSERT_TRUE(edit.started()) << edit.errors();
    const std::string source = edit.file("data/science/src/brightness.txt");
    const std::string before = readFile(source);
    Json track = edit.get("/api/tracks/brightness").json();
    Answer put = edit.put(
        "/api/tracks/brightness",
        Json{{"revision", track["revision"]}, {"keys", withKeyChanged(track["keys"], 2, 70)}}.dump());
    ASSERT_EQ(put.status, 200) << put.body;
    EXPECT_EQ(changedLines(before, readFile(source)), 1);
    EXPECT_NE(readFile(source).find("\n258   70    linear\n"), std::string::npos) << readFile(source);

    // A key added and one removed: only their lines.
    track = edit.get("/api/tracks/brightness").json();
    Json keys = track["keys"];
    keys.erase(keys.begin() + 4);
    keys.push_back(Json{{"row", 4300}, {"value", 0.125}, {"interpolation", "smoothstep"}});
    const std::string edited = readFile(source);
    put = edit.put("/api/tracks/brightness", Json{{"revision", track["revision"]}, {"keys", keys}}.dump());
    ASSERT_EQ(put.status, 200) << put.body;
    const std::vector<std::string> a = linesOf(edited);
    const std::vector<std::string> b = linesOf(readFile(source));
    EXPECT_EQ(a.size(), b.size());
    int differing = 0;
    for (const std::string& line : b) {
        differing += std::find(a.begin(), a.end(), line) == a.end() ? 1 : 0;
    }
    EXPECT_EQ(differing, 1) << readFile(source);
    EXPECT_EQ(built(edit, source), readFile(edit.file("data/science/sync_brightness.track")));

    // Whatever GET returns, PUT takes back unchanged: the largest float included.
    track = edit.get("/api/tracks/brightness").json();
    keys = track["keys"];
    keys.push_back(Json{{"row", 4400}, {"value", 3.4028234663852886e38}, {"interpolation", "constant"}});
    put = edit.put("/api/tracks/brightness", Json{{"revision", track["revision"]}, {"keys", keys}}.dump());
    ASSERT_EQ(put.status, 200) << put.body;
    track = edit.get("/api/tracks/brightness").json();
    put = edit.put("/api/tracks/brightness",
                   Json{{"revision", track["revision"]}, {"keys", track["keys"]}}.dump());
    EXPECT_EQ(put.status, 200) << "a GET's keys sent back: " << put.body;
    EXPECT_EQ(edit.get("/api/tracks/brightness").json()["keys"], track["keys"]);
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}

#ifndef _WIN32
// A small file system of its own for data/science, filled up, with the old source held open (so
// that replacing it frees nothing): at every amount of space left, a save either goes through
// whole or leaves both files as they were, and the show plays what they hold.
TEST(EditIntegrity, OnAFullDiskASaveLeavesBothFilesAgreeing) {
    int status = 0;
    std::string science;
    bool mounted = false;
    auto mountScience = [&](const std::string& folder) {
        science = folder + "/data/science";
        fs::rename(science, folder + "/data/science.copy");
        fs::create_directories(science);
        runProgram("/bin/mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", science}, &status);
        mounted = status == 0;
        fs::copy(folder + "/data/science.copy", science, fs::copy_options::recursive);
    };
    EditProcess edit({"--paused"}, mountScience);
    if (!mounted) {
        GTEST_SKIP() << "needs root to mount a tmpfs";
    }
    struct Unmount {
        std::string path;
        ~Unmount() {
            int ignored = 0;
            runProgram("/bin/umount", {"-l", path}, &ignored);
        }
    } unmount{science};
    ASSERT_TRUE(edit.started()) << edit.errors();
    const std::string source = science + "/src/camx.txt";
    const std::string compiled = science + "/sync_camx.track";
    const std::string filler = science + "/filler";
    {
        std::ofstream fill(filler, std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), block.size()) && fill.flush()) {
        }
    }
    const std::uint64_t full = fs::file_size(filler);
    int saved = 0;
    int refused = 0;
    for (std::uint64_t room = 0; room <= 40 * 4096; room += 4096) {
        SCOPED_TRACE("room " + std::to_string(room));
        VelmoraTest::resizeFile(filler, full > room ? full - room : 0);
        std::ifstream held(source, std::ios::binary);
        const std::string sourceBefore = readFile(source);
        const std::string compiledBefore = readFile(compiled);
        const Json track = edit.get("/api/tracks/camx").json();
        const Answer put =
            edit.put("/api/tracks/camx", Json{{"revision", track["revision"]},
                                              {"keys", withKeyChanged(track["keys"], 5, 100.0 + room / 4096)}}
                                             .dump());
        ASSERT_TRUE(put.status == 200 || put.status == 500) << put.status << " " << put.body;
        if (put.status == 500) {
            ++refused;
            EXPECT_EQ(readFile(source), sourceBefore);
            EXPECT_EQ(readFile(compiled), compiledBefore);
            EXPECT_EQ(edit.get("/api/tracks/camx").json(), track);
            EXPECT_NE(put.json()["error"].get<std::string>().find("camx"), std::string::npos);
        } else {
            ++saved;
            EXPECT_EQ(edit.get("/api/tracks/camx").json()["keys"][5]["value"], 100.0 + room / 4096);
        }
        VelmoraTest::resizeFile(filler, full);
        EXPECT_EQ(built(edit, source), readFile(compiled)) << "the two files agree";
        for (const std::string& name : VelmoraTest::listFolder(science)) {
            EXPECT_EQ(name.find("velmora-save"), std::string::npos) << name << " left behind";
        }
        for (const std::string& name : VelmoraTest::listFolder(science + "/src")) {
            EXPECT_EQ(name.find("velmora-save"), std::string::npos) << name << " left behind";
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(saved, 0);
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}
#endif

TEST(EditIntegrity, TemporariesOfAKilledSaveGoAtTheNextStart) {
    const auto leave = [](const std::string& folder) {
        // Named as a save of a process that no longer runs (pid 1 is never ours, so use a pid far
        // beyond the system's range).
        writeFile(folder + "/data/science/src/.camx.txt-999999999-abcdef.velmora-save", "0 1 linear\n");
        writeFile(folder + "/data/science/.sync_camx.track-999999999-abcdef.velmora-save", "junk");
    };
    EditProcess edit({"--paused"}, leave);
    ASSERT_TRUE(edit.started()) << edit.errors();
    EXPECT_FALSE(VelmoraTest::exists(edit.file("data/science/src/.camx.txt-999999999-abcdef.velmora-save")));
    EXPECT_FALSE(
        VelmoraTest::exists(edit.file("data/science/.sync_camx.track-999999999-abcdef.velmora-save")));
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}
