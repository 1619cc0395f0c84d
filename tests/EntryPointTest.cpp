// End-to-end tests of start-up, the window and shutdown, against the real
// player on a private virtual display.

#include "Harness.h"

#include <gtest/gtest.h>
#include <lodepng.h>

using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

void writeShaders(TempDir& dir) {
    dir.write("shaders/vertex.glsl", passThroughVertexShader());
    dir.write("shaders/fragment.glsl", solidFragmentShader(0.0f, 0.5f, 1.0f));
}

// Starts the player on the basic demo with a solid colour and waits for its
// window.
::testing::AssertionResult startBasicDemo(Player& player, bool release) {
    writeShaders(player.dir());
    player.dir().write("configuration.json", basicConfiguration(release));
    if (!player.start() || player.waitForWindow() == 0) {
        return ::testing::AssertionFailure()
               << "the player did not start: " << player.standardOutput();
    }
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> iconPng() {
    std::vector<unsigned char> pixels(16 * 16 * 4, 200);
    std::vector<unsigned char> png;
    lodepng::encode(png, pixels, 16, 16);
    return png;
}

} // namespace

TEST(EntryPoint, EmptyVertexPathStopsWithItsMessageAndStatusOne) {
    Player player;
    player.dir().write("configuration.json", R"({ "shaders": { "vertex": "" } })");
    EXPECT_EQ(runToExit(player), 1);
    EXPECT_EQ(player.standardOutput(), "provide vertex and fragment shaders in configuration file");
    EXPECT_EQ(player.standardError(), "");
}

TEST(EntryPoint, WithoutADisplayTheWindowLibraryFailsToStartWithStatus255) {
    Player player;
    writeShaders(player.dir());
    player.dir().write("configuration.json", basicConfiguration(false));
    player.unsetEnvironment("DISPLAY");
    player.unsetEnvironment("WAYLAND_DISPLAY");
    EXPECT_EQ(runToExit(player), 255);
    EXPECT_EQ(player.standardOutput(), "glfwInit failed");
}

TEST(EntryPoint, DefaultContextVersionIsRefusedWithTheLibraryErrorThenOurs) {
    Player player;
    player.dir().write("configuration.json", R"({ "demo": { "release": false } })");
    EXPECT_EQ(runToExit(player), 255);
    EXPECT_EQ(player.standardOutput(),
              "glfw error: 65540 Context profiles are only defined for OpenGL version 3.2 and above"
              "window creation failed");
}

TEST(EntryPoint, FirstArgumentNamesTheConfigurationAndFurtherOnesAreIgnored) {
    Player player;
    player.dir().write("configuration.json", basicConfiguration(false));
    player.dir().write("other.json", R"({ "shaders": { "fragment": "" } })");
    EXPECT_EQ(runToExit(player, {"other.json", "configuration.json", "third"}), 1);
    EXPECT_EQ(player.standardOutput(), "provide vertex and fragment shaders in configuration file");
}

TEST(EntryPoint, HelpAndVersionPrintAndExitWithStatusZero) {
    Player version;
    EXPECT_EQ(runToExit(version, {"--version"}), 0);
    EXPECT_EQ(version.standardOutput(), std::string("tolvane ") + TOLVANE_VERSION + "\n");
    Player help;
    EXPECT_EQ(runToExit(help, {"--help"}), 0);
    EXPECT_EQ(help.standardOutput().rfind("Usage: tolvane [CONFIGURATION | FOLDER]\n", 0), 0u);
}

TEST(EntryPoint, AFolderArgumentPlaysTheDemoInItFromAnyWorkingDirectory) {
    Player player;
    // A name the track-file encoder would mangle: only the track names are
    // encoded, never the folder.
    const std::string folder = "my demo-1/";
    writeShaders(player.dir());
    player.dir().write(folder + "shaders/vertex.glsl", passThroughVertexShader());
    player.dir().write(folder + "shaders/fragment.glsl",
                       "#version 330 core\nuniform float level;\nout vec4 c;\n"
                       "void main() { c = vec4(level, 1.0 - level, 0.0, 1.0); }\n");
    player.dir().write(folder + "sync_level.track", trackFile({{0, 1.0f, 0}}));
    player.dir().write(folder + "configuration.json",
                       std::string(R"({ "demo": { "release": false }, "sync": { "host": ")") +
                           NO_EDITOR_HOST +
                           R"(" }, "screen": { "width": 320, "height": 240 },
                              "shaders": { "majorVersion": 3, "minorVersion": 3,
                                           "uniforms": [ { "track": "level", "variable": "level" } ] },
                              "tracks": [ { "track": "level", "type": "float1" } ] })");
    ASSERT_TRUE(player.start({folder}));
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    const Image frame =
        player.waitForImage([](const Image& image) { return image.at(160, 20)[0] == 255; });
    EXPECT_EQ(frame.at(160, 20)[0], 255) << "the folder's shader, fed from the folder's track file";
    EXPECT_EQ(frame.at(160, 20)[1], 0);
    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(EntryPoint, EditingModeOpensATitledWindowAndTheCloseControlEndsWithStatusZero) {
    Player player;
    ASSERT_TRUE(startBasicDemo(player, false));
    EXPECT_EQ(player.title(), "demogroup : demo");
    const WindowGeometry area = player.geometry();
    EXPECT_EQ(area.width, 800);
    EXPECT_EQ(area.height, 600);
    EXPECT_FALSE(player.hasIcon()) << "the default icon path does not exist: no icon is set";
    EXPECT_FALSE(player.cursorHidden());
    const Image frame = player.waitForImage(
        [](const Image& image) { return image.width == 800 && image.at(400, 300)[2] == 255; });
    ASSERT_EQ(frame.height, 600);
    EXPECT_EQ(frame.at(400, 300)[0], 0) << "the fragment shader paints (0, 0.5, 1)";
    EXPECT_NEAR(frame.at(400, 300)[1], 128, 1);
    EXPECT_EQ(frame.at(400, 300)[2], 255);
    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    EXPECT_EQ(player.standardError(), "");
}

TEST(EntryPoint, ConfiguredSizeTitleAndIconAreUsed) {
    Player player;
    writeShaders(player.dir());
    player.dir().write("art/icon.png", iconPng());
    player.dir().write(
        "configuration.json",
        R"({ "demo": { "release": false, "group": "crew", "name": "wave", "icon": "art/icon.png" },
                            "screen": { "width": 640, "height": 360 },
                            "shaders": { "majorVersion": 3, "minorVersion": 3 } })");
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    EXPECT_EQ(player.title(), "crew : wave");
    EXPECT_EQ(player.geometry().width, 640);
    EXPECT_EQ(player.geometry().height, 360);
    EXPECT_TRUE(waitUntil([&] { return player.hasIcon(); }))
        << "the icon is set just after the window appears";
    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(EntryPoint, BrokenIconIsSilentlySkipped) {
    Player player;
    writeShaders(player.dir());
    player.dir().write("assets/pics/qz.png", std::string("\x89PNG\r\n\x1a\n not really", 20));
    player.dir().write("configuration.json", basicConfiguration(false));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u);
    EXPECT_FALSE(player.hasIcon());
    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    EXPECT_EQ(player.standardOutput(), "");
}

TEST(EntryPoint, ReleaseModeCoversTheScreenAndHidesTheCursor) {
    Player player;
    ASSERT_TRUE(startBasicDemo(player, true));
    // The switch to full screen may follow the window's first appearance.
    waitUntil([&] { return player.geometry().width == 1280; });
    const WindowGeometry area = player.geometry();
    EXPECT_EQ(area.x, 0);
    EXPECT_EQ(area.y, 0);
    EXPECT_EQ(area.width, 1280) << "the virtual screen is 1280x720";
    EXPECT_EQ(area.height, 720);
    EXPECT_TRUE(waitUntil([&] { return player.cursorHidden(); }));
    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(EntryPoint, EscapeClosesTheWindowWithStatusZero) {
    Player player;
    ASSERT_TRUE(startBasicDemo(player, false));
    player.pressKey(0xff1b); // Escape
    EXPECT_EQ(player.waitForExit(), 0);
}
