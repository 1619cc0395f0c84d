// Costs of tolvane-editor with a large demo: 64 tracks of 10,000 keys.
// Loading the track files, answering a player's requests for every track
// (640,000 keys), one key's way to a player, and building one 1280x720
// frame of the grid (the editor's own CPU; the GL's drawing apart).

#include "EditorWindow.h"
#include "Session.h"
#include "SyncTesting.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

using namespace Tolvane::Editor;
using namespace Tolvane::Testing;

namespace {

constexpr int TRACKS = 64;
constexpr int KEYS = 10000;

std::vector<std::string> trackNames() {
    std::vector<std::string> names;
    for (int t = 0; t < TRACKS; ++t)
        names.push_back("track" + std::to_string(t));
    return names;
}

// Writes the 64 track files into the working directory.
void writeTracks() {
    std::vector<Key> keys;
    for (int k = 0; k < KEYS; ++k)
        keys.push_back({k * 2, float(k % 97) / 10.0f, uint8_t(k % 4)});
    for (const std::string& name : trackNames())
        std::ofstream(sync_track_path("sync", name.c_str()), std::ios::binary) << trackFile(keys);
}

void putBe32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

EditorLink::Options freePort() {
    EditorLink::Options options;
    options.port = 0;
    options.queueEvents = true;
    return options;
}

void BM_LoadSixtyFourTracks(benchmark::State& state) {
    TempDir dir;
    dir.enter();
    writeTracks();
    for (auto _ : state) {
        Document doc;
        doc.load(trackNames());
        benchmark::DoNotOptimize(doc.track(TRACKS - 1).key_count);
    }
}
BENCHMARK(BM_LoadSixtyFourTracks)->Unit(benchmark::kMillisecond);

// From the player's requests for all 64 tracks to the last of the 640,000
// keys read by it (a plain socket reading as fast as it can).
void BM_AnswerAllTrackRequests(benchmark::State& state) {
    TempDir dir;
    dir.enter();
    writeTracks();
    Document doc;
    doc.load(trackNames());
    EditorLink link(freePort());
    Session session(doc, link);
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(link.port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
            state.SkipWithError("cannot connect");
            break;
        }
        Bytes requests{'h', 'e', 'l', 'l', 'o', ',', ' ', 's', 'y', 'n',
                       'c', 't', 'r', 'a', 'c', 'k', 'e', 'r', '!'};
        for (const std::string& name : trackNames()) {
            requests.push_back(2);
            putBe32(requests, uint32_t(name.size()));
            requests.insert(requests.end(), name.begin(), name.end());
        }
        send(fd, requests.data(), requests.size(), 0);
        // Greeting and pause answer, then 14 bytes a key.
        size_t expected = 12 + 2 + size_t(TRACKS) * KEYS * 14, got = 0;
        while (got < expected) {
            session.pump();
            ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0)
                got += size_t(n);
            else if (n == 0)
                break;
        }
        close(fd);
        if (got != expected)
            state.SkipWithError("short answer");
        link.waitForDisconnect();
        session.pump();
    }
    state.counters["keys"] = double(TRACKS) * KEYS;
}
BENCHMARK(BM_AnswerAllTrackRequests)->Unit(benchmark::kMillisecond)->UseRealTime();

// A key set in the editor until a player's sync_update has it: the part of
// "shows in the player's next frame" that is the editor's and the link's.
void BM_KeyToPlayer(benchmark::State& state) {
    TempDir dir;
    dir.enter();
    Document doc;
    doc.load({"fade"});
    EditorLink link(freePort());
    Session session(doc, link);
    sync_device* player = sync_create_device("sync");
    sync_track* fade = sync_get_track(player, "fade");
    sync_tcp_connect(player, "127.0.0.1", link.port());
    while (!session.connected())
        session.pump();
    float value = 0.0f;
    for (auto _ : state) {
        value += 1.0f;
        doc.setKey(0, 0, value);
        while (fade->key_count == 0 || fade->keys[0].value != value) {
            session.pump();
            sync_update(player, 0, nullptr, nullptr);
        }
    }
    sync_destroy_device(player);
}
BENCHMARK(BM_KeyToPlayer)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Building one frame of a 1280x720 window (keys, grid, waveform, curve,
// status): what the editor itself spends, the GL's drawing not included.
void gridFrame(benchmark::State& state, bool withGl) {
    TempDir dir;
    dir.enter();
    writeTracks();
    Document doc;
    doc.load(trackNames());
    doc.moveCursor(3, KEYS); // mid-track: keys on every other row around it
    EditorLink link(freePort());
    Session session(doc, link);
    Waveform waveform;
    WindowSettings settings;
    settings.width = 1280;
    settings.height = 720;
    EditorWindow window(doc, session, waveform, settings);
    std::string error;
    if (!window.open(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    window.buildFrame();
    window.present();
    for (auto _ : state) {
        window.buildFrame();
        if (!withGl)
            state.PauseTiming();
        window.present();
        if (!withGl)
            state.ResumeTiming();
    }
}

void BM_BuildGridFrame(benchmark::State& state) {
    gridFrame(state, false);
}
BENCHMARK(BM_BuildGridFrame)->Unit(benchmark::kMillisecond);

// The same with the GL's drawing and the buffer swap (the rasteriser's CPU
// on a machine without a GPU).
void BM_WholeGridFrame(benchmark::State& state) {
    gridFrame(state, true);
}
BENCHMARK(BM_WholeGridFrame)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
