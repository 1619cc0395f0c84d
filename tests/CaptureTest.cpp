// tolvane-capture run as a user runs it, in the demo's directory: the frames
// it writes are decoded and checked pixel by pixel against the track files'
// keys, evaluated here independently; the WAV is checked sample by sample
// against the tune; a video's streams are measured with ffprobe; and every
// request the tool must refuse is refused with a message and an exit status.
//
// The tool runs without leak checking: under the sanitizers, the leak
// checker's slow stack walks make the software rasteriser's shader compiler
// take minutes, and the GL driver's own allocations are not ours to check.

#include "Harness.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <lodepng.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace fs = std::filesystem;
using Tolvane::Testing::Key;
using Tolvane::Testing::TempDir;
using Tolvane::Testing::trackFile;

namespace {

const fs::path demoDir = fs::path(TOLVANE_SOURCE_DIR) / "examples" / "demo";

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

struct Result {
    int status = -1;
    std::string output; // standard output and error together
};

// Runs the capture tool in directory with arguments; environment entries
// ("PATH=...") are set for it alone.
Result capture(const std::string& directory, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {}) {
    const std::string log = directory + "/.capture-output";
    std::string command = "cd " + quote(directory) + " && env ASAN_OPTIONS=detect_leaks=0";
    for (const std::string& entry : environment) {
        command += " " + quote(entry);
    }
    command += " " + quote(TOLVANE_CAPTURE);
    for (const std::string& argument : arguments) {
        command += " " + quote(argument);
    }
    command += " > " + quote(log) + " 2>&1";
    Result result;
    const int status = std::system(command.c_str());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream file(log);
    result.output.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    fs::remove(log);
    return result;
}

std::string readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// --- Keys, written to track files and evaluated here ------------------------

// The keyed value at a fractional row: before the first key its value, from
// the last key on its value, in between the first key's curve.
double evaluate(const std::vector<Key>& keys, double row) {
    if (row < keys.front().row) {
        return keys.front().value;
    }
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        const Key& a = keys[i];
        const Key& b = keys[i + 1];
        if (row >= a.row && row < b.row) {
            double t = (row - a.row) / (b.row - a.row);
            switch (a.type) {
            case KEY_STEP:
                t = 0.0;
                break;
            case KEY_SMOOTH:
                t = t * t * (3.0 - 2.0 * t);
                break;
            case KEY_RAMP:
                t = t * t;
                break;
            default:
                break;
            }
            return a.value + (b.value - a.value) * t;
        }
    }
    return keys.back().value;
}

// The byte a colour channel of value v is stored as.
int channelByte(double v) {
    return static_cast<int>(std::lround(std::min(1.0, std::max(0.0, v)) * 255.0));
}

// --- A small demo of the test's own ------------------------------------------

constexpr double ROW_RATE = 120.0 / 60.0 * 8; // 120 BPM, 8 rows a beat
constexpr int TUNE_RATE = 22050;
constexpr double TUNE_SECONDS = 2.0;

const std::vector<Key> RED_KEYS = {{0, 0.0f, KEY_LINEAR}, {16, 1.0f, KEY_STEP}};
const std::vector<Key> GREEN_KEYS = {
    {0, 0.1f, KEY_SMOOTH}, {12, 0.9f, KEY_LINEAR}, {20, 0.2f, KEY_STEP}};
const std::vector<Key> BLUE_KEYS = {{2, 0.0f, KEY_RAMP}, {14, 1.0f, KEY_STEP}};

// The left half of the picture shows the "colour" track; the right half
// shows time / 2 in red, with blue in its upper half only. The halves meet at
// resolution.x / 2; GL counts rows from the bottom, pictures from the top.
const char* const FRAGMENT_SHADER = R"(#version 330 core
uniform vec3 colour;
uniform float time;
uniform vec2 resolution;
out vec4 result;
void main() {
    if (gl_FragCoord.x < resolution.x * 0.5)
        result = vec4(colour, 1.0);
    else
        result = vec4(time * 0.5, 0.0, gl_FragCoord.y >= resolution.y * 0.5 ? 1.0 : 0.0, 0.5);
}
)";

// The tune's sample frame i: every sample of the two seconds differs from
// its neighbours, so an excerpt that starts one frame off shows.
int16_t tuneSample(int64_t i) {
    return static_cast<int16_t>((i * 7919) % 65536 - 32768);
}

struct TestDemo {
    TempDir dir;

    explicit TestDemo(int width = 64, int height = 48) {
        dir.write("configuration.json", R"({
  "demo": { "release": true },
  "screen": { "width": )" + std::to_string(width) +
                                            R"(, "height": )" + std::to_string(height) + R"( },
  "music": { "file": "tune.wav", "BPM": 120, "frequency": 22050 },
  "sync": { "RPB": 8 },
  "shaders": {
    "vertex": "shaders/vertex.glsl", "fragment": "shaders/fragment.glsl",
    "majorVersion": 3, "minorVersion": 3,
    "uniforms": [
      { "track": "colour", "variable": "colour" },
      { "track": "time", "variable": "time" },
      { "track": "resolution", "variable": "resolution" }
    ]
  },
  "tracks": [ { "track": "colour", "type": "float3" }, { "track": "unkeyed", "type": "float1" } ]
})");
        dir.write("shaders/vertex.glsl", Tolvane::Testing::passThroughVertexShader());
        dir.write("shaders/fragment.glsl", std::string(FRAGMENT_SHADER));
        dir.write("sync_colour.x.track", trackFile(RED_KEYS));
        dir.write("sync_colour.y.track", trackFile(GREEN_KEYS));
        dir.write("sync_colour.z.track", trackFile(BLUE_KEYS));

        SF_INFO info{};
        info.samplerate = TUNE_RATE;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* tune = sf_open(dir.file("tune.wav").c_str(), SFM_WRITE, &info);
        std::vector<int16_t> samples(static_cast<size_t>(TUNE_SECONDS * TUNE_RATE));
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = tuneSample(static_cast<int64_t>(i));
        }
        sf_writef_short(tune, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(tune);
    }

    Result run(const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {}) {
        std::vector<std::string> all = {"configuration.json"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return capture(dir.path(), all, environment);
    }
};

struct Png {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<unsigned char> rgb;

    const unsigned char* at(unsigned x, unsigned y) const { return &rgb[(y * width + x) * 3]; }
};

Png readPng(const fs::path& path) {
    Png png;
    EXPECT_EQ(lodepng::decode(png.rgb, png.width, png.height, path.string(), LCT_RGB, 8), 0u)
        << path;
    return png;
}

struct Wav {
    SF_INFO info{};
    std::vector<int16_t> samples;
};

Wav readWav(const fs::path& path) {
    Wav wav;
    SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &wav.info);
    EXPECT_NE(file, nullptr) << path;
    if (file != nullptr) {
        wav.samples.resize(static_cast<size_t>(wav.info.frames * wav.info.channels));
        sf_readf_short(file, wav.samples.data(), wav.info.frames);
        sf_close(file);
    }
    return wav;
}

} // namespace

TEST(CaptureTest, FrameNShowsTheTracksAndTimeAtFromPlusNOverFps) {
    TestDemo demo;
    // 20 frames a second from 0.25 s up to 0.75 s: ten frames, rows 4 to 11.2.
    const Result result = demo.run(
        {"--out", "frames", "--size", "32x16", "--fps", "20", "--from", "0.25", "--to", "0.75"});
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("sync_unkeyed.track"), std::string::npos)
        << "a configured track without a file is reported:\n"
        << result.output;

    const fs::path frames = fs::path(demo.dir.path()) / "frames";
    EXPECT_FALSE(fs::exists(frames / "frame-000010.png"))
        << "a frame at the end of the range is one too many";
    for (int n = 0; n < 10; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%06d.png", n);
        const Png png = readPng(frames / name);
        ASSERT_EQ(png.width, 32u);
        ASSERT_EQ(png.height, 16u);

        const double time = 0.25 + n / 20.0;
        const double row = static_cast<float>(time * ROW_RATE);
        const int expected[3] = {channelByte(evaluate(RED_KEYS, row)),
                                 channelByte(evaluate(GREEN_KEYS, row)),
                                 channelByte(evaluate(BLUE_KEYS, row))};
        // The whole left half, to the last column before resolution.x / 2.
        for (unsigned x : {0u, 8u, 15u}) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(png.at(x, 8)[c], expected[c], 1)
                    << name << " column " << x << " channel " << c;
            }
        }
        // The right half: time / 2 in red, blue above. Its alpha of 0.5 is
        // not in the file: the picture is stored as seen.
        for (unsigned x : {16u, 31u}) {
            EXPECT_NEAR(png.at(x, 8)[0], channelByte(time * 0.5), 1) << name << " column " << x;
            EXPECT_EQ(png.at(x, 0)[2], 255) << name << " column " << x << ", top row";
            EXPECT_EQ(png.at(x, 7)[2], 255) << name << " column " << x;
            EXPECT_EQ(png.at(x, 8)[2], 0) << name << " column " << x;
            EXPECT_EQ(png.at(x, 15)[2], 0) << name << " column " << x << ", bottom row";
        }
    }
}

TEST(CaptureTest, AudioCoversTheRangeToTheSample) {
    TestDemo demo;
    const Result result = demo.run(
        {"--out", "out", "--size", "16x16", "--fps", "10", "--from", "0.3", "--to", "1.1"});
    ASSERT_EQ(result.status, 0) << result.output;
    const Wav wav = readWav(fs::path(demo.dir.path()) / "out" / "audio.wav");
    EXPECT_EQ(wav.info.samplerate, TUNE_RATE);
    EXPECT_EQ(wav.info.channels, 1);
    const int64_t first = std::llround(0.3 * TUNE_RATE);
    ASSERT_EQ(wav.info.frames, std::llround(1.1 * TUNE_RATE) - first);
    for (size_t i = 0; i < wav.samples.size(); ++i) {
        ASSERT_EQ(wav.samples[i], tuneSample(first + static_cast<int64_t>(i))) << "sample " << i;
    }

    // Without a range: the whole tune, every sample of it.
    const Result whole = demo.run({"--out", "whole", "--size", "16x16", "--fps", "2"});
    ASSERT_EQ(whole.status, 0) << whole.output;
    const Wav all = readWav(fs::path(demo.dir.path()) / "whole" / "audio.wav");
    EXPECT_EQ(all.info.frames, static_cast<sf_count_t>(TUNE_SECONDS * TUNE_RATE));
    EXPECT_TRUE(fs::exists(fs::path(demo.dir.path()) / "whole" / "frame-000003.png"));
    EXPECT_FALSE(fs::exists(fs::path(demo.dir.path()) / "whole" / "frame-000004.png"));
}

TEST(CaptureTest, BundledDemoCapturedTwiceIsByteIdentical) {
    TempDir out;
    // Three frames of the drop, small.
    const std::vector<std::string> arguments = {
        "configuration.json", "--size", "96x54", "--from", "30", "--to", "30.05", "--out"};
    std::vector<std::string> first = arguments;
    first.push_back(out.file("first"));
    std::vector<std::string> second = arguments;
    second.push_back(out.file("second"));
    const Result one = capture(demoDir.string(), first);
    ASSERT_EQ(one.status, 0) << one.output;
    const Result two = capture(demoDir.string(), second);
    ASSERT_EQ(two.status, 0) << two.output;
    EXPECT_EQ(one.output.find("warning"), std::string::npos) << one.output;

    for (const char* name :
         {"frame-000000.png", "frame-000001.png", "frame-000002.png", "audio.wav"}) {
        const std::string a = readBytes(fs::path(out.file("first")) / name);
        ASSERT_FALSE(a.empty()) << name;
        EXPECT_TRUE(a == readBytes(fs::path(out.file("second")) / name))
            << name << " differs between captures";
    }
    EXPECT_FALSE(fs::exists(fs::path(out.file("first")) / "frame-000003.png"));
    // Consecutive frames of a moving demo differ.
    EXPECT_NE(readBytes(fs::path(out.file("first")) / "frame-000000.png"),
              readBytes(fs::path(out.file("first")) / "frame-000001.png"));

    // The tune is an MP3: the excerpt keeps its rate and channels, sample-exact.
    const Wav wav = readWav(fs::path(out.file("first")) / "audio.wav");
    EXPECT_EQ(wav.info.samplerate, 44100);
    EXPECT_EQ(wav.info.channels, 2);
    EXPECT_EQ(wav.info.frames, std::llround(30.05 * 44100) - std::llround(30.0 * 44100));
}

TEST(CaptureTest, VideoLastsTheRangeAndShowsTheFrames) {
    TestDemo demo;
    const Result result = demo.run({"--video", "capture.mp4", "--size", "32x16", "--fps", "20",
                                    "--from", "0.25", "--to", "0.75"});
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string video = demo.dir.file("capture.mp4");

    const std::string probe = demo.dir.file("probe.json");
    const std::string command =
        "ffprobe -v error -count_frames -show_streams -show_format -of json " + quote(video) +
        " > " + quote(probe);
    ASSERT_EQ(std::system(command.c_str()), 0);
    Json::Value info;
    std::ifstream probeFile(probe);
    ASSERT_TRUE(Json::Reader().parse(probeFile, info));
    const Json::Value* videoStream = nullptr;
    const Json::Value* audioStream = nullptr;
    for (const Json::Value& stream : info["streams"]) {
        (stream["codec_type"].asString() == "video" ? videoStream : audioStream) = &stream;
    }
    ASSERT_NE(videoStream, nullptr);
    ASSERT_NE(audioStream, nullptr);
    EXPECT_EQ((*videoStream)["codec_name"].asString(), "h264");
    EXPECT_EQ((*videoStream)["width"].asInt(), 32);
    EXPECT_EQ((*videoStream)["height"].asInt(), 16);
    EXPECT_EQ((*videoStream)["nb_read_frames"].asString(), "10");
    EXPECT_NEAR(std::stod((*videoStream)["duration"].asString()), 0.5, 1e-3);
    EXPECT_EQ((*audioStream)["codec_name"].asString(), "aac");
    EXPECT_EQ((*audioStream)["sample_rate"].asString(), std::to_string(TUNE_RATE));
    // AAC codes sound in blocks of 1024 samples.
    EXPECT_NEAR(std::stod((*audioStream)["duration"].asString()), 0.5, 1024.0 / TUNE_RATE);
    EXPECT_NEAR(std::stod(info["format"]["duration"].asString()), 0.5, 1024.0 / TUNE_RATE);

    // No frames are kept, and no WAV without --out.
    for (const auto& entry : fs::directory_iterator(demo.dir.path())) {
        EXPECT_NE(entry.path().extension(), ".png") << entry.path();
    }

    // The first frame decodes to the colours drawn, give or take the
    // video's chroma subsampling and quantisation.
    const std::string raw = demo.dir.file("first.rgb");
    const std::string decode = "ffmpeg -v error -i " + quote(video) +
                               " -frames:v 1 -f rawvideo -pix_fmt rgb24 -y " + quote(raw);
    ASSERT_EQ(std::system(decode.c_str()), 0);
    const std::string pixels = readBytes(raw);
    ASSERT_EQ(pixels.size(), 32u * 16u * 3u);
    const double row = static_cast<float>(0.25 * ROW_RATE);
    auto pixel = [&](int x, int y, int c) {
        return static_cast<unsigned char>(pixels[(y * 32 + x) * 3 + c]);
    };
    EXPECT_NEAR(pixel(4, 8, 0), channelByte(evaluate(RED_KEYS, row)), 12);
    EXPECT_NEAR(pixel(4, 8, 1), channelByte(evaluate(GREEN_KEYS, row)), 12);
    EXPECT_NEAR(pixel(4, 8, 2), channelByte(evaluate(BLUE_KEYS, row)), 12);
    EXPECT_NEAR(pixel(27, 3, 0), channelByte(0.125), 12);
    EXPECT_NEAR(pixel(27, 3, 2), 255, 12);
    EXPECT_NEAR(pixel(27, 12, 2), 0, 12);
}

TEST(CaptureTest, BadSizeRangeOrRateIsRefusedWithAMessage) {
    TestDemo demo;
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"--out", "o", "--size", "0x16"}, "bad size"},
        {{"--out", "o", "--size", "32"}, "bad size"},
        {{"--out", "o", "--size", "32x-4"}, "bad size"},
        {{"--out", "o", "--size", "wide x tall"}, "bad size"},
        {{"--video", "v.mp4", "--size", "33x16"}, "even width and height"},
        {{"--out", "o", "--from", "1", "--to", "0.5"}, "bad range"},
        {{"--out", "o", "--from", "0.5", "--to", "0.5"}, "bad range"},
        {{"--out", "o", "--from", "-1"}, "bad range"},
        {{"--out", "o", "--to", "soon"}, "bad range"},
        {{"--out", "o", "--to", "2.5"}, "past the end of the tune"},
        {{"--out", "o", "--from", "2"}, "bad range"},
        {{"--out", "o", "--fps", "0"}, "bad frame rate"},
        {{"--out", "o", "--fps", "30/0"}, "bad frame rate"},
        {{"--size", "32x16"}, "--out DIR"},
    };
    for (const Case& c : cases) {
        const Result result = demo.run(c.arguments);
        std::string shown;
        for (const auto& a : c.arguments) {
            shown += a + " ";
        }
        EXPECT_EQ(result.status, 2) << shown << "\n" << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << shown << "\n"
                                                                    << result.output;
    }
    EXPECT_FALSE(demo.dir.exists("o")) << "a refused request writes nothing";

    // Past what the GL can draw: found once the GL is up.
    const Result huge = demo.run({"--out", "o", "--size", "65536x65536", "--to", "0.1"});
    EXPECT_EQ(huge.status, 2) << huge.output;
    EXPECT_NE(huge.output.find("bad size"), std::string::npos) << huge.output;
}

TEST(CaptureTest, UnwritableOutputFailsWithAMessage) {
    TestDemo demo;
    demo.dir.write("plain-file", std::string("not a directory"));
    for (const char* out : {"plain-file", "plain-file/frames"}) {
        const Result result = demo.run({"--out", out, "--to", "0.1"});
        EXPECT_EQ(result.status, 1) << out << "\n" << result.output;
        EXPECT_NE(result.output.find("cannot write to the output directory"), std::string::npos)
            << out << "\n"
            << result.output;
    }
    const Result video = demo.run({"--video", "plain-file/capture.mp4", "--to", "0.1"});
    EXPECT_EQ(video.status, 1) << video.output;
    EXPECT_NE(video.output.find("cannot write the video"), std::string::npos) << video.output;
}

TEST(CaptureTest, VideoWithoutAWorkingFfmpegFailsWithAMessage) {
    TestDemo demo;
    demo.dir.write("capture.mp4", std::string("an earlier video"));
    TempDir bin;
    const Result missing =
        demo.run({"--video", "capture.mp4", "--to", "0.1"}, {"PATH=" + bin.path()});
    EXPECT_EQ(missing.status, 1) << missing.output;
    EXPECT_NE(missing.output.find("ffmpeg is not on PATH"), std::string::npos) << missing.output;
    EXPECT_EQ(demo.dir.read("capture.mp4"), "an earlier video") << "nothing is touched";

    // An ffmpeg that gives up at once: the capture fails rather than report
    // a video that was never made, and leaves no broken file behind.
    bin.write("ffmpeg", std::string("#!/bin/sh\necho 'ffmpeg: out of luck' >&2\nexit 3\n"));
    fs::permissions(bin.file("ffmpeg"), fs::perms::owner_all);
    const Result broken =
        demo.run({"--video", "capture.mp4", "--to", "0.1"}, {"PATH=" + bin.path()});
    EXPECT_EQ(broken.status, 1) << broken.output;
    EXPECT_NE(broken.output.find("ffmpeg failed with exit status 3"), std::string::npos)
        << broken.output;
    EXPECT_NE(broken.output.find("out of luck"), std::string::npos)
        << "ffmpeg's own words are shown";
    EXPECT_FALSE(demo.dir.exists("capture.mp4"));
}

TEST(CaptureTest, DemoThatCannotBeDrawnFailsWithAMessage) {
    TestDemo demo;
    // The working directory decides where the files are, as in the player.
    const Result elsewhere =
        capture(demo.dir.path() + "/shaders", {"../configuration.json", "--out", "o"});
    EXPECT_EQ(elsewhere.status, 1) << elsewhere.output;
    EXPECT_NE(elsewhere.output.find("cannot open the tune \"tune.wav\""), std::string::npos)
        << elsewhere.output;
    EXPECT_NE(elsewhere.output.find("relative to the working directory"), std::string::npos)
        << elsewhere.output;

    const Result missing = capture(demo.dir.path(), {"nowhere.json", "--out", "o"});
    EXPECT_EQ(missing.status, 1) << missing.output;
    EXPECT_NE(missing.output.find("cannot read the configuration \"nowhere.json\""),
              std::string::npos)
        << missing.output;

    demo.dir.write("shaders/fragment.glsl",
                   std::string("#version 330 core\nvoid main() { nonsense; }\n"));
    const Result broken = demo.run({"--out", "o", "--to", "0.1"});
    EXPECT_EQ(broken.status, 1) << broken.output;
    EXPECT_NE(broken.output.find("the shader program does not build"), std::string::npos)
        << broken.output;
    EXPECT_NE(broken.output.find("nonsense"), std::string::npos) << "the GL's log is shown:\n"
                                                                 << broken.output;
}
