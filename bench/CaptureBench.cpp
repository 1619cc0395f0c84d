// How many frames per second tolvane-capture gets through at 1280x720 on the
// bundled demo (examples/demo), and where the time goes:
//
//   DrawAndReadBack   the demo's frame drawn offscreen and read back
//   EncodePng         one frame encoded as PNG and written, on one thread
//   CaptureToPngs     the whole pipeline into PNG files, encoders in parallel
//   CaptureToVideo    the whole pipeline into an H.264 + AAC video (ffmpeg)
//
// frames/s is the figure to read (wall-clock time: the GL driver, the PNG
// encoders and ffmpeg all run threads of their own). Frames are drawn from
// the drop at 30 s on, the demo's busiest stretch.
//
// Run: tests/support/with-display.sh build/bench/CaptureBench

#include "Capture.h"
#include "Configuration.h"
#include "FrameSink.h"
#include "OffscreenRenderer.h"
#include "PngSequence.h"
#include "TuneReader.h"
#include "VideoEncoder.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace Tolvane::Capture;

namespace {

constexpr int WIDTH = 1280;
constexpr int HEIGHT = 720;
constexpr int64_t FPS = 60;
constexpr double FROM = 30.0;
// Frames captured by one run of a pipeline benchmark.
constexpr int64_t FRAMES = 60;

// The demo, opened once for every benchmark, in the demo's directory as the
// player runs.
struct Demo {
    Tolvane::Configuration configuration;
    OffscreenRenderer renderer;
    fs::path scratch;
    std::string error;

    Demo() {
        scratch = fs::temp_directory_path() / ("capture-bench-" + std::to_string(getpid()));
        fs::create_directories(scratch);
        fs::current_path(fs::path(TOLVANE_SOURCE_DIR) / "examples" / "demo");
        std::vector<std::string> warnings;
        if (!configuration.read("configuration.json")) {
            error = "cannot read the demo's configuration";
        } else if (renderer.open(configuration, WIDTH, HEIGHT, error, warnings)) {
            error.clear();
        }
    }
    ~Demo() {
        renderer.close();
        std::error_code ignored;
        fs::remove_all(scratch, ignored);
    }
};

Demo& demo() {
    static Demo instance;
    return instance;
}

bool ready(benchmark::State& state) {
    if (!demo().error.empty()) {
        state.SkipWithError(demo().error.c_str());
        return false;
    }
    return true;
}

void reportFrames(benchmark::State& state, int64_t frames) {
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// Captures the benchmark's frames of the demo into sink and finishes it;
// false, with the run skipped and the sink's error given, when either fails.
bool captureInto(benchmark::State& state, FrameSink& sink) {
    if (!Capture::drawFrames(demo().renderer, sink, FROM, FRAMES, FPS, 1, nullptr) ||
        !sink.finish()) {
        state.SkipWithError(sink.error().c_str());
        return false;
    }
    return true;
}

void DrawAndReadBack(benchmark::State& state) {
    if (!ready(state)) {
        return;
    }
    std::vector<uint8_t> pixels;
    int64_t n = 0;
    for (auto _ : state) {
        demo().renderer.render(Capture::frameTime(FROM, n++, FPS, 1));
        demo().renderer.readBack(pixels);
        benchmark::DoNotOptimize(pixels.data());
    }
    reportFrames(state, n);
}
BENCHMARK(DrawAndReadBack)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void EncodePng(benchmark::State& state) {
    if (!ready(state)) {
        return;
    }
    std::vector<uint8_t> pixels;
    demo().renderer.render(FROM);
    demo().renderer.readBack(pixels);
    int64_t n = 0;
    for (auto _ : state) {
        PngSequence sink(demo().scratch.string(), WIDTH, HEIGHT, 1);
        std::vector<uint8_t> frame = pixels;
        sink.write(n++, std::move(frame));
        if (!sink.finish()) {
            state.SkipWithError(sink.error().c_str());
            return;
        }
    }
    state.counters["bytes"] =
        static_cast<double>(fs::file_size(demo().scratch / PngSequence::frameName(0)));
    reportFrames(state, n);
}
BENCHMARK(EncodePng)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void CaptureToPngs(benchmark::State& state) {
    if (!ready(state)) {
        return;
    }
    int64_t frames = 0;
    for (auto _ : state) {
        PngSequence sink(demo().scratch.string(), WIDTH, HEIGHT,
                         std::max(1u, std::thread::hardware_concurrency()));
        if (!captureInto(state, sink)) {
            return;
        }
        frames += FRAMES;
    }
    reportFrames(state, frames);
}
BENCHMARK(CaptureToPngs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void CaptureToVideo(benchmark::State& state) {
    if (!ready(state)) {
        return;
    }
    const std::string ffmpeg = VideoEncoder::findFfmpeg();
    if (ffmpeg.empty()) {
        state.SkipWithError("ffmpeg is not on PATH");
        return;
    }
    const double to = Capture::frameTime(FROM, FRAMES, FPS, 1);
    const std::string audio = (demo().scratch / "audio.wav").string();
    const std::string video = (demo().scratch / "capture.mp4").string();
    TuneReader tune;
    std::string error;
    if (!tune.open(demo().configuration.tune.file, error) ||
        !tune.writeExcerpt(FROM, to, audio, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    int64_t frames = 0;
    for (auto _ : state) {
        VideoEncoder encoder;
        if (!encoder.start(ffmpeg, WIDTH, HEIGHT, FPS, 1, audio, video, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        if (!captureInto(state, encoder)) {
            return;
        }
        frames += FRAMES;
    }
    reportFrames(state, frames);
}
BENCHMARK(CaptureToVideo)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
