// demo-preview: renders frames of a demo at chosen music times into PNG files,
// or times how long its shader takes per frame. It reads the same
// configuration, shaders, textures and track files as the player, samples
// the tracks the way the player does, and draws offscreen, so a demo can be
// looked at frame by frame without music, editor or display of its own.
//
//   cd examples/demo
//   demo-preview [--config FILE] [--out DIR] [--size WxH] [--bench FRAMES] TIME...
//
// Each TIME (seconds) gives DIR/frame-TIME.png, or with --bench the mean,
// best and worst milliseconds of FRAMES frames drawn from that time on, and
// the processor time a frame took over all threads (steadier than the clock
// on a busy machine).

#include "Configuration.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <lodepng.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

// ---------------------------------------------------------------- tracks

struct Key {
    int32_t row;
    float value;
    uint8_t type;
};

// The track file name of a sync track: "sync_" + the name with every byte
// other than letters, digits, '.', '/' and '_' written as -XX in hex.
std::string trackPath(const std::string& name) {
    static const char* hex = "0123456789ABCDEF";
    std::string path = "sync_";
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '.' || c == '/' || c == '_') {
            path += static_cast<char>(c);
        } else {
            path += '-';
            path += hex[c >> 4];
            path += hex[c & 15];
        }
    }
    return path + ".track";
}

// Reads a track file: int32 count, then count keys of int32 row, float32
// value and one type byte, little-endian. Missing file: no keys. A file that
// is cut short or out of order is reported and its readable prefix kept.
std::vector<Key> loadTrack(const std::string& name) {
    std::vector<Key> keys;
    std::ifstream file(trackPath(name), std::ios::binary);
    if (!file) {
        std::cerr << "no track file " << trackPath(name) << " (the track reads 0)\n";
        return keys;
    }
    int32_t count = 0;
    file.read(reinterpret_cast<char*>(&count), 4);
    for (int32_t i = 0; i < count; ++i) {
        Key key{};
        file.read(reinterpret_cast<char*>(&key.row), 4);
        file.read(reinterpret_cast<char*>(&key.value), 4);
        file.read(reinterpret_cast<char*>(&key.type), 1);
        if (!file) {
            std::cerr << trackPath(name) << ": cut short after " << i << " keys\n";
            break;
        }
        if (!keys.empty() && key.row <= keys.back().row) {
            std::cerr << trackPath(name) << ": rows out of order at key " << i << "\n";
            break;
        }
        keys.push_back(key);
    }
    return keys;
}

// The value of a track at a fractional row: the first key's value before
// it, the last key's value from it on, and in between the segment that
// starts at floor(row), shaped by that key's type (step, linear, smooth, ramp).
double sample(const std::vector<Key>& keys, double row) {
    if (keys.empty())
        return 0.0;
    auto irow = static_cast<int32_t>(std::floor(row));
    auto next = std::upper_bound(keys.begin(), keys.end(), irow,
                                 [](int32_t r, const Key& k) { return r < k.row; });
    if (next == keys.begin())
        return keys.front().value;
    if (next == keys.end())
        return keys.back().value;
    const Key& k0 = *(next - 1);
    const Key& k1 = *next;
    double t = (row - k0.row) / (k1.row - k0.row);
    switch (k0.type) {
    case 0: return k0.value;
    case 1: break;
    case 2: t = t * t * (3.0 - 2.0 * t); break;
    case 3: t = std::pow(t, 2.0); break;
    default: return k0.value;
    }
    return k0.value + (static_cast<double>(k1.value) - k0.value) * t;
}

// ---------------------------------------------------------------- GL helpers

// Processor time used so far by the whole process, all threads (the
// software rasteriser draws on worker threads), in milliseconds.
double processorMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

GLuint compile(GLenum stage, const std::string& path) {
    std::string source = readFile(path);
    if (source.empty())
        std::cerr << "cannot read " << path << "\n";
    GLuint shader = glCreateShader(stage);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[4096];
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        std::cerr << path << ":\n" << log;
        std::exit(1);
    }
    return shader;
}

GLuint uploadPng(const std::string& path) {
    std::vector<unsigned char> image;
    unsigned width = 0;
    unsigned height = 0;
    if (unsigned error = lodepng::decode(image, width, height, path, LCT_RGBA, 8)) {
        std::cerr << path << ": " << lodepng_error_text(error) << "\n";
        return 0;
    }
    // As the player does: RGB (alpha dropped), repeat, linear, no mipmaps,
    // top row of the image at t = 0.
    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, static_cast<GLsizei>(width), static_cast<GLsizei>(height), 0,
                 GL_RGBA, GL_UNSIGNED_BYTE, image.data());
    return id;
}

struct Options {
    std::string config = "configuration.json";
    std::string outDir = ".";
    int width = 0;
    int height = 0;
    int benchFrames = 0;
    std::vector<double> times;
};

[[noreturn]] void usage() {
    std::cerr << "usage: demo-preview [--config FILE] [--out DIR] [--size WxH] [--bench FRAMES] TIME...\n"
                 "run it in the demo's directory; TIME in seconds of music\n";
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--config" && hasValue) {
            options.config = argv[++i];
        } else if (arg == "--out" && hasValue) {
            options.outDir = argv[++i];
        } else if (arg == "--size" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) != 2)
                usage();
        } else if (arg == "--bench" && hasValue) {
            options.benchFrames = std::atoi(argv[++i]);
        } else if (!arg.empty() && arg[0] != '-') {
            options.times.push_back(std::atof(arg.c_str()));
        } else {
            usage();
        }
    }
    if (options.times.empty())
        usage();
    return options;
}

} // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    Tolvane::Configuration config;
    if (!config.read(options.config)) {
        std::cerr << "cannot open " << options.config << "\n";
        return 1;
    }
    // --size draws as if the configuration named that screen size.
    int width = options.width > 0 ? options.width : config.demo.width;
    int height = options.height > 0 ? options.height : config.demo.height;

    if (!glfwInit())
        return 1;
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, config.shaders.majorVersion);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, config.shaders.minorVersion);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* window = glfwCreateWindow(64, 64, "demo-preview", nullptr, nullptr);
    if (!window) {
        std::cerr << "no GL context (is DISPLAY set?)\n";
        glfwTerminate();
        return 1;
    }
    glfwMakeContextCurrent(window);
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK)
        return 1;

    // Offscreen target of the configured size.
    GLuint colour = 0;
    GLuint framebuffer = 0;
    glGenTextures(1, &colour);
    glBindTexture(GL_TEXTURE_2D, colour);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour, 0);
    glViewport(0, 0, width, height);

    // The player's quad: four corners at attribute 0, two triangles.
    const float vertices[] = {1, 1, 0, 1, -1, 0, -1, -1, 0, -1, 1, 0};
    const unsigned indices[] = {0, 1, 3, 1, 2, 3};
    GLuint vertexArray = 0;
    GLuint buffers[2] = {};
    glGenVertexArrays(1, &vertexArray);
    glGenBuffers(2, buffers);
    glBindVertexArray(vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof indices, indices, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
    glEnableVertexAttribArray(0);

    GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, config.shaders.vertex));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, config.shaders.fragment));
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        char log[4096];
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        std::cerr << "link:\n" << log;
        return 1;
    }
    glUseProgram(program);

    std::map<std::string, GLuint> textures;
    for (const auto& asset : config.assets)
        if (asset.type == Tolvane::Common::STATIC_TEXTURE)
            textures[asset.name] = uploadPng(asset.file);
    for (size_t unit = 0; unit < config.shaders.textures.size(); ++unit) {
        const std::string& name = config.shaders.textures[unit];
        if (!textures.count(name))
            std::cerr << "texture " << name << " is not an asset\n";
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        glBindTexture(GL_TEXTURE_2D, textures[name]);
        glUniform1i(glGetUniformLocation(program, name.c_str()), static_cast<GLint>(unit));
    }

    // Every configured track as its component sync tracks (.x, .y, .z).
    struct Configured {
        int components;
        std::vector<Key> keys[3];
    };
    std::map<std::string, Configured> tracks;
    for (const auto& track : config.tracks) {
        Configured& entry = tracks[track.name];
        entry.components = track.type + 1;
        static const char* suffix[] = {".x", ".y", ".z"};
        for (int c = 0; c < entry.components; ++c)
            entry.keys[c] = loadTrack(entry.components == 1 ? track.name : track.name + suffix[c]);
    }
    double rowRate = config.tune.BPM / 60.0 * config.sync.RPB;

    auto draw = [&](double time) {
        double row = static_cast<float>(time * rowRate);
        for (const auto& bond : config.shaders.uniforms) {
            GLint location = glGetUniformLocation(program, bond.variable.c_str());
            if (bond.track == "time") {
                glUniform1f(location, static_cast<float>(time));
            } else if (bond.track == "resolution") {
                glUniform2f(location, static_cast<float>(width), static_cast<float>(height));
            } else if (tracks.count(bond.track)) {
                const Configured& t = tracks[bond.track];
                float v[3] = {};
                for (int c = 0; c < t.components; ++c)
                    v[c] = static_cast<float>(sample(t.keys[c], row));
                if (t.components == 1) glUniform1f(location, v[0]);
                if (t.components == 2) glUniform2f(location, v[0], v[1]);
                if (t.components == 3) glUniform3f(location, v[0], v[1], v[2]);
            }
        }
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
    };

    for (double time : options.times) {
        if (options.benchFrames > 0) {
            draw(time);
            glFinish();
            std::vector<double> ms;
            double processorStart = processorMs();
            for (int i = 0; i < options.benchFrames; ++i) {
                auto start = std::chrono::steady_clock::now();
                draw(time + i / 60.0);
                glFinish();
                ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            }
            double mean = 0;
            for (double m : ms)
                mean += m / ms.size();
            double processor = (processorMs() - processorStart) / options.benchFrames;
            std::printf("t=%6.2f s  %dx%d  mean %6.1f ms  best %6.1f ms  worst %6.1f ms  processor %6.1f ms\n", time,
                        width, height, mean, *std::min_element(ms.begin(), ms.end()),
                        *std::max_element(ms.begin(), ms.end()), processor);
            continue;
        }
        draw(time);
        std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        // GL rows run bottom-up, PNG rows top-down.
        std::vector<unsigned char> flipped(pixels.size());
        size_t stride = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y)
            std::memcpy(&flipped[y * stride], &pixels[(height - 1 - y) * stride], stride);
        char name[64];
        std::snprintf(name, sizeof name, "/frame-%05.2f.png", time);
        std::string path = options.outDir + name;
        if (unsigned error = lodepng::encode(path, flipped, width, height)) {
            std::cerr << path << ": " << lodepng_error_text(error) << "\n";
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}
