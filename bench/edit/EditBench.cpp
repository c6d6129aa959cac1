// The edit mode's latencies, against a real `velmora --edit` at 1280x720 (run under an X server;
// with software GL, LIBGL_ALWAYS_SOFTWARE=1, and SDL_AUDIODRIVER=dummy):
//  - seek while paused until the new picture is on screen (the warm-up included);
//  - a saved track source, and a saved shader, until the first frame drawn with it;
//  - /api/state while the show renders, p50 and p99.
// Prints medians (and the p99 of the state latency) in milliseconds.
//   velmora_edit_bench [--size WxH] [--runs N]
#include "tests/edit/EditFixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

using namespace EditTest;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const size_t rank = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[rank];
}

// The state events of one stream, for waiting on a condition.
class States {
public:
    States(int port, const std::string& token) : client("127.0.0.1", port) {
        client.set_read_timeout(120, 0);
        reader = std::thread([this, token] {
            std::string pending;
            client.Get(("/api/events?token=" + token).c_str(),
                       [this, &pending](const char* data, size_t length) {
                           pending.append(data, length);
                           for (size_t end = pending.find("\n\n"); end != std::string::npos;
                                end = pending.find("\n\n")) {
                               const std::string event = pending.substr(0, end);
                               pending.erase(0, end + 2);
                               const size_t at = event.find("data: ");
                               if (event.rfind("event: ", 0) != 0 || at == std::string::npos) {
                                   continue;
                               }
                               const std::string name = event.substr(7, event.find('\n') - 7);
                               std::lock_guard<std::mutex> guard(lock);
                               const Json data = Json::parse(event.substr(at + 6), nullptr, false);
                               if (name == "state") {
                                   latest = data;
                               } else {
                                   others.push_back({name, data});
                               }
                               changed.notify_all();
                           }
                           return !done;
                       });
        });
    }
    ~States() {
        done = true;
        client.stop();
        reader.join();
    }
    // Waits for an event other than "state" whose data satisfies `ready`, from those after the
    // first `skip`; returns its data (discarded on timeout) and moves `skip` past it.
    template <typename Ready> Json waitForEvent(const std::string& name, Ready ready, size_t& skip) {
        std::unique_lock<std::mutex> guard(lock);
        Json found = Json::value_t::discarded;
        changed.wait_for(guard, std::chrono::seconds(30), [&] {
            for (; skip < others.size(); ++skip) {
                if (others[skip].first == name && ready(others[skip].second)) {
                    found = others[skip++].second;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    size_t eventCount() {
        std::lock_guard<std::mutex> guard(lock);
        return others.size();
    }
    template <typename Ready> bool waitFor(Ready ready, double seconds = 30.0) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::duration<double>(seconds),
                                [&] { return !latest.is_discarded() && ready(latest); });
    }

private:
    httplib::Client client;
    std::thread reader;
    std::mutex lock;
    std::condition_variable changed;
    Json latest = Json::value_t::discarded;
    std::vector<std::pair<std::string, Json>> others;
    std::atomic<bool> done{false};
};

} // namespace

int main(int argc, char** argv) {
    std::string size = "1280x720";
    int runs = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size") == 0) {
            size = argv[i + 1];
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    EditProcess edit({"--paused", "--size", size});
    if (!edit.started()) {
        std::fprintf(stderr, "velmora --edit did not start: %s\n", edit.errors().c_str());
        return 1;
    }
    States states(edit.port(), edit.token());

    // Seek while paused: from the request until the state says the picture at that row is drawn.
    std::vector<double> seeks;
    for (int i = 0; i < runs; ++i) {
        const double row = 300.0 + 331.0 * i;
        const Clock::time_point start = Clock::now();
        edit.transport({{"seek", row}});
        if (states.waitFor([row](const Json& s) { return s["drawnRow"].get<double>() == row; })) {
            seeks.push_back(millisecondsSince(start));
        }
    }

    // While playing: a saved track source, then a saved shader, until the first frame with it.
    edit.transport({{"seek", 600}});
    edit.transport({{"play", true}});
    std::vector<double> trackSaves;
    std::vector<double> shaderSaves;
    const std::string source = edit.file("data/science/src/hue.txt");
    const std::string shader = edit.file("data/shaders/bleh.fs");
    const std::string shaderText = readFile(shader);
    for (int i = 0; i < runs; ++i) {
        for (int kind = 0; kind < 2; ++kind) {
            size_t seen = states.eventCount();
            const Clock::time_point start = Clock::now();
            Json change;
            if (kind == 0) {
                writeFile(source, "0 " + std::to_string(i) + " linear\n4000 0.5 linear\n");
                change = states.waitForEvent(
                    "track", [](const Json& e) { return e["name"] == "hue"; }, seen);
            } else {
                writeFile(shader, shaderText + "// run " + std::to_string(i) + "\n");
                change = states.waitForEvent(
                    "reloaded", [](const Json& e) { return e["file"] == "data/shaders/bleh.fs"; }, seen);
            }
            if (change.is_discarded()) {
                continue;
            }
            // The first frame drawn after the change is the first with it.
            const long long applied = change["frame"].get<long long>();
            if (states.waitFor([applied](const Json& s) { return s["frame"].get<long long>() > applied; })) {
                (kind == 0 ? trackSaves : shaderSaves).push_back(millisecondsSince(start));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    // /api/state while the show renders.
    std::vector<double> stateLatency;
    for (int i = 0; i < 50 * runs; ++i) {
        const Clock::time_point start = Clock::now();
        edit.get("/api/state");
        stateLatency.push_back(millisecondsSince(start));
    }
    const Json last = edit.state();
    edit.stop();

    std::printf("edit bench: %s, %d runs, %.1f fps while playing\n", size.c_str(), runs,
                last["fps"].get<double>());
    std::printf("edit bench: seek while paused to the picture: median %.1f ms (%zu runs)\n",
                percentile(seeks, 0.5), seeks.size());
    std::printf("edit bench: track source saved to the first frame with it: median %.1f ms (%zu runs)\n",
                percentile(trackSaves, 0.5), trackSaves.size());
    std::printf("edit bench: shader saved to the first frame with it: median %.1f ms (%zu runs)\n",
                percentile(shaderSaves, 0.5), shaderSaves.size());
    std::printf("edit bench: /api/state while rendering: p50 %.2f ms, p99 %.2f ms (%zu requests)\n",
                percentile(stateLatency, 0.5), percentile(stateLatency, 0.99), stateLatency.size());
    return 0;
}
