// How long an edit takes to show: the real player in editing mode, its
// fragment shader saved by writing a new file and renaming it over the old
// one, timed from the rename to the first captured picture in the new
// colour ("RenameToPicture"). That span holds the watcher's debounce, the
// wait for the frame loop to poll, the rebuild (compile and link) and one
// frame; "Compile" times the rebuild alone, in a context of its own, for
// the same shaders. The picture is read back from the X server as fast as it
// goes, which loads the machine a little.
//
// Run: tests/support/with-display.sh build/bench/ShaderLoopBench

#include "GlContext.h"
#include "Harness.h"
#include "Shader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace Tolvane::Testing;

namespace {

constexpr int WIDTH = 320;
constexpr int HEIGHT = 240;

// The blue of save number i, 0 to 199: each source differs from the ones
// before it, so that no shader cache spares the compiler its work.
int blueOf(int i) {
    return i % 200;
}

// The fragment shader of save number i: never the colour before.
std::string fragmentFor(int i) {
    return solidFragmentShader(i % 2 == 0 ? 1.0f : 0.0f, i % 2 == 0 ? 0.0f : 1.0f,
                               static_cast<float>(blueOf(i)) / 255.0f);
}

bool showsSave(const Image& image, int i) {
    if (image.empty()) {
        return false;
    }
    const auto pixel = image.at(WIDTH / 2, 20);
    return pixel[0] == (i % 2 == 0 ? 255 : 0) && std::abs(pixel[2] - blueOf(i)) <= 1;
}

void RenameToPicture(benchmark::State& state) {
    Player player;
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    player.dir().write("shaders/fragment.glsl", fragmentFor(0));
    player.dir().write("configuration.json", basicConfiguration(false, WIDTH, HEIGHT));
    if (!player.start({}, {{"SDL_AUDIODRIVER", "dummy"}}) || player.waitForWindow() == 0 ||
        !showsSave(player.waitForImage([](const Image& image) { return showsSave(image, 0); }),
                   0)) {
        state.SkipWithError("the player did not show its first picture");
        return;
    }
    const std::string saved = player.dir().file("shaders/fragment.glsl");
    int save = 0;
    std::vector<double> spans;
    for (auto _ : state) {
        ++save;
        player.dir().write("shaders/fragment.glsl.new", fragmentFor(save));
        const auto renamed = std::chrono::steady_clock::now();
        std::rename((saved + ".new").c_str(), saved.c_str());
        while (!showsSave(player.capture(), save)) {
            if (std::chrono::steady_clock::now() - renamed > std::chrono::seconds(10)) {
                state.SkipWithError("the saved shader did not show");
                return;
            }
        }
        spans.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - renamed).count());
        state.SetIterationTime(spans.back());
        // Apart from each other by more than the debounce.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::sort(spans.begin(), spans.end());
    state.counters["min_ms"] = spans.front() * 1e3;
    state.counters["median_ms"] = spans[spans.size() / 2] * 1e3;
    state.counters["max_ms"] = spans.back() * 1e3;
    player.requestClose();
    player.waitForExit();
}
BENCHMARK(RenameToPicture)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

void Compile(benchmark::State& state) {
    GlContext context(WIDTH, HEIGHT);
    if (!context.ok()) {
        state.SkipWithError("no GL context");
        return;
    }
    Tolvane::Shader shader;
    shader.initialize(WIDTH, HEIGHT);
    int save = 0;
    for (auto _ : state) {
        shader.cleanShader();
        shader.setSources(passThroughVertexShader(), fragmentFor(++save));
        benchmark::DoNotOptimize(shader.initShader());
        glFinish();
    }
    shader.releaseGraphics();
}
BENCHMARK(Compile)->Iterations(30)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
