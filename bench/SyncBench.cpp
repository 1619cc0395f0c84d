// Costs of the sync library: evaluating a large track, applying a flood of
// key edits from the editor over loopback, and saving the edited tracks.

#include "SyncTesting.h"
#include "TestEditor.h"
#include "sync.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

using namespace Tolvane::Testing;

namespace {

constexpr int TRACKS = 10;
constexpr int KEYS = 10000;

// sync_get_val on a 10,000-key track, at rows spread over the whole track.
void BM_GetValOnTenThousandKeys(benchmark::State& state) {
    sync_track track{};
    for (int i = 0; i < KEYS; ++i)
        sync_set_key(&track, {i * 4, float(i % 17), key_type(i % 4)});
    std::vector<double> rows;
    for (int i = 0; i < 4096; ++i)
        rows.push_back(double((i * 7919L) % (KEYS * 4)) + 0.37);

    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sync_get_val(&track, rows[i]));
        i = (i + 1) & 4095;
    }
    sync_clear_keys(&track);
}
BENCHMARK(BM_GetValOnTenThousandKeys);

// The SET_KEY messages of 10 tracks with 10,000 ascending keys each, as the
// editor sends them when a player links to it.
TestEditor::Bytes keyFlood() {
    TestEditor::Bytes bytes;
    bytes.reserve(size_t(TRACKS) * KEYS * 14);
    for (uint32_t t = 0; t < TRACKS; ++t)
        for (int k = 0; k < KEYS; ++k) {
            TestEditor::Bytes m = TestEditor::encodeSetKey(t, k * 2, float(k), uint8_t(k % 4));
            bytes.insert(bytes.end(), m.begin(), m.end());
        }
    return bytes;
}

sync_device* linkedDevice(TestEditor& editor) {
    sync_device* device = sync_create_device("sync");
    for (int t = 0; t < TRACKS; ++t)
        sync_get_track(device, ("track" + std::to_string(t)).c_str());
    if (sync_tcp_connect(device, "127.0.0.1", editor.port()) != 0 || !editor.waitForClient() ||
        !editor.waitForTrackRequests(TRACKS)) {
        sync_destroy_device(device);
        return nullptr;
    }
    return device;
}

// sync_update applying 100,000 SET_KEY messages sent by the test editor.
void BM_UpdateAppliesHundredThousandKeys(benchmark::State& state) {
    TempDir scratch;
    scratch.enter();
    TestEditor editor(0);
    const TestEditor::Bytes flood = keyFlood();
    for (auto _ : state) {
        state.PauseTiming();
        sync_device* device = linkedDevice(editor);
        if (!device) {
            state.SkipWithError("cannot link to the test editor");
            break;
        }
        const sync_track* last = device->tracks[TRACKS - 1];
        state.ResumeTiming();

        editor.post(flood);
        while (last->key_count < KEYS)
            if (sync_update(device, 0, nullptr, nullptr) != 0)
                break;

        state.PauseTiming();
        if (last->key_count < KEYS)
            state.SkipWithError("the link dropped");
        sync_destroy_device(device);
        editor.waitForDisconnect();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * TRACKS * KEYS);
}
BENCHMARK(BM_UpdateAppliesHundredThousandKeys)->Unit(benchmark::kMillisecond)->UseRealTime();

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) * 1e-6;
}

// 400,000 keys sent in descending row order (each one lands before all
// the others): the whole flood, and the longest single update, which the
// link's budget keeps near 10 ms however much is waiting.
void BM_UpdateAppliesFourHundredThousandDescendingKeys(benchmark::State& state) {
    constexpr int FLOOD = 400000;
    TempDir scratch;
    scratch.enter();
    TestEditor editor(0);
    TestEditor::Bytes flood;
    flood.reserve(size_t(FLOOD) * 14);
    for (int k = FLOOD - 1; k >= 0; --k) {
        TestEditor::Bytes m = TestEditor::encodeSetKey(0, k, float(k), 1);
        flood.insert(flood.end(), m.begin(), m.end());
    }
    double longest = 0.0;    // wall clock: includes being preempted
    double longestCpu = 0.0; // the work itself
    int64_t updates = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sync_device* device = sync_create_device("sync");
        sync_get_track(device, "track");
        if (sync_tcp_connect(device, "127.0.0.1", editor.port()) != 0 ||
            !editor.waitForTrackRequests(1)) {
            state.SkipWithError("cannot link to the test editor");
            sync_destroy_device(device);
            break;
        }
        state.ResumeTiming();

        editor.post(flood);
        while (device->tracks[0]->key_count < FLOOD) {
            const auto start = std::chrono::steady_clock::now();
            const double startCpu = threadCpuMs();
            if (sync_update(device, 0, nullptr, nullptr) != 0)
                break;
            longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
            longestCpu = std::max(longestCpu, threadCpuMs() - startCpu);
            ++updates;
        }

        state.PauseTiming();
        if (device->tracks[0]->key_count < FLOOD)
            state.SkipWithError("the link dropped");
        sync_destroy_device(device);
        editor.waitForDisconnect();
        state.ResumeTiming();
    }
    state.counters["longest_update_ms"] = longest;
    state.counters["longest_update_cpu_ms"] = longestCpu;
    state.counters["updates"] =
        benchmark::Counter(double(updates), benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations() * FLOOD);
}
BENCHMARK(BM_UpdateAppliesFourHundredThousandDescendingKeys)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// sync_save_tracks writing those 10 tracks of 10,000 keys.
void BM_SaveTenTracksOfTenThousandKeys(benchmark::State& state) {
    TempDir scratch;
    scratch.enter();
    sync_device* device = sync_create_device("sync");
    for (int t = 0; t < TRACKS; ++t) {
        sync_track* track = sync_get_track(device, ("track" + std::to_string(t)).c_str());
        for (int k = 0; k < KEYS; ++k)
            sync_set_key(track, {k * 2, float(k), key_type(k % 4)});
    }
    for (auto _ : state)
        if (sync_save_tracks(device) != 0)
            state.SkipWithError("saving failed");
    sync_destroy_device(device);
}
BENCHMARK(BM_SaveTenTracksOfTenThousandKeys)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
