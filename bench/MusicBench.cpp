// The music player's costs: opening a five-minute MP3, the memory the open
// tune holds, one position() call, and how smoothly the position moves when
// sampled every millisecond for five seconds.
//
// Needs sox and lame to make the tune. The device is the dummy one unless
// SDL_AUDIODRIVER says otherwise; the smoothness runs also on the disk device
// (writing to /dev/null), which takes sound the way a sound card does.

#include "Music.h"

#include <SDL.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A five-minute stereo MP3 made once per run.
const std::string& fiveMinuteTune() {
    static const std::string path = [] {
        const fs::path dir = fs::temp_directory_path() / "tolvane-music-bench";
        fs::create_directories(dir);
        const fs::path mp3 = dir / "five-minutes.mp3";
        if (!fs::exists(mp3)) {
            const fs::path wav = dir / "five-minutes.wav";
            const std::string make =
                "sox -n -r 44100 -c 2 '" + wav.string() +
                "' synth 300 sine 220-880 sine 330 vol 0.5 2>/dev/null && lame --quiet -b 192 '" +
                wav.string() + "' '" + mp3.string() + "' 2>/dev/null";
            if (std::system(make.c_str()) != 0)
                return std::string();
            fs::remove(wav);
        }
        return mp3.string();
    }();
    return path;
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

void useDriver(const char* driver) {
    setenv("SDL_AUDIODRIVER", driver, 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
}

void BM_InitializeFiveMinuteMp3(benchmark::State& state) {
    const std::string& tune = fiveMinuteTune();
    if (tune.empty())
        return state.SkipWithError("sox or lame missing");
    useDriver("dummy");
    for (auto _ : state) {
        Tolvane::Music music;
        const auto start = Clock::now();
        const bool opened = music.initialize(44000, tune);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!opened)
            return state.SkipWithError("initialize failed");
        music.cleanUp();
    }
}
BENCHMARK(BM_InitializeFiveMinuteMp3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Resident memory gained by opening the tune and letting the decoder fill
// its buffer.
void BM_MemoryHeld(benchmark::State& state) {
    const std::string& tune = fiveMinuteTune();
    if (tune.empty())
        return state.SkipWithError("sox or lame missing");
    useDriver("dummy");
    long held = 0;
    for (auto _ : state) {
        // A first run loads the libraries, so that only the tune is counted.
        Tolvane::Music warm;
        warm.initialize(44000, tune);
        warm.cleanUp();
        const long before = residentKiB();
        Tolvane::Music music;
        music.initialize(44000, tune);
        music.play();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        held = residentKiB() - before;
        music.cleanUp();
    }
    state.counters["held_KiB"] = static_cast<double>(held);
}
BENCHMARK(BM_MemoryHeld)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_Position(benchmark::State& state) {
    const std::string& tune = fiveMinuteTune();
    if (tune.empty())
        return state.SkipWithError("sox or lame missing");
    useDriver("dummy");
    Tolvane::Music music;
    music.initialize(44000, tune);
    music.play();
    for (auto _ : state)
        benchmark::DoNotOptimize(music.position());
    music.cleanUp();
}
BENCHMARK(BM_Position);

// Samples position() every millisecond for five seconds. Reports the steps
// backwards, the worst distance from the least-squares line through the
// samples and from a line of slope one (real time), in milliseconds, and the
// fitted slope. The disk device times itself by sleeping, so its pace wanders
// by a millisecond or two over five seconds and runs about 0.5% fast; the
// clock follows it.
void BM_ClockSmoothness(benchmark::State& state, const char* driver) {
    const std::string& tune = fiveMinuteTune();
    if (tune.empty())
        return state.SkipWithError("sox or lame missing");
    useDriver(driver);
    std::vector<double> times;
    std::vector<double> positions;
    for (auto _ : state) {
        Tolvane::Music music;
        music.initialize(44000, tune);
        music.play();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto start = Clock::now();
        for (;;) {
            // A reading taken while this thread was preempted says nothing
            // about the clock: keep only those bracketed within 0.1 ms.
            const double before = std::chrono::duration<double>(Clock::now() - start).count();
            const double p = music.position();
            const double after = std::chrono::duration<double>(Clock::now() - start).count();
            if (after > 5.0)
                break;
            if (after - before < 1e-4) {
                times.push_back((before + after) / 2);
                positions.push_back(p);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        music.cleanUp();
    }
    const size_t n = times.size();
    double st = 0, sp = 0, stt = 0, stp = 0;
    int backwards = 0;
    for (size_t i = 0; i < n; ++i) {
        st += times[i];
        sp += positions[i];
        stt += times[i] * times[i];
        stp += times[i] * positions[i];
        if (i > 0 && positions[i] < positions[i - 1])
            ++backwards;
    }
    const double slope = (n * stp - st * sp) / (n * stt - st * st);
    const double offset = (sp - slope * st) / n;
    double fitted = 0.0;
    double realTime = 0.0;
    for (size_t i = 0; i < n; ++i) {
        fitted = std::max(fitted, std::fabs(positions[i] - (offset + slope * times[i])));
        realTime =
            std::max(realTime, std::fabs(positions[i] - positions[0] - (times[i] - times[0])));
    }
    state.counters["samples"] = static_cast<double>(n);
    state.counters["backward_steps"] = backwards;
    state.counters["worst_from_fit_ms"] = fitted * 1e3;
    state.counters["worst_from_real_time_ms"] = realTime * 1e3;
    state.counters["slope"] = slope;
}
BENCHMARK_CAPTURE(BM_ClockSmoothness, dummy_device, "dummy")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_ClockSmoothness, disk_device, "disk")->Iterations(1)->Unit(benchmark::kSecond);

// For comparison with the disk device's figures: how far that device's own
// pace (frames taken against the times of its callbacks) strays from a
// straight line over five seconds.
void BM_DiskDevicePace(benchmark::State& state) {
    useDriver("disk");
    struct Log {
        Clock::time_point start;
        std::vector<double> times;
    } log;
    log.times.reserve(1000);
    for (auto _ : state) {
        SDL_InitSubSystem(SDL_INIT_AUDIO);
        SDL_AudioSpec want{};
        want.freq = 44000;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = 1024;
        want.userdata = &log;
        want.callback = [](void* user, Uint8* bytes, int length) {
            auto* l = static_cast<Log*>(user);
            l->times.push_back(std::chrono::duration<double>(Clock::now() - l->start).count());
            std::memset(bytes, 0, static_cast<size_t>(length));
        };
        SDL_AudioSpec have{};
        log.start = Clock::now();
        const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        SDL_PauseAudioDevice(device, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5100));
        SDL_CloseAudioDevice(device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    const size_t n = log.times.size();
    double st = 0, sp = 0, stt = 0, stp = 0;
    for (size_t i = 0; i < n; ++i) {
        const double p = i * 1024 / 44000.0;
        st += log.times[i];
        sp += p;
        stt += log.times[i] * log.times[i];
        stp += log.times[i] * p;
    }
    const double slope = (n * stp - st * sp) / (n * stt - st * st);
    const double offset = (sp - slope * st) / n;
    double worst = 0.0;
    for (size_t i = 0; i < n; ++i) {
        worst = std::max(worst, std::fabs(i * 1024 / 44000.0 - (offset + slope * log.times[i])));
    }
    state.counters["worst_from_fit_ms"] = worst * 1e3;
    state.counters["slope"] = slope;
}
BENCHMARK(BM_DiskDevicePace)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
