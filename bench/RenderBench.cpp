// The CPU time one frame costs when drawn by Shader::render, against a bare
// loop that draws the same program over the same quad with the same uniform
// and texture uploads through plain GL calls. Both swap buffers with a swap
// interval of 0.
//
// "frames/*" runs each loop on its own, counting the CPU time of the whole
// process (which includes the GL driver's rasterising threads).
// "interleaved" alternates blocks of frames of the two loops and clocks each
// block, so that load from elsewhere on the machine falls on both alike; it
// reports the CPU time per frame of each loop, with the process clock and
// with the main thread's clock (the calls themselves, without the driver's
// threads), and their ratios.
//
// Run: tests/support/with-display.sh build/bench/RenderBench

#include "Shader.h"
#include "TextureManager.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <benchmark/benchmark.h>
#include <lodepng.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 600;

const char* const VERTEX = R"(#version 330 core
layout(location = 0) in vec3 position;
void main() { gl_Position = vec4(position, 1.0); }
)";

const char* const FRAGMENT = R"(#version 330 core
uniform float time;
uniform vec2 resolution;
uniform sampler2D picture;
out vec4 color;
void main() {
    vec2 uv = gl_FragCoord.xy / resolution;
    float wave = 0.5 + 0.5 * sin(time + uv.x * 12.0 + uv.y * 7.0);
    color = vec4(texture(picture, uv).rgb * wave, 1.0);
}
)";

GLFWwindow* window = nullptr;
std::string picturePath;

// A 256 x 256 RGBA test picture.
std::vector<unsigned char> picturePixels() {
    std::vector<unsigned char> pixels(256 * 256 * 4);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            unsigned char* p = &pixels[(y * 256 + x) * 4];
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y);
            p[2] = static_cast<unsigned char>(x ^ y);
            p[3] = 255;
        }
    }
    return pixels;
}

// The player's way: texture manager and shader.
class ShaderLoop {
public:
    ShaderLoop() {
        Tolvane::Common::Asset asset;
        asset.type = Tolvane::Common::STATIC_TEXTURE;
        asset.name = "picture";
        asset.file = picturePath;
        textures.setTextures({asset});
        textures.initializeTextures();
        shader.initialize(WIDTH, HEIGHT);
        shader.setSources(VERTEX, FRAGMENT);
        shader.initializeTextures({"picture"});
        shader.initializeUniforms({{"time", "time"}, {"resolution", "resolution"}});
        shader.setTextureManager(&textures);
        ok = !shader.initShader().error;
    }

    ~ShaderLoop() {
        shader.releaseGraphics();
        textures.releaseGraphics();
    }

    void frame(double time) {
        shader.render(time);
        glfwSwapBuffers(window);
    }

    bool ok = false;

private:
    Tolvane::TextureManager textures;
    Tolvane::Shader shader;
};

// The same frame in plain GL calls.
class BareLoop {
public:
    BareLoop() {
        program = glCreateProgram();
        vertex = compile(GL_VERTEX_SHADER, VERTEX);
        fragment = compile(GL_FRAGMENT_SHADER, FRAGMENT);
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glLinkProgram(program);
        GLint linked = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        ok = linked != GL_FALSE;
        timeLocation = glGetUniformLocation(program, "time");
        resolutionLocation = glGetUniformLocation(program, "resolution");
        pictureLocation = glGetUniformLocation(program, "picture");

        const float vertices[] = {1.0f,  1.0f,  0.0f, 1.0f,  -1.0f, 0.0f,
                                  -1.0f, -1.0f, 0.0f, -1.0f, 1.0f,  0.0f};
        const unsigned indices[] = {0, 1, 3, 1, 2, 3};
        glGenVertexArrays(1, &vertexArray);
        glGenBuffers(2, buffers);
        glBindVertexArray(vertexArray);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        glBufferData(GL_ARRAY_BUFFER, sizeof(vertices), vertices, GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof(indices), indices, GL_STATIC_DRAW);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 3 * sizeof(float), nullptr);
        glEnableVertexAttribArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindVertexArray(0);

        const std::vector<unsigned char> pixels = picturePixels();
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 256, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     pixels.data());
    }

    ~BareLoop() {
        glDeleteTextures(1, &texture);
        glDeleteBuffers(2, buffers);
        glDeleteVertexArrays(1, &vertexArray);
        glDeleteShader(vertex);
        glDeleteShader(fragment);
        glDeleteProgram(program);
    }

    void frame(double time) {
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glUseProgram(program);
        glUniform1f(timeLocation, static_cast<float>(time));
        glUniform2f(resolutionLocation, static_cast<float>(WIDTH), static_cast<float>(HEIGHT));
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        glUniform1i(pictureLocation, 0);
        glBindVertexArray(vertexArray);
        glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
        glUseProgram(0);
        glfwSwapBuffers(window);
    }

    bool ok = false;

private:
    static GLuint compile(GLenum type, const char* source) {
        const GLuint shader = glCreateShader(type);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        return shader;
    }

    GLuint program = 0;
    GLuint vertex = 0;
    GLuint fragment = 0;
    GLint timeLocation = -1;
    GLint resolutionLocation = -1;
    GLint pictureLocation = -1;
    GLuint vertexArray = 0;
    GLuint buffers[2] = {};
    GLuint texture = 0;
};

template <typename Loop>
void frames(benchmark::State& state) {
    Loop loop;
    if (!loop.ok) {
        state.SkipWithError("program did not build");
        return;
    }
    double time = 0.0;
    for (auto _ : state) {
        loop.frame(time);
        time += 1.0 / 60.0;
    }
    glFinish();
}

double seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One iteration: a block of frames of each loop, each block clocked.
void interleaved(benchmark::State& state) {
    constexpr int BLOCK = 10;
    ShaderLoop shader;
    BareLoop bare;
    if (!shader.ok || !bare.ok) {
        state.SkipWithError("program did not build");
        return;
    }
    double process[2] = {};
    double thread[2] = {};
    double time = 0.0;
    auto block = [&](auto& loop, int index) {
        glFinish();
        const double processStart = seconds(CLOCK_PROCESS_CPUTIME_ID);
        const double threadStart = seconds(CLOCK_THREAD_CPUTIME_ID);
        for (int i = 0; i < BLOCK; ++i) {
            loop.frame(time);
            time += 1.0 / 60.0;
        }
        glFinish();
        process[index] += seconds(CLOCK_PROCESS_CPUTIME_ID) - processStart;
        thread[index] += seconds(CLOCK_THREAD_CPUTIME_ID) - threadStart;
    };
    int64_t blocks = 0;
    for (auto _ : state) {
        // Alternate which loop goes first, so neither always follows the other.
        if (blocks % 2 == 0) {
            block(shader, 0);
            block(bare, 1);
        } else {
            block(bare, 1);
            block(shader, 0);
        }
        ++blocks;
    }
    const double frameCount = static_cast<double>(blocks * BLOCK);
    state.counters["shader_process_us"] = process[0] / frameCount * 1e6;
    state.counters["bare_process_us"] = process[1] / frameCount * 1e6;
    state.counters["process_ratio"] = process[1] > 0.0 ? process[0] / process[1] : 0.0;
    state.counters["shader_thread_us"] = thread[0] / frameCount * 1e6;
    state.counters["bare_thread_us"] = thread[1] / frameCount * 1e6;
    state.counters["thread_ratio"] = thread[1] > 0.0 ? thread[0] / thread[1] : 0.0;
}

BENCHMARK_TEMPLATE(frames, ShaderLoop)
    ->Name("frames/Shader::render+swap")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(frames, BareLoop)
    ->Name("frames/bare+swap")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(interleaved)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(20.0);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!glfwInit()) {
        std::printf("no window library\n");
        return 1;
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    window = glfwCreateWindow(WIDTH, HEIGHT, "RenderBench", nullptr, nullptr);
    if (window == nullptr) {
        std::printf("no window (is there a display?)\n");
        glfwTerminate();
        return 1;
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(0);
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK) {
        std::printf("no GL entry points\n");
        glfwDestroyWindow(window);
        glfwTerminate();
        return 1;
    }
    glViewport(0, 0, WIDTH, HEIGHT);

    picturePath = (std::filesystem::temp_directory_path() /
                   ("tolvane-bench-" + std::to_string(getpid()) + ".png"))
                      .string();
    lodepng::encode(picturePath, picturePixels(), 256, 256);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::filesystem::remove(picturePath);
    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}
