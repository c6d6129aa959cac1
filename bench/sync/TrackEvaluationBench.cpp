// Cost of evaluating a track: valueAt on a 1,000-key track at rows spread over the whole track,
// and the same through a SyncTrack handle (row source call included). The "allocs" counter
// counts operator new calls during the timed loop; it must stay 0.
#include "sync/SyncDevice.h"
#include "sync/SyncTrack.h"
#include "sync/TrackData.h"
#include "tests/support/ReplacedNewDelete.h"

#include "tests/support/TestFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

static std::size_t allocations = 0;

void noteAllocation(std::size_t) {
    ++allocations;
}

namespace {

constexpr int keyCount = 1000;
constexpr std::size_t rowCount = 4096; // a power of two, cycled through

Velmora::TrackData makeTrack() {
    Velmora::TrackData track;
    track.name = "bench";
    std::mt19937 random(1);
    std::int32_t row = 0;
    for (int k = 0; k < keyCount; ++k) {
        track.keys.push_back({row, float(random() % 1000) / 10.0f, std::int32_t(k % 4)});
        row += 1 + std::int32_t(random() % 16);
    }
    return track;
}

std::vector<double> makeRows(const Velmora::TrackData& track) {
    std::mt19937 random(2);
    std::uniform_real_distribution<double> anyRow(-10.0, track.keys.back().row + 10.0);
    std::vector<double> rows(rowCount);
    for (double& row : rows) {
        row = anyRow(random);
    }
    return rows;
}

void valueAtThousandKeys(benchmark::State& state) {
    const Velmora::TrackData track = makeTrack();
    const std::vector<double> rows = makeRows(track);
    std::size_t i = 0;
    const std::size_t before = allocations;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Velmora::valueAt(track, rows[i++ & (rowCount - 1)]));
    }
    state.counters["allocs"] = double(allocations - before);
}
BENCHMARK(valueAtThousandKeys);

void handleValueThousandKeys(benchmark::State& state) {
    VelmoraTest::ScratchFolder scratch("sync-bench");
    const std::string folder = scratch.path;
    const Velmora::TrackData source = makeTrack();
    const std::string path = folder + "/sync_bench.track";
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        const std::int32_t header[2] = {keyCount, 0};
        std::fwrite(header, sizeof header, 1, out);
        for (const Velmora::TrackKey& key : source.keys) {
            const signed char code = static_cast<signed char>(key.interpolation);
            std::fwrite(&key.row, 4, 1, out);
            std::fwrite(&key.value, 4, 1, out);
            std::fwrite(&code, 1, 1, out);
        }
        std::fclose(out);
    }
    Velmora::SyncDevice device(folder + "/sync");
    const Velmora::SyncTrack track(device, "bench");
    if (track.data().keyCount() != keyCount) {
        state.SkipWithError("track did not load");
        return;
    }
    const std::vector<double> rows = makeRows(source);
    std::size_t i = 0;
    device.setRowSource([&rows, &i] { return rows[i++ & (rowCount - 1)]; });
    const std::size_t before = allocations;
    for (auto _ : state) {
        benchmark::DoNotOptimize(track.value());
    }
    state.counters["allocs"] = double(allocations - before);
}
BENCHMARK(handleValueThousandKeys);

} // namespace

BENCHMARK_MAIN();
