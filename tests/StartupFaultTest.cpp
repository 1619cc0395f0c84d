// The real player started on broken demo files, in both modes: configuration
// values of the wrong kind, window sizes no window system takes, a tune,
// an icon and a texture that are missing or not what their names say, and
// empty or missing shader files. The player never crashes: it stops with the
// window-creation failure where there can be no window, and otherwise plays
// on with what it has.

#include "Harness.h"
#include "LogPicture.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <array>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace Tolvane::Testing;

namespace {

// Left half: the good texture. Right half: the broken one, plus green 0.5.
const char* const TEXTURE_SHADER = R"(#version 330 core
uniform sampler2D good;
uniform sampler2D broken;
in vec2 place;
out vec4 colour;
void main() {
    colour = place.x < 0.5 ? vec4(texture(good, place).rgb, 1.0)
                           : vec4(texture(broken, place).rgb + vec3(0.0, 0.5, 0.0), 1.0);
}
)";

std::array<int, 3> rgbAt(const Image& image, double fx, double fy) {
    const auto pixel =
        image.at(static_cast<int>(fx * image.width), static_cast<int>(fy * image.height));
    return {pixel[0], pixel[1], pixel[2]};
}

std::string describe(const std::array<int, 3>& c) {
    return "(" + std::to_string(c[0]) + ", " + std::to_string(c[1]) + ", " + std::to_string(c[2]) +
           ")";
}

std::vector<uint8_t> redPng() {
    const std::vector<unsigned char> pixels = {255, 0, 0, 255, 255, 0, 0, 255,
                                               255, 0, 0, 255, 255, 0, 0, 255};
    std::vector<unsigned char> png;
    lodepng::encode(png, pixels, 2, 2);
    return png;
}

// A small PNG whose header claims 60000 x 60000 pixels at 16 bits a channel
// (28 GB decoded); its image data is that of a 2 x 2 image.
std::vector<uint8_t> hostileIcon() {
    std::vector<uint8_t> png = redPng();
    const uint8_t header[] = {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60, 16, 6};
    std::copy(std::begin(header), std::end(header), png.begin() + 16);
    const unsigned crc = lodepng_crc32(png.data() + 12, 17);
    for (int i = 0; i < 4; ++i) {
        png[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    }
    return png;
}

void writeShaders(TempDir& dir, const std::string& fragment) {
    dir.write("shaders/vertex.glsl", placeVertexShader());
    dir.write("shaders/fragment.glsl", fragment);
}

bool closesCleanly(Player& player) {
    player.requestClose();
    const int status = player.waitForExit();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(player.standardOutput(), "");
    EXPECT_EQ(withoutMusicNotice(player.standardError()), "");
    return status == 0;
}

} // namespace

TEST(StartupFaults, ValuesOfTheWrongKindOrSizeKeepTheirDefaultsAndTheDemoPlays) {
    const std::string extra = R"(,
  "music": { "file": ["tune.mp3"], "BPM": 1e308, "frequency": -44100 },
  "tracks": { "track": "fade" },
  "assets": [ 1, null, "image", { "type": 7, "name": {}, "file": [] },
              { "type": "dynamicTexture", "width": 1e300, "height": -1, "variables": 5 } ])";
    for (const bool release : {false, true}) {
        SCOPED_TRACE(release ? "release mode" : "editing mode");
        Player player;
        writeShaders(
            player.dir(),
            "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(0.0, 0.0, 1.0, 1.0); }\n");
        std::string text = basicConfiguration(release, 320, 240, extra);
        // A width of the wrong kind keeps the default 800; a height too big
        // for 32 bits keeps 600; the RPB is the largest 32-bit number.
        text.replace(text.find("\"width\": 320"), 12, "\"width\": \"320\"");
        text.replace(text.find("\"height\": 240"), 13, "\"height\": 1e10, \"FPS\": []");
        const std::string anchor = "\"sync\": { ";
        text.insert(text.find(anchor) + anchor.size(), "\"RPB\": 2147483647, ");
        text.insert(text.find("\"minorVersion\": 3") + 17,
                    R"(, "uniforms": 5, "textures": { "name": "x" })");
        player.dir().write("configuration.json", text);

        ASSERT_TRUE(player.start());
        ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
        if (!release) {
            const WindowGeometry geometry = player.geometry();
            EXPECT_EQ(geometry.width, 800);
            EXPECT_EQ(geometry.height, 600);
        }
        const Image image = player.waitForImage(
            [](const Image& shown) { return !shown.empty() && rgbAt(shown, 0.9, 0.9)[2] == 255; });
        EXPECT_EQ(rgbAt(image, 0.9, 0.9), (std::array<int, 3>{0, 0, 255})) << "the shader draws";
        EXPECT_TRUE(player.running());
        closesCleanly(player);
    }
}

TEST(StartupFaults, WindowSizesOutOfRangeFailWithTheWindowLibrarysMessage) {
    const std::vector<std::pair<int, int>> sizes = {
        {0, 600}, {-5, 600}, {800, -1}, {100000, 600}, {2147483647, 2147483647}};
    for (const bool release : {false, true}) {
        for (const auto& [width, height] : sizes) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) +
                         (release ? " release" : " editing"));
            Player player;
            writeShaders(player.dir(),
                         "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n");
            player.dir().write("configuration.json", basicConfiguration(release, width, height));
            EXPECT_EQ(runToExit(player), 255);
            EXPECT_EQ(player.standardOutput(),
                      "glfw error: 65540 Invalid window size " + std::to_string(width) + "x" +
                          std::to_string(height) + "window creation failed");
            EXPECT_EQ(player.standardError(), "");
        }
    }
}

TEST(StartupFaults, MissingOrBrokenTuneIconAndTextureLeaveTheDemoPlaying) {
    const std::string assets = R"(,
  "music": { "file": "tune.mp3", "frequency": 44100, "BPM": 120 },
  "assets": [ { "name": "good", "file": "good.png", "type": "staticTexture" },
              { "name": "broken", "file": "broken.png", "type": "staticTexture" } ])";
    const std::vector<uint8_t> good = redPng();
    // A PNG cut off in the middle of its image data.
    const std::vector<uint8_t> truncated(good.begin(),
                                         good.begin() + static_cast<long>(good.size() / 2));
    for (const bool present : {true, false}) {
        for (const bool release : {false, true}) {
            SCOPED_TRACE(std::string(present ? "broken files" : "missing files") +
                         (release ? ", release mode" : ", editing mode"));
            Player player;
            writeShaders(player.dir(), TEXTURE_SHADER);
            std::string text = basicConfiguration(release, 200, 100, assets);
            text.insert(text.find("\"release\": ") + 11 + (release ? 4 : 5),
                        ", \"icon\": \"icon.png\"");
            text.insert(text.find("\"minorVersion\": 3") + 17,
                        R"(, "textures": [ { "name": "good" }, { "name": "broken" } ])");
            player.dir().write("configuration.json", text);
            player.dir().write("good.png", good);
            if (present) {
                player.dir().write("broken.png", truncated);
                player.dir().write("icon.png", hostileIcon());
                player.dir().write("tune.mp3", std::string(4096, '\x55'));
            }

            ASSERT_TRUE(player.start());
            ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
            if (!release) {
                player.pressKey(0x0063); // c: hide the log, which covers the small window
            }
            const auto expectedPicture = [](const Image& shown) {
                return !shown.empty() && rgbAt(shown, 0.25, 0.9) == std::array<int, 3>{255, 0, 0} &&
                       rgbAt(shown, 0.75, 0.9) == std::array<int, 3>{0, 128, 0};
            };
            const Image image = player.waitForImage(expectedPicture);
            if (present && !release) {
                image.savePng(player.dir().file("broken-files.png"));
            }
            EXPECT_TRUE(expectedPicture(image))
                << "good texture " << describe(rgbAt(image, 0.25, 0.9)) << ", broken texture "
                << describe(rgbAt(image, 0.75, 0.9));
            EXPECT_FALSE(player.hasIcon());
            EXPECT_TRUE(player.running()) << "without music, even release mode plays until closed";
            closesCleanly(player);
        }
    }
}

TEST(StartupFaults, AnIconLargerThanTheWindowSystemTakesIsSkipped) {
    // 2048 pixels square is 16 MiB for the window system: more than an X
    // server takes in one request.
    const std::vector<unsigned char> pixels(size_t(2048) * 2048 * 4, 200);
    std::vector<unsigned char> png;
    ASSERT_EQ(lodepng::encode(png, pixels, 2048, 2048), 0u);
    Player player;
    writeShaders(player.dir(), "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n");
    std::string text = basicConfiguration(false, 200, 100);
    text.insert(text.find("\"release\": false") + 16, ", \"icon\": \"icon.png\"");
    player.dir().write("configuration.json", text);
    player.dir().write("icon.png", png);
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(player.running());
    EXPECT_FALSE(player.hasIcon());
    closesCleanly(player);
}

TEST(StartupFaults, EmptyOrMissingShaderFilesGiveABlackFrameAndTheDemoRunsOn) {
    for (const bool missing : {false, true}) {
        for (const bool release : {false, true}) {
            SCOPED_TRACE(std::string(missing ? "missing vertex file" : "empty fragment file") +
                         (release ? ", release mode" : ", editing mode"));
            Player player;
            writeShaders(player.dir(), "");
            if (missing) {
                player.dir().write(
                    "shaders/fragment.glsl",
                    "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n");
                player.dir().write(
                    "configuration.json",
                    basicConfiguration(release, 320, 240)
                        .replace(basicConfiguration(release, 320, 240).find("shaders/vertex.glsl"),
                                 19, "shaders/absent.glsl"));
            } else {
                player.dir().write("configuration.json", basicConfiguration(release, 320, 240));
            }
            ASSERT_TRUE(player.start());
            ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
            // In editing mode the log, over the lower part of the picture,
            // shows the banner and the build error; release mode shows none.
            const auto litPixels = [](const Image& shown) {
                int lit = 0;
                for (int y = 0; y < shown.height; ++y) {
                    for (int x = 0; x < shown.width; ++x) {
                        lit += shown.at(x, y)[0] > 128 ? 1 : 0;
                    }
                }
                return lit;
            };
            if (release) {
                std::this_thread::sleep_for(std::chrono::milliseconds(700));
            }
            const Image image = player.waitForImage([&](const Image& shown) {
                return !shown.empty() && (release || litPixels(shown) > 50);
            });
            if (!missing && !release) {
                image.savePng(player.dir().file("empty-shader.png"));
            }
            EXPECT_EQ(rgbAt(image, 0.95, 0.05), (std::array<int, 3>{0, 0, 0}))
                << "nothing but the clear colour";
            if (release) {
                EXPECT_EQ(litPixels(image), 0) << "release mode shows no log";
            } else {
                EXPECT_GT(litPixels(image), 50) << "the log shows";
            }
            EXPECT_TRUE(player.running());
            player.requestClose();
            EXPECT_EQ(player.waitForExit(), 0);
            EXPECT_EQ(player.standardOutput(), "");
            // The compiler's complaint about the empty source behind its
            // path, or the file that cannot be read.
            const std::string start =
                missing ? "cannot read shaders/absent.glsl: " : "shaders/fragment.glsl: ";
            EXPECT_EQ(withoutMusicNotice(player.standardError()).rfind(start, 0), 0u)
                << player.standardError();
        }
    }
}

TEST(StartupFaults, ShaderFilesThatAreNoTextFilesFailTheBuildWithALogLineAtStartAndOnR) {
    constexpr int W = 640;
    constexpr int H = 200;
    namespace fs = std::filesystem;
    Player player;
    writeShaders(player.dir(),
                 "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(0.0, 1.0, 0.0, 1.0); }\n");
    player.dir().write("configuration.json", basicConfiguration(false, W, H));
    const std::string fragment = player.dir().file("shaders/fragment.glsl");
    const std::string good = player.dir().read("shaders/fragment.glsl");
    fs::remove(fragment);
    ASSERT_EQ(mkfifo(fragment.c_str(), 0644), 0);

    // Each step puts something else where the fragment shader belongs; the
    // start, then every R, logs why it cannot be read and draws black.
    const std::vector<std::pair<std::function<void()>, std::string>> steps = {
        {[] {}, "not a regular file"},
        {[&] {
             fs::remove(fragment);
             fs::create_symlink("/dev/zero", fragment);
         },
         "not a regular file"},
        {[&] {
             fs::remove(fragment);
             fs::create_directory(fragment);
         },
         "a directory, not a file"},
        {[&] {
             fs::remove(fragment);
             player.dir().write("shaders/fragment.glsl", std::string(2 << 20, ' '));
         },
         "larger than 1048576 bytes"},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].second);
        steps[i].first();
        const std::string line = "[ERROR] cannot read shaders/fragment.glsl: " + steps[i].second;
        const std::string expected = renderedLineMasks({line}, W)[0];
        ASSERT_FALSE(expected.empty());
        if (i == 0) {
            ASSERT_TRUE(player.start());
            ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
        } else {
            player.pressKey(0x0072); // r
        }
        const Image image = player.waitForImage([&](const Image& shown) {
            return !shown.empty() && logLineCount(shown, H) == 7 + static_cast<int>(i) + 1 &&
                   logLineMask(shown, H, 0, W) == expected;
        });
        if (i == 0) {
            image.savePng(player.dir().file("fifo-shader.png"));
        }
        EXPECT_EQ(logLineMask(image, H, 0, W), expected);
        EXPECT_EQ(rgbAt(image, 0.95, 0.05), (std::array<int, 3>{0, 0, 0}));
        ASSERT_TRUE(player.running());
    }

    // A readable file again: R builds and draws.
    fs::remove(fragment);
    player.dir().write("shaders/fragment.glsl", good);
    player.pressKey(0x0072); // r
    const Image image = player.waitForImage(
        [](const Image& shown) { return !shown.empty() && rgbAt(shown, 0.95, 0.05)[1] == 255; });
    EXPECT_EQ(rgbAt(image, 0.95, 0.05), (std::array<int, 3>{0, 255, 0}));
    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    // The terminal has each reason too, in order.
    std::string reasons;
    for (const auto& step : steps) {
        reasons += "cannot read shaders/fragment.glsl: " + step.second + "\n";
    }
    EXPECT_EQ(withoutMusicNotice(player.standardError()), reasons);
}

TEST(StartupFaults, TrackNamesThatWouldSaveOutsideAreSkippedWithTheReasonOnTheConsoleOrInTheLog) {
    constexpr int W = 640;
    constexpr int H = 200;
    const std::string tracks = R"(,
  "tracks": [ { "track": "fade", "type": "float1" },
              { "track": "/../../outside/evil", "type": "float1" } ])";
    const std::string reason = "track \"/../../outside/evil\" is an absolute path: skipped";
    for (const bool release : {true, false}) {
        SCOPED_TRACE(release ? "release mode" : "editing mode");
        Player player;
        writeShaders(
            player.dir(),
            "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(0.0, 0.0, 1.0, 1.0); }\n");
        player.dir().write("configuration.json", basicConfiguration(release, W, H, tracks));
        ASSERT_TRUE(player.start());
        ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
        if (release) {
            EXPECT_TRUE(waitUntil([&] {
                return withoutMusicNotice(player.standardError()) == reason + "\n";
            })) << player.standardError();
            player.requestClose();
            EXPECT_EQ(player.waitForExit(), 0);
            EXPECT_EQ(withoutMusicNotice(player.standardError()), reason + "\n");
            EXPECT_EQ(player.standardOutput(), "");
            continue;
        }
        const std::string expected = renderedLineMasks({"[ERROR] " + reason}, W)[0];
        const Image image = player.waitForImage([&](const Image& shown) {
            return logLineCount(shown, H) == 8 && logLineMask(shown, H, 0, W) == expected;
        });
        image.savePng(player.dir().file("refused-track.png"));
        EXPECT_EQ(logLineCount(image, H), 8);
        EXPECT_EQ(logLineMask(image, H, 0, W), expected);
        closesCleanly(player);
    }
}
