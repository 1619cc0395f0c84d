// The real editor beside the real player, on the editor port, under the
// test's display: XTest keys typed into the editor change the player's
// pixels, Ctrl+S writes the track file, a restarted editor serves the saved
// keys, and the edits of a killed editor are offered back.

#include "Harness.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <csignal>

using namespace Tolvane::Testing;

namespace {

// The picture's red is the track "level": 0 black, 1 full red.
const char* const LEVEL_SHADER = R"(#version 330 core
uniform float level;
out vec4 colour;
void main() { colour = vec4(level, 0.0, 0.0, 1.0); }
)";

std::string configuration() {
    std::string text = basicConfiguration(
        false, 320, 240, ", \"tracks\": [ { \"track\": \"level\", \"type\": \"float1\" } ]",
        EDITOR_HOST);
    const std::string anchor = "\"minorVersion\": 3";
    text.insert(text.find(anchor) + anchor.size(),
                ", \"uniforms\": [ { \"track\": \"level\", \"variable\": \"level\" } ]");
    return text;
}

// Waits until the player's picture has about this much red.
bool playerShows(Player& player, int red) {
    Image image = player.waitForImage(
        [red](const Image& i) { return std::abs(int(i.at(160, 120)[0]) - red) <= 3; });
    return !image.empty() && std::abs(int(image.at(160, 120)[0]) - red) <= 3;
}

bool startEditor(Player& editor, Player& player) {
    editor.useProgram(TOLVANE_EDITOR_BINARY, player.dir().path());
    if (!editor.start({"configuration.json"}) || editor.waitForWindow() == 0)
        return false;
    editor.move(330, 0); // beside the player, whose pixels are read
    return waitUntil([&] { return editor.title().find(" connected") != std::string::npos; });
}

void type(Player& editor, const std::vector<unsigned long>& keys) {
    for (unsigned long key : keys)
        editor.pressKey(key);
}

void withControl(Player& editor, unsigned long key) {
    editor.keyDown(XK_Control_L);
    editor.pressKey(key);
    editor.keyUp(XK_Control_L);
}

} // namespace

TEST(EditorEndToEnd, EditsShowInThePlayerAreSavedServedAgainAndRecovered) {
    Player player;
    player.dir().write("configuration.json", configuration());
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    player.dir().write("shaders/fragment.glsl", std::string(LEVEL_SHADER));
    ASSERT_TRUE(player.start({"configuration.json"}));
    ASSERT_NE(player.waitForWindow(), 0u);

    {
        Player editor;
        ASSERT_TRUE(startEditor(editor, player)) << editor.standardError();
        EXPECT_EQ(editor.title(), "Tolvane editor - demogroup : demo - connected");

        type(editor, {XK_0, XK_period, XK_5, XK_Return}); // row 0, the player's row without a tune
        ASSERT_TRUE(playerShows(player, 128));
        EXPECT_TRUE(waitUntil([&] { return editor.title().find('*') != std::string::npos; }));

        withControl(editor, XK_s);
        ASSERT_TRUE(waitUntil([&] { return player.dir().read("sync_level.track").size() == 13; }));
        ASSERT_TRUE(waitUntil([&] { return editor.title().find('*') == std::string::npos; }));

        // An unsaved change, thrown away when closing.
        type(editor, {XK_1, XK_Return});
        ASSERT_TRUE(playerShows(player, 255));
        editor.requestClose();
        ASSERT_TRUE(waitUntil([&] { return editor.title().find('*') != std::string::npos; }));
        editor.pressKey(XK_d);
        EXPECT_EQ(editor.waitForExit(), 0);
        EXPECT_FALSE(player.dir().exists("configuration.json.recovery"));
    }

    {
        // The restarted editor serves the saved key, not the discarded one
        // the player still holds.
        Player editor;
        ASSERT_TRUE(startEditor(editor, player)) << editor.standardError();
        ASSERT_TRUE(playerShows(player, 128));

        type(editor, {XK_minus, XK_0, XK_Return}); // -0: black
        ASSERT_TRUE(playerShows(player, 0));
        ASSERT_TRUE(
            waitUntil([&] { return player.dir().exists("configuration.json.recovery/tracks"); }));
        kill(editor.pid(), SIGKILL);
        editor.waitForExit();
    }

    Player editor;
    ASSERT_TRUE(startEditor(editor, player)) << editor.standardError();
    ASSERT_TRUE(playerShows(player, 128)); // the file's key until the restore
    editor.pressKey(XK_Return);            // restore the unsaved edits
    ASSERT_TRUE(playerShows(player, 0));
    EXPECT_TRUE(waitUntil([&] { return editor.title().find('*') != std::string::npos; }));
    EXPECT_EQ(player.dir().read("sync_level.track").size(), 13u);
}
