// One frame of the sync driver: update at the music position, then the
// uniform feed's getTrack for every bound track. 100 float3 tracks of 1,000
// keys each, loaded from track files (release mode).

#include "Cosmonaut.h"
#include "SyncTesting.h"
#include "sync.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using namespace Tolvane;
using namespace Tolvane::Testing;

namespace {

constexpr int TRACKS = 100;
constexpr int KEYS = 1000;

std::string trackName(int i) {
    return "track" + std::to_string(i);
}

// Writes the track files of every component of every track.
bool writeTrackFiles() {
    sync_device* device = sync_create_device("sync");
    for (int i = 0; i < TRACKS; ++i)
        for (const char* axis : {".x", ".y", ".z"}) {
            sync_track* t = sync_get_track(device, (trackName(i) + axis).c_str());
            for (int k = 0; k < KEYS; ++k)
                sync_set_key(t, {k * 8, float(k % 13), key_type(k % 4)});
        }
    bool ok = sync_save_tracks(device) == 0;
    sync_destroy_device(device);
    return ok;
}

void BM_FrameWithHundredFloat3Tracks(benchmark::State& state) {
    TempDir scratch;
    scratch.enter();
    if (!writeTrackFiles()) {
        state.SkipWithError("cannot write the track files");
        return;
    }
    std::vector<Common::Track> tracks;
    std::vector<std::string> names;
    for (int i = 0; i < TRACKS; ++i) {
        Common::Track t;
        t.type = Common::FLOAT3;
        t.name = trackName(i);
        tracks.push_back(t);
        names.push_back(t.name);
    }

    sync_cb callbacks = {nullptr, nullptr, [](void*) { return 1; }};
    Cosmonaut cosmonaut;
    cosmonaut.initialize(120.0, 8);
    cosmonaut.setFunctions(&callbacks);
    cosmonaut.setTracks(tracks);
    if (cosmonaut.getTrack(names[0]).tracks[0]->key_count != KEYS) {
        state.SkipWithError("the track files did not load");
        return;
    }

    // The song is 500 seconds (8,000 rows): frames at 60 Hz across it.
    double seconds = 0.0;
    for (auto _ : state) {
        cosmonaut.update(seconds);
        for (const std::string& name : names)
            benchmark::DoNotOptimize(cosmonaut.getTrack(name));
        seconds += 1.0 / 60.0;
        if (seconds > 500.0)
            seconds = 0.0;
    }
    cosmonaut.cleanUp();
}
BENCHMARK(BM_FrameWithHundredFloat3Tracks)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
