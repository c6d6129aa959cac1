// The data folder's check: `velmora --check` on good and broken folders, the off-screen runs
// refusing a broken show before they make anything, the show itself with FIFOs in its files' place,
// and the list of files the check knows against what the scene really loads (GL, in this process).
#include "app/check/DataCheck.h"
#include "engine/ShaderProgram.h"
#include "player/Player.h"
#include "sync/SyncDevice.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ShowFixture.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using CaptureTest::ShowFixture;

namespace {

std::unique_ptr<Velmora::Player> testPlayer;

ShowFixture& fixture() {
    static std::unique_ptr<ShowFixture> show = std::make_unique<ShowFixture>();
    return *show;
}

using Result = VelmoraTest::RunResult;

// Runs the program with the fixed words of `arguments` in `folder` (default: the fixture's) under
// a time limit.
Result velmora(const std::string& arguments, const std::string& folder = "") {
    VelmoraTest::RunOptions options;
    options.workingDirectory = folder.empty() ? fixture().root() : folder;
    options.timeoutSeconds = 120.0;
    return VelmoraTest::runProgram(VELMORA_BINARY, CaptureTest::words(arguments), options);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

int countLines(const std::string& text, const std::string& part) {
    int count = 0;
    for (const std::string& line : lines(text)) {
        count += line.find(part) != std::string::npos ? 1 : 0;
    }
    return count;
}

struct Key {
    int32_t row;
    float value;
    int8_t interpolation;
};

void writeTrack(const std::string& path, const std::vector<Key>& keys, int32_t count = -1) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const int32_t header[2] = {count >= 0 ? count : static_cast<int32_t>(keys.size()), 0};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (const Key& key : keys) {
        out.write(reinterpret_cast<const char*>(&key.row), 4);
        out.write(reinterpret_cast<const char*>(&key.value), 4);
        out.write(reinterpret_cast<const char*>(&key.interpolation), 1);
    }
}

// A copy of the fixture's data (the shaders as files of its own) in a fresh folder.
class DataCopy {
public:
    DataCopy() { CaptureTest::runShell("cp -rL '" + fixture().root() + "/data' '" + folder.path + "/data'"); }
    std::string root() const { return folder.path; }
    std::string file(const std::string& name) const { return folder.path + "/data/" + name; }
    std::vector<std::string> entries() const { return CaptureTest::listFolder(folder.path); }

private:
    CaptureTest::ScratchFolder folder;
};

// A shader with a compile error on line 3.
void breakShader(const std::string& path) {
    CaptureTest::writeFile(path,
                           "#version 330 core\nout vec4 colour;\nvoid main() { colour = vec4(1.0) +; }\n");
}

} // namespace

TEST(DataCheck, AGoodFolderPassesWithItsSummaryAndWarnsOfTracksWithoutFiles) {
    Result result = velmora("--check");
    EXPECT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(lines(result.out).size(), 1u) << result.out;
    EXPECT_EQ(result.out.rfind(
                  "velmora: data checked: 5 shader programs, 1 sprite, 4 point clouds, 14 of 36 tracks, "
                  "music 3.000 s, the show ends at 2.500 s: no problems, 22 warnings",
                  0),
              0u)
        << result.out;
    // The made-up show has 14 of the scene's tracks: one warning line for each of the others.
    EXPECT_EQ(countLines(result.err, ": warning: no file for the track"), 22) << result.err;
    EXPECT_EQ(lines(result.err).size(), 22u) << result.err;
    EXPECT_NE(result.err.find("./data/science/sync_hue.track: warning: no file for the track \"hue\""),
              std::string::npos);

    EXPECT_EQ(velmora("--check --capture x").status, 2);
    EXPECT_EQ(velmora("--check --size 64x36").status, 2);
}

TEST(DataCheck, EveryProblemIsOneLineNamingTheFileAndStatusIsOne) {
    DataCopy copy;
    breakShader(copy.file("shaders/bleh.fs"));
    std::remove(copy.file("raw/heart_1.bin").c_str());
    CaptureTest::writeFile(copy.file("raw/jooh.txt"), "1 2 3\n4 five 6\n7 8 9\n");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    writeTrack(copy.file("science/sync_camx.track"), {{10, 1.0f, 0}, {5, 2.0f, 0}});
    writeTrack(copy.file("science/sync_camy.track"), {{0, nan, 1}});
    writeTrack(copy.file("science/sync_camz.track"), {{0, 1.0f, 9}});
    writeTrack(copy.file("science/sync_fov.track"), {{0, 60.0f, 0}, {10, 50.0f, 0}}, 3);
    writeTrack(copy.file("science/sync_Fov.track"), {{0, 60.0f, 0}});
    // The end track never goes below 0: the show would never end by itself.
    writeTrack(copy.file("science/sync_e.track"), {{0, 0.0f, 0}});
    // A FIFO and a sparse 2 GB file: refused at once, not waited on or read.
    ASSERT_EQ(mkfifo(copy.file("science/sync_hue.track").c_str(), 0600), 0);
    CaptureTest::writeFile(copy.file("science/sync_sikio.track"), "");
    ASSERT_EQ(truncate(copy.file("science/sync_sikio.track").c_str(), 2100000000LL), 0);

    Result result = velmora("--check", copy.root());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    const std::vector<std::string> expected = {
        "./data/shaders/bleh.fs:3: error: ",
        "./data/raw/heart_1.bin: error: missing (No such file or directory)",
        "./data/raw/jooh.txt:2: error: expected three finite numbers",
        "./data/science/sync_camx.track: error: key 1 (row 5) is not after the key before it",
        "./data/science/sync_camy.track: error: key 0 (row 0) has a value that is not a finite number",
        "./data/science/sync_camz.track: error: key 0 (row 0) has the unknown interpolation code 9",
        "./data/science/sync_fov.track: error: the key count says 3 keys but only 2 are complete",
        "./data/science/sync_Fov.track: warning: the show reads no track \"Fov\"",
        "./data/science/sync_e.track: error: the end track does not go below 0 before the music ends",
        "./data/science/sync_hue.track: error: is not a regular file",
        "./data/science/sync_sikio.track: error: is larger than the limit of 67108864 bytes",
    };
    for (const std::string& line : expected) {
        EXPECT_EQ(countLines(result.err, line), 1) << line << "\n" << result.err;
    }
    for (const std::string& line : lines(result.err)) {
        EXPECT_EQ(line.rfind("./data/", 0), 0u) << line;
    }
}

TEST(DataCheck, ATrackThatDisagreesWithItsSourceIsNamedWithBoth) {
    DataCopy copy;
    CaptureTest::runShell("mkdir -p '" + copy.file("science/src") + "'");
    // camx agrees with its source; camy was left behind by a save that failed halfway; camz's
    // source does not parse.
    writeTrack(copy.file("science/sync_camx.track"), {{0, 1.0f, 1}, {8, 2.5f, 0}});
    CaptureTest::writeFile(copy.file("science/src/camx.txt"),
                           "# camx\n0 1 linear\n8  2.5  constant  # hold\n");
    writeTrack(copy.file("science/sync_camy.track"), {{0, 1.0f, 1}});
    CaptureTest::writeFile(copy.file("science/src/camy.txt"), "0 1 linear\n16 3 linear\n");
    CaptureTest::writeFile(copy.file("science/src/camz.txt"), "0 1 linear\n8 oops linear\n");
    Result result = velmora("--check", copy.root());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(countLines(result.err, "sync_camx.track"), 0) << result.err;
    EXPECT_EQ(countLines(result.err, "./data/science/sync_camy.track: error: does not agree with its source "
                                     "./data/science/src/camy.txt"),
              1)
        << result.err;
    EXPECT_EQ(countLines(result.err, "./data/science/src/camz.txt: error: line 2: "), 1) << result.err;
}

TEST(DataCheck, AProblemIsOneLineWhateverTheDriverSaid) {
    EXPECT_EQ(Velmora::formatProblem({"./data/shaders/a.fs", 0, "link failed:\r\nout of\nregisters", false}),
              "./data/shaders/a.fs: error: link failed: / out of / registers");
    EXPECT_EQ(Velmora::formatProblem({"./data/science/sync_x.track", 0, "unread", true}),
              "./data/science/sync_x.track: warning: unread");
    EXPECT_EQ(Velmora::formatProblem({"f", 12, "m", false}), "f:12: error: m");
}

TEST(DataCheck, OffscreenRunsRefuseABrokenShowBeforeMakingAnything) {
    struct Case {
        const char* what;
        std::function<void(const DataCopy&)> breakIt;
        std::string named;
    };
    const std::vector<Case> cases = {
        {"a missing shader", [](const DataCopy& copy) { std::remove(copy.file("shaders/bleh.fs").c_str()); },
         "./data/shaders/bleh.fs: error: missing"},
        {"a shader that does not compile",
         [](const DataCopy& copy) { breakShader(copy.file("shaders/postproc.fs")); },
         "./data/shaders/postproc.fs:3: error: "},
        {"a missing sprite", [](const DataCopy& copy) { std::remove(copy.file("img/foo.png").c_str()); },
         "./data/img/foo.png: error: missing"},
        {"a sprite that is no picture",
         [](const DataCopy& copy) { CaptureTest::writeFile(copy.file("img/foo.png"), "x"); },
         "./data/img/foo.png: error: cannot be decoded"},
        {"a missing point cloud",
         [](const DataCopy& copy) { std::remove(copy.file("raw/fetus_512.bin").c_str()); },
         "./data/raw/fetus_512.bin: error: missing"},
        {"an empty point cloud",
         [](const DataCopy& copy) { CaptureTest::writeFile(copy.file("raw/jooh.txt"), ""); },
         "./data/raw/jooh.txt: error: holds no point"},
        {"a missing soundtrack",
         [](const DataCopy& copy) { std::remove(copy.file("sydaembient.mp3").c_str()); },
         "./data/sydaembient.mp3: error: missing"},
        {"a FIFO as a track",
         [](const DataCopy& copy) { mkfifo(copy.file("science/sync_hue.track").c_str(), 0600); },
         "./data/science/sync_hue.track: error: is not a regular file"},
        {"a huge track",
         [](const DataCopy& copy) {
             CaptureTest::writeFile(copy.file("science/sync_fov.track"), "");
             truncate(copy.file("science/sync_fov.track").c_str(), 2100000000LL);
         },
         "./data/science/sync_fov.track: error: is larger than the limit"},
    };
    for (const Case& broken : cases) {
        for (const char* run :
             {"--capture out --size 160x90 --fps 10", "--timedemo --size 160x90 --fps 10"}) {
            SCOPED_TRACE(std::string(broken.what) + ", " + run);
            DataCopy copy;
            broken.breakIt(copy);
            Result result = velmora(run, copy.root());
            EXPECT_EQ(result.status, 1) << result.err;
            EXPECT_NE(result.err.find("velmora: " + broken.named), std::string::npos) << result.err;
            EXPECT_EQ(result.out.find("timedemo: frames"), std::string::npos);
            EXPECT_EQ(copy.entries(), std::vector<std::string>{"data"}) << "something was created";
        }
    }
    // A track without a file is what the design makes it: an empty track, not a failure.
    DataCopy copy;
    std::remove(copy.file("science/sync_fov.track").c_str());
    Result result = velmora("--capture out.mp4 --size 160x90 --fps 10 --to 0.5", copy.root());
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST(DataCheck, TheShowNeverWaitsOnAFifoInAFilesPlace) {
    // The sprite and the soundtrack are fatal when they cannot be read, and say so at once; a track
    // reads as empty. "e" ends the show at once, so a run that does not hang ends with status 0.
    struct Case {
        std::string file;
        int status;
    };
    for (const Case& fifo : {Case{"img/foo.png", 1}, Case{"sydaembient.mp3", 1},
                             Case{"science/sync_hue.track", 0}, Case{"shaders/dirblur.fs", 0}}) {
        SCOPED_TRACE(fifo.file);
        DataCopy copy;
        writeTrack(copy.file("science/sync_e.track"), {{0, -1.0f, 0}});
        std::remove(copy.file(fifo.file).c_str());
        ASSERT_EQ(mkfifo(copy.file(fifo.file).c_str(), 0600), 0);
        Result result = velmora("--windowed --size 64x36", copy.root());
        EXPECT_EQ(result.status, fifo.status) << result.err; // timeout's 124 when it hangs
    }
}

TEST(DataCheckGl, TheListOfFilesIsWhatTheSceneLoads) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(fixture().root().c_str()), 0);
    {
        testPlayer->buildShow();
        const Demo::ShowData& show = Demo::showData();
        std::set<std::pair<std::string, std::string>> loaded;
        for (const Velmora::ShaderProgram* program : Velmora::ShaderProgram::all()) {
            loaded.emplace(program->fragmentFile(), program->vertexFile());
        }
        using Programs = std::set<std::pair<std::string, std::string>>;
        EXPECT_EQ(loaded, Programs(show.programs.begin(), show.programs.end()));
        Velmora::SyncDevice& sync = Velmora::SyncDevice::instance();
        EXPECT_EQ(sync.basePath(), show.trackBase);
        const std::size_t count = sync.trackCount();
        EXPECT_EQ(count, show.tracks.size());
        for (const std::string& name : show.tracks) {
            sync.getTrack(name.c_str());
            EXPECT_EQ(sync.trackCount(), count) << "the scene does not read the track " << name;
        }
        // Every program of the real show links; the list of problems is empty.
        EXPECT_TRUE(Velmora::unlinkedProgramProblems().empty());
    }
    ASSERT_EQ(chdir(previous), 0);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    try {
        Velmora::PlayerDesc desc;
        desc.width = 160;
        desc.height = 90;
        desc.title = "Velmora check tests";
        desc.hidden = true;
        testPlayer = std::make_unique<Velmora::Player>(desc);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "no GL context: %s\n", error.what());
        return 1;
    } catch (const char* message) {
        std::fprintf(stderr, "no GL context: %s\n", message);
        return 1;
    }
    const int status = RUN_ALL_TESTS();
    // The show's GL objects go while the context still exists.
    testPlayer.reset();
    return status;
}
