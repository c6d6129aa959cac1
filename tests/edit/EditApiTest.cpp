// The edit mode end to end: a real `velmora --edit` under the test's X server, driven over HTTP.
// Transport, the picture while paused against the capture's, hot reload of shaders and tracks, the
// track API with its revisions, failed saves, and every rule of the server's security.
#include "tests/edit/EditFixture.h"

#include "base/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#ifndef VELMORA_TRACK_BINARY
#error "VELMORA_TRACK_BINARY must name velmora-track"
#endif

using namespace EditTest;
namespace fs = std::filesystem;

namespace {

constexpr double rowsPerSecond = 24.0;
// One device buffer of 1024 frames at 44100 Hz, in rows, and some slack for the dummy driver.
constexpr double bufferRows = 1024.0 / 44100.0 * rowsPerSecond * 1.5;

Json keys(std::initializer_list<std::tuple<int, double, const char*>> list) {
    Json array = Json::array();
    for (const auto& [row, value, interpolation] : list) {
        array.push_back(Json{{"row", row}, {"value", value}, {"interpolation", interpolation}});
    }
    return array;
}

// Collects the server-sent events of one stream on a thread of its own.
class EventStream {
public:
    EventStream(int port, const std::string& token) : client("127.0.0.1", port) {
        client.set_read_timeout(60, 0);
        reader = std::thread([this, token] {
            client.Get(("/api/events?token=" + token).c_str(), [this](const char* data, size_t length) {
                std::lock_guard<std::mutex> guard(lock);
                text.append(data, length);
                return !done;
            });
        });
        // Listening before the test goes on: the stream opens with the current state, and events
        // published before the server subscribed it would never arrive.
        listening = waitFor("state", "", 30.0);
    }
    ~EventStream() {
        done = true;
        client.stop();
        reader.join();
    }
    // Waits until the stream holds an event of that name whose data contains `needle`.
    bool waitFor(const std::string& name, const std::string& needle, double seconds = 20.0) {
        for (int i = 0; i < seconds * 100; ++i) {
            {
                std::lock_guard<std::mutex> guard(lock);
                for (size_t at = text.find("event: " + name + "\n"); at != std::string::npos;
                     at = text.find("event: " + name + "\n", at + 1)) {
                    const size_t end = text.find("\n\n", at);
                    if (end != std::string::npos &&
                        text.substr(at, end - at).find(needle) != std::string::npos) {
                        return true;
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    bool listening = false;

private:
    httplib::Client client;
    std::thread reader;
    std::mutex lock;
    std::string text;
    std::atomic<bool> done{false};
};

std::vector<double> evalTrack(const std::string& file, const std::vector<std::string>& rows) {
    std::vector<std::string> arguments = {"eval", file};
    arguments.insert(arguments.end(), rows.begin(), rows.end());
    int status = 0;
    const std::string text = runProgram(VELMORA_TRACK_BINARY, arguments, &status);
    EXPECT_EQ(status, 0) << text;
    std::vector<double> values;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        values.push_back(std::strtod(text.substr(at, end - at).c_str(), nullptr));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return values;
}

} // namespace

TEST(EditServer, RefusesWhatTheRulesRefuse) {
    EditProcess edit;
    ASSERT_TRUE(edit.started()) << edit.errors();
    EXPECT_EQ(edit.token().size(), 32u);
    const std::string port = std::to_string(edit.port());

    const Answer ok = edit.get("/api/state");
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.contentType, "application/json");
    // No token, a wrong one; the query form works where headers cannot be set.
    EXPECT_EQ(edit.get("/api/state", {{"X-Velmora-Token", ""}}).status, 401);
    EXPECT_EQ(edit.get("/api/state", {{"X-Velmora-Token", std::string(32, '0')}}).status, 401);
    EXPECT_EQ(edit.get("/api/state?token=" + edit.token(), {{"X-Velmora-Token", "wrong"}}).status, 401)
        << "the header decides when there is one";
    httplib::Client bare("127.0.0.1", edit.port());
    auto viaQuery = bare.Get(("/api/state?token=" + edit.token()).c_str());
    ASSERT_TRUE(viaQuery);
    EXPECT_EQ(viaQuery->status, 200);
    EXPECT_EQ(viaQuery->get_header_value("Access-Control-Allow-Origin"), "") << "no CORS headers";
    // DNS rebinding and other sites' pages.
    EXPECT_EQ(edit.get("/api/state", {{"Host", "evil.example:" + port}}).status, 403);
    EXPECT_EQ(edit.get("/api/state", {{"Host", "127.0.0.1:1"}}).status, 403);
    EXPECT_EQ(edit.get("/api/state", {{"Host", "localhost:" + port}}).status, 200);
    EXPECT_EQ(edit.get("/api/state", {{"Origin", "http://evil.example"}}).status, 403);
    EXPECT_EQ(edit.get("/api/state", {{"Origin", "http://localhost:" + port}}).status, 200);
    EXPECT_EQ(edit.get("/", {{"Host", "evil.example"}}).status, 403) << "the page too";
    // Sizes and types of bodies.
    const Answer big = edit.post("/api/transport", std::string(2 << 20, ' '));
    EXPECT_EQ(big.status, 413) << big.body;
    EXPECT_EQ(edit.post("/api/transport", "{\"play\": true}", "text/plain").status, 415);
    EXPECT_EQ(edit.put("/api/tracks/camx", "{}", "application/x-www-form-urlencoded").status, 415);
    // Names that are not tracks never reach the file system.
    EXPECT_EQ(edit.get("/api/tracks/nosuch").status, 404);
    EXPECT_EQ(edit.get("/api/tracks/..%2F..%2Fetc%2Fpasswd").status, 404);
    EXPECT_EQ(edit.get("/api/tracks/camx%2F..").status, 404);
    EXPECT_EQ(edit.get("/../data/sydaembient.mp3").status, 404);
    EXPECT_EQ(edit.get("/api/nosuch").status, 404);
    // The page itself needs no token.
    httplib::Client page("127.0.0.1", edit.port());
    auto index = page.Get("/");
    ASSERT_TRUE(index);
    EXPECT_EQ(index->status, 200);
    EXPECT_NE(index->get_header_value("Content-Type").find("text/html"), std::string::npos);
    EXPECT_EQ(edit.stop(), 0);
}

TEST(EditServer, BadRequestsChangeNothing) {
    EditProcess edit;
    ASSERT_TRUE(edit.started()) << edit.errors();
    const Json before = edit.state();
    const Json track = edit.get("/api/tracks/camx").json();
    for (const char* body :
         {"{", "[]", "{\"play\": 1}", "{\"seek\": \"NaN\"}", "{\"seek\": null}", "{\"jump\": 3}",
          "{\"play\": true, \"seek\": 3}", "{\"loop\": {\"from\": 100, \"to\": 100}}",
          "{\"loop\": {\"from\": 200, \"to\": 100}}", "{\"loop\": {\"from\": -5, \"to\": 100}}",
          "{\"loop\": {\"from\": 0}}", "{\"loop\": 3}"}) {
        const Answer answer = edit.post("/api/transport", body);
        EXPECT_EQ(answer.status, 400) << body;
        EXPECT_TRUE(answer.json().contains("error")) << answer.body;
        EXPECT_EQ(answer.body.find('\n'), std::string::npos) << "one line";
    }
    const std::string path = "/api/tracks/camx";
    const int revision = track["revision"].get<int>();
    for (const Json& body :
         {Json{{"keys", Json::array()}}, Json{{"revision", revision}},
          Json{{"revision", "1"}, {"keys", Json::array()}},
          Json{{"revision", revision}, {"keys", keys({{-1, 0.0, "constant"}})}},
          Json{{"revision", revision}, {"keys", keys({{1, 0.0, "cubic"}})}},
          Json{{"revision", revision}, {"keys", keys({{1, 1e39, "constant"}})}},
          Json{{"revision", revision}, {"keys", keys({{1, 0.0, "constant"}, {1, 2.0, "constant"}})}},
          Json{{"revision", revision}, {"keys", Json::array({Json{{"row", 1.5}, {"value", 0}}})}}}) {
        EXPECT_EQ(edit.put(path, body.dump()).status, 400) << body.dump();
    }
    EXPECT_EQ(edit.put(path, "{\"revision\": 1, \"keys\": [{\"row\": 0, \"value\": NaN}]}").status, 400);
    EXPECT_EQ(edit.get(path + "/values?from=0&to=1&step=0").status, 400);
    EXPECT_EQ(edit.get(path + "/values?from=5&to=1&step=1").status, 400);
    EXPECT_EQ(edit.get(path + "/values?from=0&to=1000000&step=1").status, 400);
    EXPECT_EQ(edit.get(path + "/values?from=nan&to=1&step=1").status, 400);
    EXPECT_EQ(edit.get("/api/audio/waveform?rowsPerBucket=0").status, 400);
    EXPECT_EQ(edit.get("/api/audio/waveform?rowsPerBucket=0.001").status, 400);
    EXPECT_EQ(edit.get("/api/audio/spectrum?row=x").status, 400);

    EXPECT_EQ(edit.get("/api/tracks/camx").json(), track);
    const Json after = edit.state();
    EXPECT_EQ(after["row"], before["row"]);
    EXPECT_EQ(after["loop"], before["loop"]);
    EXPECT_EQ(after["playing"], false);
    EXPECT_EQ(edit.stop(), 0);
}

TEST(EditTransport, PauseHoldsSeekLandsPlayMovesOnLoopWraps) {
    EditProcess edit({"--paused", "--from", "10"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    Json state = edit.state();
    EXPECT_EQ(state["row"].get<double>(), 240.0);
    EXPECT_EQ(state["playing"], false);
    EXPECT_EQ(state["rowsPerSecond"], 24.0);
    EXPECT_EQ(state["rowsPerBeat"], 8);
    EXPECT_NEAR(state["lengthRows"].get<double>(), 4352.0, 1.0);

    // Seeks land exactly while paused, and are clamped into the music.
    EXPECT_EQ(edit.transport({{"seek", 1000.5}})["row"].get<double>(), 1000.5);
    EXPECT_EQ(edit.transport({{"seek", -50}})["row"].get<double>(), 0.0);
    EXPECT_EQ(edit.transport({{"seek", 1e9}})["row"].get<double>(), state["lengthRows"].get<double>());
    edit.transport({{"seek", 500}});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(edit.state()["row"].get<double>(), 500.0) << "paused, the row holds exactly";

    // Playing moves forward from there; pausing holds again.
    state = edit.transport({{"play", true}});
    EXPECT_EQ(state["playing"], true);
    state = edit.waitFor([](const Json& s) { return s["row"].get<double>() > 510.0; });
    EXPECT_GT(state["row"].get<double>(), 510.0);
    const double paused = edit.transport({{"play", false}})["row"].get<double>();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(edit.state()["row"].get<double>(), paused);

    // A seek while playing reads its target at once and moves on within about one device buffer.
    edit.transport({{"play", true}});
    state = edit.transport({{"seek", 2000}});
    EXPECT_GE(state["row"].get<double>(), 2000.0);
    EXPECT_LT(state["row"].get<double>(), 2000.0 + bufferRows + 2.0);
    double previous = 2000.0;
    for (int i = 0; i < 20; ++i) {
        const double row = edit.state()["row"].get<double>();
        EXPECT_GE(row, previous) << "the clock went back without a seek";
        previous = row;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    // A loop of one bar wraps: the row stays inside it and comes round.
    state = edit.transport({{"loop", {{"from", 64}, {"to", 96}}}});
    EXPECT_EQ(state["loop"]["from"].get<double>(), 64.0);
    EXPECT_EQ(state["loop"]["to"].get<double>(), 96.0);
    edit.transport({{"seek", 90}});
    bool wrapped = false;
    previous = 90.0;
    for (int i = 0; i < 200 && !wrapped; ++i) {
        const double row = edit.state()["row"].get<double>();
        EXPECT_GE(row, 64.0);
        EXPECT_LE(row, 96.0 + bufferRows);
        wrapped = row < previous;
        previous = row;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(wrapped) << "the loop did not wrap";
    EXPECT_EQ(edit.transport({{"loop", nullptr}})["loop"], nullptr);
    EXPECT_EQ(edit.stop(), 0);
}

// The paused frame is drawn as the review tool and the golden frames draw a row: warm-up frames
// from a reset show. (A capture no longer does: it draws the show's global frames with the clocks
// of the whole show, which a row between frames does not have.)
TEST(EditTransport, APausedFrameIsTheReviewToolsFrameOfItsRow) {
    EditProcess edit({"--paused"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    // The music the scene reads at that row, and the picture.
    const Json spectrum = edit.get("/api/audio/spectrum?row=1999.5").json();
    ASSERT_EQ(spectrum["values"].size(), 512u);
    const Json state = edit.transport({{"seek", 1999.5}});
    edit.waitFor([](const Json& s) { return s["drawnRow"].get<double>() == 1999.5; });
    const Answer frame = edit.get("/api/frame.png");
    ASSERT_EQ(frame.status, 200);
    EXPECT_EQ(frame.contentType, "image/png");
    int width = 0;
    int height = 0;
    const std::vector<unsigned char> paused = decodePngRgb(frame.body, &width, &height);
    ASSERT_EQ(width, 320);
    ASSERT_EQ(height, 180);

    int status = 0;
    const std::string said = runProgram(
        VELMORA_SHOTS_BINARY, {"--size", "320x180", "--prefix", "shot-", "1999.5"}, &status, edit.root());
    ASSERT_EQ(status, 0) << said;
    const std::vector<unsigned char> captured = readPngRgb(edit.file("shot-1999.5.png"), &width, &height);
    ASSERT_EQ(captured.size(), paused.size());
    size_t differing = 0;
    double sum = 0.0;
    for (size_t i = 0; i < paused.size(); ++i) {
        differing += paused[i] != captured[i] ? 1 : 0;
        sum += paused[i];
    }
    EXPECT_EQ(differing, 0u) << "samples differ between the paused frame and the captured one";
    EXPECT_GT(sum / paused.size(), 1.0) << "the frame is black";
    EXPECT_EQ(edit.stop(), 0);
}

TEST(EditTransport, APreviewFrameIsTheFrameShrunkByAWholeFactor) {
    EditProcess edit({"--paused", "--from", "80"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    int width = 0;
    int height = 0;
    const std::vector<unsigned char> full = decodePngRgb(edit.get("/api/frame.png").body, &width, &height);
    ASSERT_EQ(width, 320);
    // At most 100 wide: a quarter, each pixel the mean of a 4x4 block (the picture is opaque).
    const Answer small = edit.get("/api/frame.png?width=100");
    ASSERT_EQ(small.status, 200);
    int w = 0;
    int h = 0;
    const std::vector<unsigned char> shrunk = decodePngRgb(small.body, &w, &h);
    ASSERT_EQ(w, 80);
    ASSERT_EQ(h, 45);
    int worst = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < 4; ++dy) {
                    for (int dx = 0; dx < 4; ++dx) {
                        sum += full[((y * 4 + dy) * width + x * 4 + dx) * 3 + c];
                    }
                }
                worst = std::max(worst, std::abs(shrunk[(y * w + x) * 3 + c] - (sum + 8) / 16));
            }
        }
    }
    EXPECT_EQ(worst, 0);
    // As wide or wider than the picture: the picture itself.
    EXPECT_EQ(edit.get("/api/frame.png?width=320").body.size(), edit.get("/api/frame.png").body.size());
    for (const char* bad : {"0", "-5", "1.5", "wide", "", "99999"}) {
        EXPECT_EQ(edit.get(std::string("/api/frame.png?width=") + bad).status, 400) << bad;
    }
    EXPECT_EQ(edit.stop(), 0);
}

TEST(EditReload, ABrokenShaderKeepsThePictureAndReportsFileAndLine) {
    EditProcess edit({"--paused", "--from", "60"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    EventStream events(edit.port(), edit.token());
    ASSERT_TRUE(events.listening);
    const std::string before = edit.get("/api/frame.png").body;
    const std::string path = edit.file("data/shaders/postproc.fs");
    const std::string good = readFile(path);
    // Line 3 gets something that is not GLSL; the file is saved the way editors do, by rename.
    std::string broken = good;
    size_t line3 = broken.find('\n', broken.find('\n') + 1) + 1;
    broken.insert(line3, "this is not glsl;\n");
    writeFile(path + ".swp", broken);
    ASSERT_TRUE(renameOver(path + ".swp", path));

    Json state = edit.waitFor([](const Json& s) { return !s["errors"].empty(); });
    ASSERT_FALSE(state["errors"].empty()) << state.dump();
    for (const Json& error : state["errors"]) {
        EXPECT_EQ(error["file"], "data/shaders/postproc.fs");
        EXPECT_EQ(error["line"], 3);
        EXPECT_FALSE(error["message"].get<std::string>().empty());
    }
    EXPECT_TRUE(events.waitFor("error", "postproc.fs"));
    EXPECT_TRUE(events.waitFor("reloaded", "\"ok\":false"));
    // Said once on the console, by the shader's own log line (below), not again on standard error;
    // the file and line are the page's to show.
    EXPECT_EQ(edit.errors().find("postproc.fs"), std::string::npos) << edit.errors();
    // The previous program still draws: the same picture after a redraw at the same row.
    edit.transport({{"seek", 1440}});
    edit.waitFor([](const Json& s) { return s["drawnRow"].get<double>() == 1440.0; });
    EXPECT_EQ(edit.get("/api/frame.png").body, before);

    // Fixed in place: the error goes.
    writeFile(path, good);
    state = edit.waitFor([](const Json& s) { return s["errors"].empty(); });
    EXPECT_TRUE(state["errors"].empty()) << state.dump();
    EXPECT_TRUE(events.waitFor("reloaded", "\"ok\":true"));
    EXPECT_EQ(edit.stop(), 0);
    const std::string output = edit.output();
    size_t logged = 0;
    for (size_t at = output.find("ERROR - "); at != std::string::npos; at = output.find("ERROR - ", at + 1)) {
        ++logged;
    }
    EXPECT_EQ(logged, 1u) << output;
    EXPECT_EQ(edit.errors().find("postproc.fs"), std::string::npos) << edit.errors();
}

TEST(EditTracks, EditsOnDiskByRenameAndThroughTheApiAllTakeEffect) {
    EditProcess edit({"--paused"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    EventStream events(edit.port(), edit.token());
    ASSERT_TRUE(events.listening);
    const std::string source = edit.file("data/science/src/hue.txt");
    const std::string compiled = edit.file("data/science/sync_hue.track");
    auto valuesAt = [&](const std::string& query) {
        return edit.get("/api/tracks/hue/values?" + query).json()["values"];
    };

    EXPECT_EQ(edit.get("/api/tracks/hue").json()["description"].get<std::string>().rfind("hue rotation", 0),
              0u)
        << "a track says what its source says it does";

    // Saved in place by a text editor.
    writeFile(source, "# hue: turns\n0 0.25 linear\n100 0.75 constant   # hold\n");
    ASSERT_TRUE(events.waitFor("track", "\"name\":\"hue\",\"revision\""));
    Json track = edit.get("/api/tracks/hue").json();
    EXPECT_EQ(track["keys"], keys({{0, 0.25, "linear"}, {100, 0.75, "constant"}}));
    EXPECT_EQ(track["description"], "turns");
    EXPECT_EQ(valuesAt("from=50&to=50&step=1")[0], 0.5);
    EXPECT_EQ(evalTrack(compiled, {"50"}), std::vector<double>{0.5})
        << "the compiled file follows its source";

    // Saved by rename; a broken one keeps the keys and names the line.
    writeFile(source + ".tmp", "0 1 linear\n8 oops constant\n");
    ASSERT_TRUE(renameOver(source + ".tmp", source));
    Json state = edit.waitFor([](const Json& s) { return !s["errors"].empty(); });
    ASSERT_FALSE(state["errors"].empty());
    EXPECT_EQ(state["errors"][0]["file"], "data/science/src/hue.txt");
    EXPECT_EQ(state["errors"][0]["line"], 2);
    EXPECT_EQ(edit.get("/api/tracks/hue").json()["keys"], track["keys"]);
    writeFile(source + ".tmp", "0 1 linear\n8 2 constant\n");
    ASSERT_TRUE(renameOver(source + ".tmp", source));
    state = edit.waitFor([](const Json& s) { return s["errors"].empty(); });
    EXPECT_TRUE(state["errors"].empty());
    EXPECT_EQ(valuesAt("from=4&to=4&step=1")[0], 1.5);

    // Through the API: both files written, the engine's values and the track tool agree.
    track = edit.get("/api/tracks/hue").json();
    const Json edited =
        keys({{0, 0.1, "smoothstep"}, {30, -2.5, "quadratic"}, {61, 3.0, "linear"}, {90, 0.0, "constant"}});
    Answer saved =
        edit.put("/api/tracks/hue", Json{{"revision", track["revision"]}, {"keys", edited}}.dump());
    ASSERT_EQ(saved.status, 200) << saved.body;
    EXPECT_NE(saved.json()["revision"], track["revision"]);
    EXPECT_TRUE(events.waitFor("track", "\"source\":\"api\""));
    EXPECT_EQ(edit.get("/api/tracks/hue").json()["keys"], edited);
    const Json values = valuesAt("from=0&to=100&step=0.25");
    std::vector<std::string> rows;
    for (int i = 0; i <= 400; ++i) {
        rows.push_back(std::to_string(i * 0.25));
    }
    const std::vector<double> evaluated = evalTrack(compiled, rows);
    ASSERT_EQ(values.size(), evaluated.size());
    for (size_t i = 0; i < evaluated.size(); ++i) {
        EXPECT_EQ(values[i].get<double>(), evaluated[i]) << "row " << rows[i];
    }
    const std::string text = readFile(source);
    EXPECT_NE(text.find("30  -2.5  quadratic"), std::string::npos) << text;
    int status = 0;
    runProgram(VELMORA_TRACK_BINARY, {"build", source, edit.file("rebuilt.track")}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(edit.file("rebuilt.track")), readFile(compiled))
        << "the source builds to the same file";

    // A stale revision is refused and changes nothing.
    const Answer stale =
        edit.put("/api/tracks/hue",
                 Json{{"revision", track["revision"]}, {"keys", keys({{0, 9.0, "constant"}})}}.dump());
    EXPECT_EQ(stale.status, 409);
    EXPECT_EQ(stale.json()["revision"], saved.json()["revision"]);
    EXPECT_EQ(edit.get("/api/tracks/hue").json()["keys"], edited);
    EXPECT_EQ(readFile(source), text);
    EXPECT_EQ(edit.stop(), 0);
}

TEST(EditTracks, AFailedSaveKeepsTheFilesAndTheRunningKeys) {
    EditProcess edit({"--paused"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    const std::string source = edit.file("data/science/src/darken.txt");
    const std::string compiled = edit.file("data/science/sync_darken.track");
    const std::string sourceBefore = readFile(source);
    const std::string compiledBefore = readFile(compiled);
    const Json track = edit.get("/api/tracks/darken").json();
    // The compiled file's place is taken by a folder: the source must not change alone.
    std::string moved;
    ASSERT_TRUE(Velmora::renameFile(compiled, compiled + ".aside", moved)) << moved;
    VelmoraTest::makeFolder(compiled);
    const Answer failed =
        edit.put("/api/tracks/darken",
                 Json{{"revision", track["revision"]}, {"keys", keys({{0, 1.0, "constant"}})}}.dump());
    EXPECT_EQ(failed.status, 500);
    EXPECT_NE(failed.json()["error"].get<std::string>().find("data/science/sync_darken.track"),
              std::string::npos)
        << failed.body;
    EXPECT_EQ(readFile(source), sourceBefore);
    EXPECT_EQ(edit.get("/api/tracks/darken").json(), track) << "the running keys and revision stay";
    VelmoraTest::removeAll(compiled);
    ASSERT_TRUE(renameOver(compiled + ".aside", compiled));
    EXPECT_EQ(readFile(compiled), compiledBefore);
    // The same edit can be sent again and now goes through.
    EXPECT_EQ(edit.put("/api/tracks/darken",
                       Json{{"revision", track["revision"]}, {"keys", keys({{0, 1.0, "constant"}})}}.dump())
                  .status,
              200);
    EXPECT_EQ(edit.stop(), 0);
}

TEST(EditServer, SoundAndTrackListAnswer) {
    EditProcess edit({"--paused"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    const Json tracks = edit.get("/api/tracks").json();
    ASSERT_EQ(tracks.size(), 36u);
    EXPECT_EQ(tracks[0]["name"], "camx");
    EXPECT_EQ(tracks[35]["name"], "e");
    EXPECT_EQ(tracks[35]["keys"].back()["value"], -1.0);
    const Json waveform = edit.get("/api/audio/waveform?rowsPerBucket=32").json();
    ASSERT_EQ(waveform["min"].size(), 136u);
    ASSERT_EQ(waveform["max"].size(), 136u);
    double loudest = 0.0;
    for (size_t i = 0; i < 136; ++i) {
        EXPECT_LE(waveform["min"][i].get<double>(), waveform["max"][i].get<double>());
        loudest = std::max(loudest, waveform["max"][i].get<double>());
    }
    EXPECT_GT(loudest, 0.1);
    EXPECT_EQ(edit.stop(), 0);
}

TEST(EditServer, ABusyPortIsAClearError) {
    EditProcess first({"--paused"});
    ASSERT_TRUE(first.started()) << first.errors();
    EditProcess second({"--paused", "--port", std::to_string(first.port())});
    EXPECT_FALSE(second.started());
    EXPECT_EQ(second.stop(), 1) << "it has ended by itself, with status 1";
    EXPECT_NE(second.errors().find("cannot listen on 127.0.0.1:" + std::to_string(first.port())),
              std::string::npos)
        << second.errors();
}
