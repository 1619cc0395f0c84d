// Costs of the text overlay: building a line's geometry, measuring it,
// drawing the full on-screen log each frame, and building the renderer.

#include "Logger.h"
#include "text/overlay_internal.h"

#include <GLFW/glfw3.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

// A typical compiler error line, 80 characters.
const char* const LINE_A =
    "0:12(15): error: `colour' undeclared, did you mean fragColor? (see line 3) [42]";
const char* const LINE_B =
    "0:12(15): error: `colour' undeclared, did you mean fragColor? (see line 3) [43]";

GLFWwindow* window = nullptr;

bool openContext() {
    if (!glfwInit()) {
        return false;
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    window = glfwCreateWindow(800, 600, "text bench", nullptr, nullptr);
    if (window == nullptr) {
        return false;
    }
    glfwMakeContextCurrent(window);
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK) {
        return false;
    }
    glViewport(0, 0, 800, 600);
    return true;
}

// Rebuilding and uploading one changed 80-character line.
void BM_RebuildLine(benchmark::State& state) {
    GLTtext* text = gltCreateText();
    bool flip = false;
    for (auto _ : state) {
        gltSetText(text, flip ? LINE_A : LINE_B);
        flip = !flip;
        _gltUpdateBuffers(text);
        benchmark::DoNotOptimize(text->vertices);
    }
    gltDeleteText(text);
}
BENCHMARK(BM_RebuildLine);

// Setting the string a text already holds.
void BM_SetSameString(benchmark::State& state) {
    GLTtext* text = gltCreateText();
    gltSetText(text, LINE_A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(gltSetText(text, LINE_A));
    }
    gltDeleteText(text);
}
BENCHMARK(BM_SetSameString);

// Measuring an 80-character line.
void BM_TextWidth(benchmark::State& state) {
    GLTtext* text = gltCreateText();
    gltSetText(text, LINE_A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(gltGetTextWidth(text, 1.0f));
    }
    gltDeleteText(text);
}
BENCHMARK(BM_TextWidth);

// One frame's log with 25 lines of 80 characters: the CPU side of the draw
// calls (glFinish excluded), then with the software rasteriser's work.
void BM_RenderFullLog(benchmark::State& state) {
    const bool finish = state.range(0) != 0;
    Tolvane::Logger logger;
    logger.initialize(25, 0.0f, 600.0f, true);
    for (int i = 0; i < 25; ++i) {
        logger.write(Tolvane::Logger::ERROR, LINE_A);
    }
    logger.render(); // geometry is built once, here
    glFinish();
    for (auto _ : state) {
        logger.render();
        if (finish) {
            glFinish();
        }
    }
    logger.releaseGraphics();
    gltInit();
}
BENCHMARK(BM_RenderFullLog)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Building the program and the 806x19 font texture from scratch.
void BM_InitRenderer(benchmark::State& state) {
    for (auto _ : state) {
        gltTerminate();
        benchmark::DoNotOptimize(gltInit());
    }
}
BENCHMARK(BM_InitRenderer)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (!openContext() || !gltInit()) {
        std::fprintf(stderr, "text_bench: needs a display with OpenGL 3.3\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gltTerminate();
    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}
