// A few thousand random API calls from several clients at once, mixed with saves of track sources
// and shaders on disk (in place and by rename, as text editors do), sources saved broken and fixed
// again, and compiled files replaced by garbage, while the show plays: the program keeps answering,
// ends cleanly (under the sanitizers: no report), no save is lost, and at the end every source
// agrees with its compiled file and with what the show plays.
#include "tests/edit/EditFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#ifndef VELMORA_TRACK_BINARY
#error "VELMORA_TRACK_BINARY must name velmora-track"
#endif

using namespace EditTest;

namespace {

// Fewer rounds under the sanitizers, which run several times slower, so that the test stays well
// within its time limit on a loaded machine.
#if defined(__SANITIZE_ADDRESS__)
constexpr int clientRounds = 200;
constexpr int saverRounds = 60;
#else
constexpr int clientRounds = 600;
constexpr int saverRounds = 150;
#endif

// Tracks edited through the API, and others edited on disk, so each has one writer to compare with.
const char* const apiTracks[] = {"hue", "saturation", "brightness", "addconst"};
const char* const diskTracks[] = {"distR", "distSeed", "vhsConst"};

Json randomKeys(std::mt19937& random) {
    static const char* const kinds[] = {"constant", "linear", "smoothstep", "quadratic"};
    std::uniform_int_distribution<int> count(0, 12);
    std::uniform_int_distribution<int> row(0, 4400);
    std::uniform_real_distribution<double> value(-100.0, 100.0);
    std::map<int, Json> keys;
    for (int i = count(random); i > 0; --i) {
        const int at = row(random);
        // Three decimals: the float the engine keeps reads back as the same decimal.
        const double rounded = std::round(value(random) * 1000.0) / 1000.0;
        keys[at] = Json{{"row", at}, {"value", rounded}, {"interpolation", kinds[random() % 4]}};
    }
    Json list = Json::array();
    for (const auto& entry : keys) {
        list.push_back(entry.second);
    }
    return list;
}

} // namespace

TEST(EditSoak, RandomCallsAndFileSavesLoseNothing) {
    EditProcess edit({"--from", "30"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    const int port = edit.port();
    const std::string token = edit.token();

    std::mutex lock;
    // The last keys each API track was saved with, by revision.
    std::map<std::string, std::pair<long long, Json>> lastSaved;
    std::atomic<int> calls{0};
    std::atomic<int> failures{0};
    std::atomic<int> unanswered{0};

    auto client = [&](unsigned seed) {
        std::mt19937 random(seed);
        httplib::Client http("127.0.0.1", port);
        http.set_read_timeout(60, 0);
        const httplib::Headers headers = {{"X-Velmora-Token", token}};
        // 503 (the drawing thread did not take the request up within its 2 s, which a loaded machine
        // compiling shaders can cause) is allowed where the request waits for it: it changes nothing.
        auto check = [&](const httplib::Result& result, std::initializer_list<int> allowed,
                         const std::string& what) {
            calls++;
            if (result && result->status == 503) {
                ++unanswered;
            }
            const int status = result ? result->status : 0;
            for (int expected : allowed) {
                if (status == expected) {
                    return;
                }
            }
            failures++;
            ADD_FAILURE() << what << " answered " << status << (result ? ": " + result->body : "");
        };
        for (int i = 0; i < clientRounds; ++i) {
            switch (random() % 10) {
            case 0:
            case 1:
                check(http.Get("/api/state", headers), {200}, "state");
                break;
            case 2: {
                static const char* const commands[] = {R"({"play": true})",
                                                       R"({"play": false})",
                                                       R"({"seek": 700})",
                                                       R"({"seek": -3})",
                                                       R"({"loop": {"from": 640, "to": 704}})",
                                                       R"({"loop": null})",
                                                       R"({"seek": 4000})",
                                                       R"({"loop": {"from": 9, "to": 3}})",
                                                       R"({"seek": "x"})",
                                                       R"({"play": true})"};
                check(http.Post("/api/transport", headers, commands[random() % 10], "application/json"),
                      {200, 400, 503}, "transport");
                break;
            }
            case 3:
            case 4: {
                const std::string name = apiTracks[random() % 4];
                auto current = http.Get(("/api/tracks/" + name).c_str(), headers);
                check(current, {200}, "track");
                if (!current) {
                    break;
                }
                const long long revision = Json::parse(current->body)["revision"].get<long long>();
                const Json keys = randomKeys(random);
                auto saved =
                    http.Put(("/api/tracks/" + name).c_str(), headers,
                             Json{{"revision", revision}, {"keys", keys}}.dump(), "application/json");
                check(saved, {200, 409, 503}, "save " + name);
                if (saved && saved->status == 200) {
                    const long long now = Json::parse(saved->body)["revision"].get<long long>();
                    std::lock_guard<std::mutex> guard(lock);
                    if (lastSaved[name].first < now) {
                        lastSaved[name] = {now, keys};
                    }
                }
                break;
            }
            case 5:
                check(http.Get(("/api/tracks/" + std::string(apiTracks[random() % 4]) +
                                "/values?from=0&to=4000&step=7")
                                   .c_str(),
                               headers),
                      {200}, "values");
                break;
            case 6:
                check(http.Get("/api/audio/spectrum?row=1234.5", headers), {200}, "spectrum");
                break;
            case 7:
                check(http.Get("/api/audio/waveform?rowsPerBucket=16", headers), {200}, "waveform");
                break;
            case 8:
                check(http.Get("/api/frame.png", headers), {200, 503}, "frame");
                break;
            default:
                // Hostile or broken requests.
                check(http.Get("/api/tracks", {{"X-Velmora-Token", "nope"}}), {401}, "no token");
                check(http.Put("/api/tracks/hue", headers, "{\"revision\": [", "application/json"), {400},
                      "bad json");
                break;
            }
        }
    };

    // Saves on disk of the other tracks' sources (the last good one of each is kept; a broken one
    // is fixed by a later save), compiled files of the API's tracks replaced by garbage (repaired by
    // the next save), and shaders rewritten as they were.
    std::map<std::string, std::string> lastSource;
    std::map<std::string, bool> brokenSource;
    std::map<std::string, bool> brokenCompiled;
    auto saver = [&] {
        std::mt19937 random(99);
        const std::string shader = readFile(edit.file("data/shaders/dirblur.fs"));
        for (int i = 0; i < saverRounds; ++i) {
            const std::string name = diskTracks[random() % 3];
            std::string text = "# saved by the soak\n";
            for (const Json& key : randomKeys(random)) {
                text += std::to_string(key["row"].get<int>()) + " " +
                        std::to_string(key["value"].get<double>()) + " linear\n";
            }
            const bool broken = random() % 6 == 0;
            if (broken) {
                text += "77 not-a-number linear\n";
            }
            const std::string path = edit.file("data/science/src/" + name + ".txt");
            if (random() % 2 == 0) {
                writeFile(path, text);
            } else {
                writeFile(path + ".new", text);
                renameOver(path + ".new", path);
            }
            brokenSource[name] = broken;
            if (!broken) {
                lastSource[name] = text;
            }
            if (random() % 8 == 0) {
                const std::string track = apiTracks[random() % 4];
                const std::string compiled = edit.file("data/science/sync_" + track + ".track");
                writeFile(compiled + ".new", "garbage, not a track");
                renameOver(compiled + ".new", compiled);
                brokenCompiled[track] = true;
            }
            if (i % 25 == 0) {
                writeFile(edit.file("data/shaders/dirblur.fs"), shader);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
        }
        // The author fixes what is still broken: a source saved again, good.
        for (const auto& [name, broken] : brokenSource) {
            if (broken && lastSource.count(name) != 0) {
                writeFile(edit.file("data/science/src/" + name + ".txt"), lastSource[name]);
            }
        }
    };

    std::vector<std::thread> threads;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        threads.emplace_back(client, seed);
    }
    threads.emplace_back(saver);
    // Event streams come and go meanwhile.
    for (int i = 0; i < 10; ++i) {
        httplib::Client stream("127.0.0.1", port);
        int received = 0;
        stream.Get(("/api/events?token=" + token).c_str(),
                   [&](const char*, size_t) { return ++received < 5; });
        EXPECT_GT(received, 0);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // A compiled file still broken is rebuilt by saving its source again, as the error says.
    for (const auto& [name, broken] : brokenCompiled) {
        const std::string source = edit.file("data/science/src/" + name + ".txt");
        writeFile(source, readFile(source));
    }
    EXPECT_GE(calls.load(), 4 * clientRounds);
    EXPECT_EQ(failures.load(), 0);
    std::printf("[ figures  ] %d calls, %d answered 503\n", calls.load(), unanswered.load());

    // Every last save is what the show and the files hold.
    for (const auto& [name, saved] : lastSaved) {
        const Json track = edit.get("/api/tracks/" + name).json();
        EXPECT_EQ(track["revision"].get<long long>(), saved.first) << name;
        EXPECT_EQ(track["keys"], saved.second) << name;
    }
    for (const auto& [name, text] : lastSource) {
        EXPECT_EQ(readFile(edit.file("data/science/src/" + name + ".txt")), text);
    }
    // The disk saves settle: the show's keys are the last source's.
    const Json finalState = edit.waitFor([&](const Json&) {
        for (const auto& [name, text] : lastSource) {
            const Json keys = edit.get("/api/tracks/" + name).json()["keys"];
            int lines = 0;
            for (char c : text) {
                lines += c == '\n' ? 1 : 0;
            }
            if (static_cast<int>(keys.size()) != lines - 1) {
                return false;
            }
        }
        return true;
    });
    const Json settled = edit.waitFor([](const Json& state) { return state["errors"].empty(); });
    EXPECT_TRUE(settled["errors"].empty()) << settled.dump();
    (void)finalState;

    // Every source builds to its compiled file, and the show plays what the compiled file says.
    std::vector<std::string> names(std::begin(apiTracks), std::end(apiTracks));
    names.insert(names.end(), std::begin(diskTracks), std::end(diskTracks));
    for (const std::string& name : names) {
        const std::string source = edit.file("data/science/src/" + name + ".txt");
        const std::string compiled = edit.file("data/science/sync_" + name + ".track");
        int status = 0;
        runProgram(VELMORA_TRACK_BINARY, {"build", source, edit.file("built.track")}, &status);
        EXPECT_EQ(status, 0) << name;
        EXPECT_EQ(readFile(edit.file("built.track")), readFile(compiled))
            << name << ": source and compiled file";
        std::vector<std::string> arguments = {"eval", compiled};
        for (int row = 0; row <= 4400; row += 37) {
            arguments.push_back(std::to_string(row));
        }
        const std::string evaluated = runProgram(VELMORA_TRACK_BINARY, arguments, &status);
        const Json played =
            edit.get("/api/tracks/" + name + "/values?from=0&to=4400&step=37").json()["values"];
        std::string shown;
        for (const Json& value : played) {
            char text[64];
            std::snprintf(text, sizeof text, "%.9g\n", value.is_null() ? 0.0 : value.get<double>());
            shown += text;
        }
        std::string expected;
        for (std::size_t at = 0; at < evaluated.size();) {
            const std::size_t end = evaluated.find('\n', at);
            char text[64];
            std::snprintf(text, sizeof text, "%.9g\n",
                          std::strtod(evaluated.substr(at, end - at).c_str(), nullptr));
            expected += text;
            at = end == std::string::npos ? evaluated.size() : end + 1;
        }
        EXPECT_EQ(shown, expected) << name << ": what the show plays";
    }
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
    for (const std::string& leak : edit.leaksOfOurs()) {
        ADD_FAILURE() << "a leak through our code:\n" << leak;
    }
}
