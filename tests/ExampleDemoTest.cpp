// Checks the demo bundled in examples/demo as the player will meet it: the
// two configurations, the files they name, the track files, the shaders
// built on a real GL 3.3 core context, the tune decoded, and whole frames
// drawn at chosen moments by the capture tool.

#include "Configuration.h"
#include "GlContext.h"

#include <gtest/gtest.h>
#include <lodepng.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using Tolvane::Configuration;
using Tolvane::Testing::GlContext;

namespace {

const fs::path demoDir = fs::path(TOLVANE_SOURCE_DIR) / "examples" / "demo";

Configuration readConfiguration(const std::string& name) {
    Configuration config;
    EXPECT_TRUE(config.read((demoDir / name).string())) << name;
    return config;
}

// The sync tracks behind a configured track: the name itself, or its .x .y .z.
std::vector<std::string> componentNames(const Tolvane::Common::Track& track) {
    if (track.type == Tolvane::Common::FLOAT1)
        return {track.name};
    std::vector<std::string> names = {track.name + ".x", track.name + ".y"};
    if (track.type == Tolvane::Common::FLOAT3)
        names.push_back(track.name + ".z");
    return names;
}

struct Key {
    int32_t row;
    float value;
    uint8_t type;
};

std::vector<Key> readTrack(const fs::path& path, std::string& problem) {
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    std::vector<Key> keys;
    if (bytes.size() < 4) {
        problem = "shorter than its count";
        return keys;
    }
    auto int32At = [&](size_t at) {
        return static_cast<int32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                    static_cast<uint32_t>(bytes[at + 3]) << 24);
    };
    int32_t count = int32At(0);
    if (count < 1 || bytes.size() != 4 + 9 * static_cast<size_t>(count)) {
        problem = "size does not match its count";
        return keys;
    }
    for (int32_t i = 0; i < count; ++i) {
        size_t at = 4 + 9 * static_cast<size_t>(i);
        Key key{int32At(at), 0.0f, bytes[at + 8]};
        uint32_t bits = static_cast<uint32_t>(int32At(at + 4));
        std::memcpy(&key.value, &bits, 4);
        keys.push_back(key);
    }
    return keys;
}

struct Picture {
    double meanLuma = 0;
    double lumaSpread = 0;
    double meanChroma = 0;
};

// Draws the demo at the given moments with tolvane-capture, in the demo's
// directory as the player runs, and measures each picture. Each moment is a
// capture of one frame. The tool runs without leak checking: under the
// sanitizers, the leak checker's slow stack walks make the software
// rasteriser's shader compiler take minutes.
std::vector<Picture> framesAt(const std::vector<std::string>& times, const fs::path& outDir) {
    std::vector<Picture> pictures;
    for (const auto& time : times) {
        const fs::path dir = outDir / time;
        const std::string to = std::to_string(std::atof(time.c_str()) + 0.01);
        std::string command = "cd '" + demoDir.string() +
                              "' && ASAN_OPTIONS=detect_leaks=0 '" TOLVANE_CAPTURE
                              "' configuration.json --size 160x120 --fps 100 --from " +
                              time + " --to " + to + " --out '" + dir.string() + "' 2> /dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        const std::string name = "frame-000000.png";
        std::vector<unsigned char> image;
        unsigned width = 0;
        unsigned height = 0;
        EXPECT_EQ(lodepng::decode(image, width, height, (dir / name).string()), 0u) << time;
        Picture picture;
        size_t pixels = static_cast<size_t>(width) * height;
        std::vector<double> luma(pixels);
        for (size_t i = 0; i < pixels; ++i) {
            double r = image[4 * i], g = image[4 * i + 1], b = image[4 * i + 2];
            luma[i] = 0.3 * r + 0.59 * g + 0.11 * b;
            picture.meanLuma += luma[i] / pixels;
            picture.meanChroma += (std::max({r, g, b}) - std::min({r, g, b})) / pixels;
        }
        for (double l : luma)
            picture.lumaSpread += (l - picture.meanLuma) * (l - picture.meanLuma) / pixels;
        picture.lumaSpread = std::sqrt(picture.lumaSpread);
        pictures.push_back(picture);
    }
    return pictures;
}

GLuint compile(GLenum stage, const fs::path& path, std::string& log) {
    std::ifstream file(path);
    std::string source((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    GLuint shader = glCreateShader(stage);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char buffer[4096] = {};
        glGetShaderInfoLog(shader, sizeof buffer, nullptr, buffer);
        log += path.string() + ": " + buffer;
    }
    return shader;
}

} // namespace

TEST(ExampleDemoTest, EditingConfigurationDiffersOnlyInMode) {
    Configuration release = readConfiguration("configuration.json");
    Configuration editing = readConfiguration("configuration-editing.json");
    EXPECT_TRUE(release.demo.release);
    EXPECT_FALSE(editing.demo.release);
    EXPECT_EQ(release.shaders.fragment, editing.shaders.fragment);
    EXPECT_EQ(release.tune.file, editing.tune.file);
    EXPECT_EQ(release.tune.BPM, editing.tune.BPM);
    EXPECT_EQ(release.sync.RPB, editing.sync.RPB);
    EXPECT_EQ(release.tracks.size(), editing.tracks.size());
    EXPECT_EQ(release.shaders.uniforms.size(), editing.shaders.uniforms.size());
    // The core profile needs 3.2 or later; the shaders are GLSL 330.
    EXPECT_EQ(release.shaders.majorVersion, 3);
    EXPECT_EQ(release.shaders.minorVersion, 3);
}

TEST(ExampleDemoTest, EveryImageDecodesAndEveryShaderTextureIsAnAsset) {
    Configuration config = readConfiguration("configuration.json");
    std::set<std::string> assets;
    for (const auto& asset : config.assets) {
        ASSERT_EQ(asset.type, Tolvane::Common::STATIC_TEXTURE) << asset.name;
        std::vector<unsigned char> image;
        unsigned width = 0;
        unsigned height = 0;
        EXPECT_EQ(lodepng::decode(image, width, height, (demoDir / asset.file).string()), 0u)
            << asset.file;
        assets.insert(asset.name);
    }
    ASSERT_EQ(config.shaders.textures.size(), 2u);
    for (const auto& name : config.shaders.textures)
        EXPECT_TRUE(assets.count(name)) << name;

    std::vector<unsigned char> icon;
    unsigned width = 0;
    unsigned height = 0;
    EXPECT_EQ(lodepng::decode(icon, width, height, (demoDir / config.demo.icon).string()), 0u);
    EXPECT_EQ(width, height);
}

TEST(ExampleDemoTest, TrackFilesAreWellFormedAndUseEveryInterpolation) {
    Configuration config = readConfiguration("configuration.json");
    double rowRate = config.tune.BPM / 60.0 * config.sync.RPB;
    std::set<int> types;
    for (const auto& track : config.tracks) {
        for (const auto& name : componentNames(track)) {
            fs::path path = demoDir / ("sync_" + name + ".track");
            ASSERT_TRUE(fs::exists(path)) << path;
            std::string problem;
            std::vector<Key> keys = readTrack(path, problem);
            ASSERT_TRUE(problem.empty()) << path << ": " << problem;
            for (size_t i = 0; i < keys.size(); ++i) {
                EXPECT_LE(keys[i].type, 3) << path << " key " << i;
                EXPECT_TRUE(std::isfinite(keys[i].value)) << path << " key " << i;
                if (i > 0) {
                    EXPECT_LT(keys[i - 1].row, keys[i].row) << path << " key " << i;
                }
                types.insert(keys[i].type);
            }
            EXPECT_GE(keys.front().row, 0) << path;
            EXPECT_LE(keys.back().row, 61.0 * rowRate)
                << path << " has keys past the end of the tune";
        }
    }
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 3}));
}

TEST(ExampleDemoTest, ShadersBuildAndDeclareEveryBoundUniformWithItsTrackType) {
    GlContext context;
    ASSERT_TRUE(context.ok());
    Configuration config = readConfiguration("configuration.json");
    std::string log;
    GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, demoDir / config.shaders.vertex, log));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, demoDir / config.shaders.fragment, log));
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    ASSERT_TRUE(linked) << log;

    // The GL type every bound uniform must have: a float per track component.
    auto expectedType = [&](const std::string& track) -> GLenum {
        if (track == "time")
            return GL_FLOAT;
        if (track == "resolution")
            return GL_FLOAT_VEC2;
        for (const auto& t : config.tracks) {
            if (t.name == track)
                return t.type == Tolvane::Common::FLOAT1   ? GL_FLOAT
                       : t.type == Tolvane::Common::FLOAT2 ? GL_FLOAT_VEC2
                                                           : GL_FLOAT_VEC3;
        }
        ADD_FAILURE() << "uniform bound to undeclared track " << track;
        return GL_NONE;
    };
    auto activeType = [&](const std::string& name) -> GLenum {
        GLint count = 0;
        glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
        for (GLint i = 0; i < count; ++i) {
            char buffer[256];
            GLint size = 0;
            GLenum type = GL_NONE;
            glGetActiveUniform(program, static_cast<GLuint>(i), sizeof buffer, nullptr, &size,
                               &type, buffer);
            if (name == buffer)
                return type;
        }
        return GL_NONE; // not declared, or unused and removed by the compiler
    };
    for (const auto& bond : config.shaders.uniforms)
        EXPECT_EQ(activeType(bond.variable), expectedType(bond.track)) << bond.variable;
    for (const auto& name : config.shaders.textures)
        EXPECT_EQ(activeType(name), static_cast<GLenum>(GL_SAMPLER_2D)) << name;
    glDeleteProgram(program);
}

TEST(ExampleDemoTest, TuneDecodesToAMinuteWithAQuietIntroAndALoudDrop) {
    Configuration config = readConfiguration("configuration.json");
    SF_INFO info{};
    SNDFILE* file = sf_open((demoDir / config.tune.file).string().c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.samplerate, config.tune.frequency);
    double seconds = static_cast<double>(info.frames) / info.samplerate;
    EXPECT_GT(seconds, 60.0);
    EXPECT_LT(seconds, 62.0);

    // Loudness of a stretch of the tune, as RMS of all channels.
    auto rms = [&](double from, double length) {
        sf_seek(file, static_cast<sf_count_t>(from * info.samplerate), SEEK_SET);
        std::vector<float> samples(static_cast<size_t>(length * info.samplerate) * info.channels);
        sf_count_t frames =
            sf_readf_float(file, samples.data(), static_cast<sf_count_t>(length * info.samplerate));
        double sum = 0;
        for (sf_count_t i = 0; i < frames * info.channels; ++i)
            sum += samples[i] * samples[i];
        return frames > 0 ? std::sqrt(sum / (frames * info.channels)) : 0.0;
    };
    double intro = rms(0.5, 3.0);
    double drop = rms(26.0, 8.0);
    EXPECT_GT(intro, 0.02);
    EXPECT_GT(drop, 1.5 * intro);
    sf_close(file);
}

TEST(ExampleDemoTest, FramesFadeInFromBlackShowTheTunnelAndFadeOut) {
    fs::path out = fs::temp_directory_path() / ("example-demo-" + std::to_string(::getpid()));
    fs::create_directories(out);
    std::vector<Picture> frames = framesAt({"0.0", "30.0", "44.0", "60.5"}, out);
    fs::remove_all(out);
    ASSERT_EQ(frames.size(), 4u);
    const Picture& start = frames[0];
    const Picture& drop = frames[1];
    const Picture& breakdown = frames[2];
    const Picture& end = frames[3];

    EXPECT_LT(start.meanLuma, 12.0);
    EXPECT_LT(end.meanLuma, 12.0);
    for (const Picture& p : {drop, breakdown}) {
        EXPECT_GT(p.meanLuma, 50.0);
        EXPECT_LT(p.meanLuma, 220.0);
        EXPECT_GT(p.lumaSpread, 20.0); // structure, not a flat fill
        EXPECT_GT(p.meanChroma, 30.0); // graded in colour, not grey
    }
}
