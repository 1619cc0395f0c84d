// End-to-end tests of what the real player draws: the "time" and
// "resolution" uniforms, the viewport after a resize and in full screen, PNG
// textures reaching their samplers, and a shader that fails to build. Values
// are encoded in colours and read back from the window.

#include "Harness.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <thread>

using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Draws the configured size as (width / 1000, height / 1000) in red and
// green and the music time in blue, as time / 16.
const char* const TIME_AND_RESOLUTION_SHADER = R"(#version 330 core
uniform float time;
uniform vec2 resolution;
out vec4 colour;
void main() { colour = vec4(resolution / 1000.0, time / 16.0, 1.0); }
)";

const std::string TIME_AND_RESOLUTION_BONDS =
    R"(,
  "music": { "file": "tone.wav", "frequency": 44100 })";

// The configuration for a demo with the time and resolution bonds. The
// uniform list lives in the "shaders" section, which basicConfiguration
// writes itself: the document is built here whole instead.
std::string timeAndResolutionConfiguration(bool release, int width, int height) {
    std::string text = basicConfiguration(release, width, height, TIME_AND_RESOLUTION_BONDS);
    const std::string anchor = "\"minorVersion\": 3";
    text.insert(text.find(anchor) + anchor.size(),
                R"(,
               "uniforms": [ { "track": "time", "variable": "time" },
                             { "track": "resolution", "variable": "resolution" } ])");
    return text;
}

// Writes the shaders and configuration of a demo that draws the configured
// size and the music time (TIME_AND_RESOLUTION_SHADER).
void writeTimeAndResolutionDemo(TempDir& dir, bool release, int width, int height) {
    dir.write("shaders/vertex.glsl", passThroughVertexShader());
    dir.write("shaders/fragment.glsl", TIME_AND_RESOLUTION_SHADER);
    dir.write("configuration.json", timeAndResolutionConfiguration(release, width, height));
}

int channel(double value) {
    return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

bool near(int actual, int expected, int tolerance = 1) {
    return std::abs(actual - expected) <= tolerance;
}

// The music time shown by a pixel of the time-and-resolution shader.
double timeAt(const Image& image, int x, int y) {
    return image.at(x, y)[2] / 255.0 * 16.0;
}

// Whether every pixel of the image shows the configured size.
bool showsSizeEverywhere(const Image& image, int width, int height) {
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const auto pixel = image.at(x, y);
            if (!near(pixel[0], channel(width / 1000.0)) ||
                !near(pixel[1], channel(height / 1000.0))) {
                return false;
            }
        }
    }
    return true;
}

std::vector<uint8_t> solidPng(unsigned width, unsigned height, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<unsigned char> pixels;
    for (unsigned i = 0; i < width * height; ++i) {
        pixels.insert(pixels.end(), {r, g, b, 255});
    }
    std::vector<unsigned char> png;
    lodepng::encode(png, pixels, width, height);
    return png;
}

bool startAndWait(Player& player) {
    return player.start() && player.waitForWindow() != 0;
}

// Starts an editing-mode player and hides its on-screen log (key C), which
// would otherwise cover most of a small window.
bool startWithoutLog(Player& player) {
    if (!startAndWait(player)) {
        return false;
    }
    player.pressKey(0x0063); // c
    return true;
}

} // namespace

TEST(PlayerRender, TimeAndResolutionUniformsShowTheMusicTimeAndTheConfiguredSize) {
    Player player;
    ASSERT_TRUE(writeTone(player.dir(), "tone.wav", 20.0));
    writeTimeAndResolutionDemo(player.dir(), false, 200, 150);
    ASSERT_TRUE(startWithoutLog(player)) << player.standardOutput();

    const Image first = player.waitForImage([](const Image& image) {
        return image.width == 200 && showsSizeEverywhere(image, 200, 150);
    });
    ASSERT_TRUE(showsSizeEverywhere(first, 200, 150)) << "resolution (200, 150) in red and green";
    first.savePng(player.dir().file("first.png"));

    // The time advances with the music, which plays in real time.
    const Image early =
        player.waitForImage([](const Image& image) { return timeAt(image, 100, 75) >= 0.5; });
    const auto earlyWall = Clock::now();
    const double earlyTime = timeAt(early, 100, 75);
    ASSERT_GE(earlyTime, 0.5);
    const Image late = player.waitForImage(
        [&](const Image& image) { return timeAt(image, 100, 75) >= earlyTime + 1.5; });
    const double lateTime = timeAt(late, 100, 75);
    const double wall = std::chrono::duration<double>(Clock::now() - earlyWall).count();
    ASSERT_GE(lateTime, earlyTime + 1.5);
    EXPECT_LE(lateTime - earlyTime, wall + 0.5)
        << "the time runs no faster than the clock on the wall";
    EXPECT_EQ(late.at(0, 0), late.at(199, 149)) << "one time for the whole frame";

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    EXPECT_EQ(player.standardError(), "");
}

TEST(PlayerRender, ResizedWindowIsFilledWhileResolutionKeepsTheConfiguredSize) {
    Player player;
    writeTimeAndResolutionDemo(player.dir(), false, 200, 150);
    ASSERT_TRUE(startWithoutLog(player)) << player.standardOutput();
    ASSERT_TRUE(showsSizeEverywhere(player.waitForImage([](const Image& image) {
        return image.width == 200 && showsSizeEverywhere(image, 200, 150);
    }),
                                    200, 150));

    // Larger: the viewport follows the new framebuffer, so the picture
    // reaches every edge instead of staying in the old 200x150 corner.
    player.resize(320, 240);
    const Image larger = player.waitForImage([](const Image& image) {
        return image.width == 320 && image.height == 240 && showsSizeEverywhere(image, 200, 150);
    });
    larger.savePng(player.dir().file("larger.png"));
    EXPECT_EQ(larger.width, 320);
    EXPECT_TRUE(showsSizeEverywhere(larger, 200, 150))
        << "top-right corner " << int(larger.at(319, 0)[0]);

    player.resize(120, 90);
    const Image smaller = player.waitForImage([](const Image& image) {
        return image.width == 120 && image.height == 90 && showsSizeEverywhere(image, 200, 150);
    });
    EXPECT_EQ(smaller.width, 120);
    EXPECT_TRUE(showsSizeEverywhere(smaller, 200, 150));

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(PlayerRender, ReleaseModeFillsTheScreenWithTheConfiguredResolution) {
    Player player;
    ASSERT_TRUE(writeTone(player.dir(), "tone.wav", 20.0));
    writeTimeAndResolutionDemo(player.dir(), true, 200, 150);
    ASSERT_TRUE(startAndWait(player)) << player.standardOutput();

    const Image screen = player.waitForImage(
        [](const Image& image) {
            return image.width == 1280 && showsSizeEverywhere(image, 200, 150) &&
                   timeAt(image, 640, 360) > 0.2;
        },
        20s);
    screen.savePng(player.dir().file("release.png"));
    ASSERT_EQ(screen.width, 1280);
    ASSERT_EQ(screen.height, 720);
    EXPECT_TRUE(showsSizeEverywhere(screen, 200, 150))
        << "the whole 1280x720 screen shows the configured 200x150; top-right corner red "
        << int(screen.at(1279, 0)[0]);
    EXPECT_GT(timeAt(screen, 640, 360), 0.2) << "the music plays";

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(PlayerRender, TexturesReachTheirSamplersInTheShadersTextureOrder) {
    Player player;
    // The assets are listed in another order than the shader's textures, and
    // have different sizes; each sampler must see the image of its own name.
    player.dir().write("pics/left.png", solidPng(4, 4, 200, 40, 10));
    player.dir().write("pics/middle.png", solidPng(8, 2, 10, 190, 60));
    player.dir().write("pics/right.png", solidPng(1, 1, 30, 70, 220));
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    player.dir().write("shaders/fragment.glsl", R"(#version 330 core
uniform sampler2D left;
uniform sampler2D middle;
uniform sampler2D right;
out vec4 colour;
void main() {
    float third = gl_FragCoord.x / 50.0;
    vec2 centre = vec2(0.5);
    colour = third < 1.0 ? texture(left, centre) : third < 2.0 ? texture(middle, centre) : texture(right, centre);
}
)");
    std::string configuration = basicConfiguration(false, 150, 60, R"(,
  "assets": [ { "name": "right", "file": "pics/right.png", "type": "staticTexture" },
              { "name": "left", "file": "pics/left.png", "type": "staticTexture" },
              { "name": "middle", "file": "pics/middle.png", "type": "staticTexture" } ])");
    const std::string anchor = "\"minorVersion\": 3";
    configuration.insert(
        configuration.find(anchor) + anchor.size(),
        R"(, "textures": [ { "name": "left" }, { "name": "middle" }, { "name": "right" } ])");
    player.dir().write("configuration.json", configuration);
    ASSERT_TRUE(startWithoutLog(player)) << player.standardOutput();

    const auto matches = [](const Image& image, int x, std::array<int, 3> rgb) {
        const auto pixel = image.at(x, 30);
        return near(pixel[0], rgb[0]) && near(pixel[1], rgb[1]) && near(pixel[2], rgb[2]);
    };
    const Image frame = player.waitForImage([&](const Image& image) {
        return image.width == 150 && matches(image, 25, {200, 40, 10}) &&
               matches(image, 75, {10, 190, 60}) && matches(image, 125, {30, 70, 220});
    });
    frame.savePng(player.dir().file("textures.png"));
    ASSERT_EQ(frame.width, 150);
    EXPECT_TRUE(matches(frame, 25, {200, 40, 10})) << "unit 0: left";
    EXPECT_TRUE(matches(frame, 75, {10, 190, 60})) << "unit 1: middle";
    EXPECT_TRUE(matches(frame, 125, {30, 70, 220})) << "unit 2: right";

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(PlayerRender, ShaderThatFailsToCompileShowsBlackAndTheLogAndKeepsRunning) {
    Player player;
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    // Two faults, so that the log has two lines; the font on screen lacks
    // the underscore and the quotes they hold.
    player.dir().write("shaders/fragment.glsl",
                       "#version 330 core\nout vec4 colour;\n"
                       "void main() { colour = colour_r; }\nvoid main() {}\n");
    player.dir().write("configuration.json", basicConfiguration(false, 320, 240));
    ASSERT_TRUE(startAndWait(player)) << player.standardOutput();

    // The log's white letters sit in the bottom-left corner; the rest of the
    // frame is the black clear colour.
    const auto whiteInBottomLeft = [](const Image& image) {
        int white = 0;
        for (int y = image.height - 60; y < image.height; ++y) {
            for (int x = 0; x < image.width / 2; ++x) {
                const auto pixel = image.at(x, y);
                white += pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255;
            }
        }
        return white > 20;
    };
    const auto blackAbove = [](const Image& image, int rows) {
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const auto pixel = image.at(x, y);
                if (pixel[0] != 0 || pixel[1] != 0 || pixel[2] != 0) {
                    return false;
                }
            }
        }
        return true;
    };
    const Image failed = player.waitForImage([&](const Image& image) {
        return image.width == 320 && whiteInBottomLeft(image) && blackAbove(image, 80);
    });
    failed.savePng(player.dir().file("failed.png"));
    EXPECT_TRUE(whiteInBottomLeft(failed)) << "the build error shows in the log";
    EXPECT_TRUE(blackAbove(failed, 80)) << "the picture is the clear colour";

    // Still running frames: fixing the file and pressing R brings the picture.
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(player.running());
    player.dir().write("shaders/fragment.glsl", solidFragmentShader(0.0f, 1.0f, 0.0f));
    player.pressKey(0x0072); // r
    const Image fixed = player.waitForImage([](const Image& image) {
        const auto pixel = image.at(160, 20);
        return pixel[0] == 0 && pixel[1] == 255 && pixel[2] == 0;
    });
    EXPECT_EQ(fixed.at(160, 20)[1], 255) << "the rebuilt program draws";

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    // The terminal has the compiler's whole log, every line behind the
    // configured path, every character kept; the fixed build adds nothing.
    const std::string errors = player.standardError();
    EXPECT_NE(errors.find("shaders/fragment.glsl: 0:3("), std::string::npos) << errors;
    EXPECT_NE(errors.find("colour_r'"), std::string::npos) << errors;
    EXPECT_NE(errors.find("\nshaders/fragment.glsl: 0:4("), std::string::npos) << errors;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("shaders/fragment.glsl: ", 0), 0u) << line;
    }
}

TEST(PlayerRender, ReleaseModeShaderThatFailsToCompileShowsABlackScreenUntilTheMusicEnds) {
    Player player;
    ASSERT_TRUE(writeTone(player.dir(), "tone.wav", 1.5));
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    player.dir().write("shaders/fragment.glsl",
                       "#version 330 core\nvoid main() { undeclared = 1.0; }\n");
    player.dir().write(
        "configuration.json",
        basicConfiguration(true, 160, 120,
                           R"(, "music": { "file": "tone.wav", "frequency": 44100 })"));
    ASSERT_TRUE(startAndWait(player)) << player.standardOutput();

    const auto allBlack = [](const Image& image) {
        for (size_t i = 0; i < image.rgba.size(); i += 4) {
            if (image.rgba[i] != 0 || image.rgba[i + 1] != 0 || image.rgba[i + 2] != 0) {
                return false;
            }
        }
        return true;
    };
    // No picture and no log in release mode: black from corner to corner...
    const Image screen = player.waitForImage(
        [&](const Image& image) { return image.width == 1280 && allBlack(image); });
    EXPECT_EQ(screen.width, 1280);
    EXPECT_TRUE(allBlack(screen));
    // ...while the frame loop goes on until the music has played out.
    EXPECT_EQ(player.waitForExit(30s), 0);
    EXPECT_EQ(player.standardOutput(), "");
    EXPECT_EQ(player.standardError().rfind("shaders/fragment.glsl: ", 0), 0u)
        << "the log goes to the terminal";
}
