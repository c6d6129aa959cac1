// Frame cost of the whole show at 1280x720 (particles + four full-screen passes + swap) with the
// offline clock, and the start-up time from opening the window to the first frame on screen.
//
// Runs on the real shaders and content of the source tree in a scratch folder; the choreography is
// data/science when it holds tracks, otherwise the golden-frame fixture (tests/demo/golden).
// VELMORA_BENCH_DATA=FOLDER measures another data folder instead.
// Run under Xvfb: xvfb-run -a -s "-screen 0 1920x1080x24" bench/demo/velmora_demo_bench
#include "base/Platform.h"
#include "player/Player.h"
#include "sync/TrackFile.h"

#include "tests/support/TestFiles.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int width = 1280;
constexpr int height = 720;

std::unique_ptr<Velmora::Player> player;

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void writeTracks(const fs::path& text, const fs::path& science) {
    std::ifstream in(text);
    std::map<std::string, std::vector<Velmora::TrackKey>> tracks;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line.substr(0, line.find('#')));
        std::string name;
        Velmora::TrackKey key;
        if (fields >> name >> key.row >> key.value >> key.interpolation) {
            tracks[name].push_back(key);
        }
    }
    for (const auto& track : tracks) {
        const std::vector<unsigned char> bytes = Velmora::TrackFile::encode(track.second);
        std::ofstream(science / ("sync_" + track.first + ".track"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

// A scratch ./data: the source tree's shaders and content, and a choreography.
fs::path prepareData() {
    // VELMORA_BENCH_DATA names another data folder to measure (shader experiments).
    const char* override = std::getenv("VELMORA_BENCH_DATA");
    const fs::path source = override != nullptr ? fs::path(override) : fs::path(VELMORA_SOURCE_DIR) / "data";
    static VelmoraTest::ScratchFolder scratch("bench");
    const fs::path root = fs::u8path(scratch.path);
    fs::create_directories(root / "data");
    for (const char* sub : {"shaders", "img", "raw"}) {
        VelmoraTest::linkOrCopy((source / sub).u8string(), (root / "data" / sub).u8string());
    }
    bool haveTracks = false;
    for (const fs::directory_entry& entry : fs::directory_iterator(source / "science")) {
        haveTracks = haveTracks || entry.path().extension() == ".track";
    }
    if (haveTracks) {
        VelmoraTest::linkOrCopy((source / "science").u8string(), (root / "data" / "science").u8string());
    } else {
        fs::create_directories(root / "data" / "science");
        writeTracks(fs::path(VELMORA_SOURCE_DIR) / "tests/demo/golden/tracks.txt", root / "data" / "science");
    }
    if (fs::exists(source / "sydaembient.mp3")) {
        VelmoraTest::linkOrCopy((source / "sydaembient.mp3").u8string(),
                                (root / "data" / "sydaembient.mp3").u8string());
    }
    fs::current_path(root);
    return root;
}

double processCpuMs() {
    return Velmora::processCpuSeconds() * 1000.0;
}

// The player's loop held at row(k), one frame of 1/30 s each, swapped; no window events.
Velmora::FrameLoop heldFrames(std::function<double(int64_t)> row) {
    Velmora::FrameLoop loop;
    loop.clock = Velmora::ClockPolicy::Held;
    loop.row = std::move(row);
    loop.warm.frames = 0;
    loop.step = 1.0 / 30.0;
    loop.events = false;
    loop.stopOnClose = false;
    return loop;
}

// `count` frames at row 0.
void framesAtTop(int count) {
    Velmora::FrameLoop loop = heldFrames([](int64_t) { return 0.0; });
    loop.frames = count;
    player->run(loop);
}

// 300 frames 1/30 s apart through the heart, the fetus and the effects; median frame time.
void BM_Frame1280x720(benchmark::State& state) {
    std::vector<double> times;
    const double cpuStart = processCpuMs();
    double row = 0.0;
    Clock::time_point start;
    Velmora::FrameLoop loop = heldFrames([&](int64_t) { return row; });
    loop.frame = [&](const Velmora::FrameInfo&) {
        if (!state.KeepRunning()) {
            return Velmora::FrameChoice::Stop;
        }
        start = Clock::now();
        return Velmora::FrameChoice::Draw;
    };
    loop.shown = [&](const Velmora::FrameInfo&) {
        const double ms = milliseconds(Clock::now() - start);
        state.SetIterationTime(ms / 1000.0);
        times.push_back(ms);
        row += 24.0 / 30.0 * 2.0; // two rows of choreography per frame: 300 frames cover 480 rows
    };
    player->run(loop);
    // CPU time of all threads (llvmpipe rasterises on its own): steadier than wall time on a busy
    // machine, and a measure of the work a frame takes.
    state.counters["cpu_ms_per_frame"] = (processCpuMs() - cpuStart) / static_cast<double>(times.size());
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["p90_ms"] = times[times.size() * 9 / 10];
}
BENCHMARK(BM_Frame1280x720)->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Valid standard descriptors and the heap tuning of the program itself.
    Velmora::prepareProcess();
    benchmark::Initialize(&argc, argv);
    const fs::path root = prepareData();

    // Start-up as the program does it: window, GL, vertex array, sync device, music, demo, first frame.
    const Clock::time_point start = Clock::now();
    Velmora::PlayerDesc desc;
    desc.width = width;
    desc.height = height;
    desc.title = "Velmora bench";
    desc.hidden = true;
    player = std::make_unique<Velmora::Player>(desc);
    if (fs::exists("data/sydaembient.mp3")) {
        player->openMusic(true);
    }
    const Clock::time_point opened = Clock::now();
    Clock::time_point built;
    Clock::time_point first;
    {
        // The show's console lines would drown the report: silence standard output while loading.
        VelmoraTest::SilencedOutput silenced;
        player->buildShow();
        built = Clock::now();
        framesAtTop(1);
        first = Clock::now();
    }

    char text[64];
    std::snprintf(text, sizeof(text), "%.0f", milliseconds(first - start));
    benchmark::AddCustomContext("startup_to_first_frame_ms", text);
    std::snprintf(text, sizeof(text), "%.0f", milliseconds(opened - start));
    benchmark::AddCustomContext("startup_window_gl_ms", text);
    std::snprintf(text, sizeof(text), "%.0f", milliseconds(built - opened));
    benchmark::AddCustomContext("startup_demo_build_ms", text);
    std::snprintf(text, sizeof(text), "%.0f", milliseconds(first - built));
    benchmark::AddCustomContext("startup_first_frame_ms", text);

    // Discard the first frames' one-off costs (llvmpipe compiles each shader at its first draw).
    framesAtTop(5);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    player.reset();
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
