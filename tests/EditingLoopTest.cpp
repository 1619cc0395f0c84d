// End-to-end tests of the editing loop: the real player linked to the test
// editor on port 1338. The editor asks for nothing; it watches what the
// player requests and reports, and sends key edits, seeks, pauses and the
// save command. What the player makes of them is read back from its window:
// the fragment shader paints the track values and the music time in
// separate quarters of the picture.

#include "Harness.h"
#include "TestEditor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

const std::vector<std::string> SYNC_TRACKS = {"fade", "pos.x", "pos.y", "col.x", "col.y", "col.z"};
enum TrackIndex : uint32_t {
    FADE,
    POS_X,
    POS_Y,
    COL_X,
    COL_Y,
    COL_Z
};

// Top left: (fade, pos.x, pos.y). Top right: col. Bottom: the music time as
// (time / 16, fract(time)).
const char* const FRAGMENT_SHADER = R"(#version 330 core
uniform float fade;
uniform vec2 pos;
uniform vec3 col;
uniform float time;
in vec2 place;
out vec4 colour;
void main() {
    if (place.y >= 0.5) {
        colour = place.x < 0.5 ? vec4(fade, pos, 1.0) : vec4(col, 1.0);
    } else {
        colour = vec4(time / 16.0, fract(time), 0.5, 1.0);
    }
}
)";

// 120 BPM at 8 rows per beat: 16 rows a second.
constexpr double ROW_RATE = 16.0;

std::string demoConfiguration(bool release) {
    std::string text = basicConfiguration(release, 160, 120, R"(,
  "music": { "file": "tone.wav", "frequency": 44100, "BPM": 120 },
  "tracks": [ { "track": "fade", "type": "float1" },
              { "track": "pos", "type": "float2" },
              { "track": "col", "type": "float3" } ])",
                                          EDITOR_HOST);
    const std::string anchor = "\"minorVersion\": 3";
    text.insert(text.find(anchor) + anchor.size(), R"(,
               "uniforms": [ { "track": "fade", "variable": "fade" },
                             { "track": "pos", "variable": "pos" },
                             { "track": "col", "variable": "col" },
                             { "track": "time", "variable": "time" } ])");
    return text;
}

// Writes the demo (shaders, a 30-second tune, configuration) into dir.
bool writeDemo(TempDir& dir, bool release) {
    dir.write("shaders/vertex.glsl", placeVertexShader());
    dir.write("shaders/fragment.glsl", FRAGMENT_SHADER);
    dir.write("configuration.json", demoConfiguration(release));
    return writeTone(dir, "tone.wav", 30.0);
}

using Rgb = std::array<int, 3>;

Rgb colourAt(const Image& image, double fx, double fy) {
    const auto pixel =
        image.at(static_cast<int>(fx * image.width), static_cast<int>(fy * image.height));
    return {pixel[0], pixel[1], pixel[2]};
}
Rgb topLeft(const Image& image) {
    return colourAt(image, 0.25, 0.25);
}
Rgb topRight(const Image& image) {
    return colourAt(image, 0.75, 0.25);
}

Rgb expected(double r, double g, double b) {
    return {static_cast<int>(std::lround(r * 255)), static_cast<int>(std::lround(g * 255)),
            static_cast<int>(std::lround(b * 255))};
}

bool near(const Rgb& actual, const Rgb& wanted, int tolerance = 1) {
    for (int i = 0; i < 3; ++i) {
        if (std::abs(actual[i] - wanted[i]) > tolerance) {
            return false;
        }
    }
    return true;
}

// The music time a frame shows: the coarse time / 16 picks the second, the
// fine fract(time) the part of it.
double timeIn(const Image& image) {
    const Rgb pixel = colourAt(image, 0.5, 0.75);
    const double coarse = pixel[0] / 255.0 * 16.0;
    const double fine = pixel[1] / 255.0;
    return std::round(coarse - fine) + fine;
}

bool drawn(const Image& image) {
    return !image.empty() && colourAt(image, 0.5, 0.75)[2] == 128;
}

std::string describe(const Rgb& colour) {
    return "(" + std::to_string(colour[0]) + ", " + std::to_string(colour[1]) + ", " +
           std::to_string(colour[2]) + ")";
}

// Starts the editing-mode player and waits for its first frame with the log
// hidden (key C): the log would cover most of the small window.
bool startEditing(Player& player) {
    if (!player.start() || player.waitForWindow() == 0) {
        return false;
    }
    player.pressKey(0x0063); // c
    return true;
}

// Waits for the editor's link and the player's six track requests.
::testing::AssertionResult linkedWithEveryTrack(TestEditor& editor) {
    if (!editor.waitForClient(20s)) {
        return ::testing::AssertionFailure() << "the player did not link";
    }
    if (!editor.waitForTrackRequests(SYNC_TRACKS.size(), 10s)) {
        return ::testing::AssertionFailure() << editor.trackRequests().size() << " track requests";
    }
    return ::testing::AssertionSuccess();
}

// Writes the demo, starts it in editing mode beside editor and waits for
// the link and every track request.
::testing::AssertionResult startLinked(Player& player, TestEditor& editor) {
    if (!editor.listening()) {
        return ::testing::AssertionFailure() << "the editor port is taken";
    }
    if (!writeDemo(player.dir(), false) || !startEditing(player)) {
        return ::testing::AssertionFailure()
               << "the player did not start: " << player.standardOutput();
    }
    return linkedWithEveryTrack(editor);
}

// Closes the player as its window's close button would; it must end with
// status 0 and nothing on its error stream.
::testing::AssertionResult closesCleanly(Player& player) {
    player.requestClose();
    const int status = player.waitForExit();
    const std::string errors = player.standardError();
    if (status != 0 || !errors.empty()) {
        return ::testing::AssertionFailure()
               << "exit status " << status << ", error stream: " << errors;
    }
    return ::testing::AssertionSuccess();
}

void sendStepKeys(TestEditor& editor, double fade, double posX, double posY, double colX,
                  double colY, double colZ) {
    const double values[] = {fade, posX, posY, colX, colY, colZ};
    for (uint32_t track = FADE; track <= COL_Z; ++track) {
        EXPECT_TRUE(editor.setKey(track, 0, static_cast<float>(values[track]), KEY_STEP));
    }
}

} // namespace

TEST(EditingLoop, LinkRequestsEveryTrackInOrderAndKeysShowInTheNextFrames) {
    TestEditor editor;
    Player player;
    ASSERT_TRUE(startLinked(player, editor));
    EXPECT_EQ(editor.trackRequests(), SYNC_TRACKS)
        << "one request per sync track, in configuration order";
    EXPECT_EQ(editor.lastGreeting(), "hello, synctracker!");

    // Empty tracks evaluate to 0.
    const Image empty = player.waitForImage([](const Image& image) { return drawn(image); });
    EXPECT_TRUE(near(topLeft(empty), {0, 0, 0})) << describe(topLeft(empty));
    EXPECT_TRUE(near(topRight(empty), {0, 0, 0})) << describe(topRight(empty));

    sendStepKeys(editor, 0.5, 0.25, 0.75, 0.2, 0.4, 0.6);
    const Image keyed = player.waitForImage([](const Image& image) {
        return near(topLeft(image), expected(0.5, 0.25, 0.75)) &&
               near(topRight(image), expected(0.2, 0.4, 0.6));
    });
    keyed.savePng(player.dir().file("keyed.png"));
    EXPECT_TRUE(near(topLeft(keyed), expected(0.5, 0.25, 0.75)))
        << "(fade, pos.x, pos.y): " << describe(topLeft(keyed));
    EXPECT_TRUE(near(topRight(keyed), expected(0.2, 0.4, 0.6)))
        << "(col.x, col.y, col.z): " << describe(topRight(keyed));

    // An edit replaces the key on its row; a linear pair interpolates.
    EXPECT_TRUE(editor.setKey(COL_Y, 0, 0.9f, KEY_STEP));
    EXPECT_TRUE(near(topRight(player.waitForImage([](const Image& image) {
                         return near(topRight(image), expected(0.2, 0.9, 0.6));
                     })),
                     expected(0.2, 0.9, 0.6)));

    // One request per track only, on one connection.
    EXPECT_EQ(editor.trackRequests().size(), SYNC_TRACKS.size());
    EXPECT_EQ(editor.connectionCount(), 1);
    EXPECT_TRUE(editor.protocolErrors().empty());

    EXPECT_TRUE(closesCleanly(player));
}

TEST(EditingLoop, SetRowSeeksTheMusicAndPauseStopsTimeAndRowReports) {
    TestEditor editor;
    Player player;
    ASSERT_TRUE(startLinked(player, editor));

    // fade rises linearly from 0 at row 0 to 1 at row 200.
    EXPECT_TRUE(editor.setKey(FADE, 0, 0.0f, KEY_LINEAR));
    EXPECT_TRUE(editor.setKey(FADE, 200, 1.0f, KEY_STEP));

    // Playing: the player reports its rows as they pass.
    ASSERT_TRUE(editor.waitForRowReport([](int32_t row) { return row >= 8; }, 20s))
        << "no row reports while playing";

    // Paused: neither the time nor the reports move.
    ASSERT_TRUE(editor.pause(1));
    // Once two frames a moment apart show one time, the pause has been
    // applied, and any report sent before it has arrived.
    const auto settled = Clock::now() + 10s;
    double shown = -1.0;
    for (;;) {
        const double now = timeIn(player.waitForImage(drawn));
        if (now == shown || Clock::now() > settled) {
            break;
        }
        shown = now;
        std::this_thread::sleep_for(200ms);
    }
    editor.clearRowReports();
    const Image pausedA = player.waitForImage(drawn);
    std::this_thread::sleep_for(700ms);
    const Image pausedB = player.waitForImage(drawn);
    EXPECT_EQ(timeIn(pausedA), timeIn(pausedB)) << "the time stands still while paused";
    EXPECT_TRUE(editor.rowReports().empty())
        << editor.rowReports().size() << " reports while paused";

    // A seek while paused lands on row / row rate seconds: row 100 is 6.25 s,
    // where fade is 0.5; still paused, still silent.
    ASSERT_TRUE(editor.setRow(100));
    const Image seeked = player.waitForImage([](const Image& image) {
        return drawn(image) && std::abs(timeIn(image) - 100 / ROW_RATE) < 0.01;
    });
    seeked.savePng(player.dir().file("seeked.png"));
    EXPECT_NEAR(timeIn(seeked), 100 / ROW_RATE, 0.01);
    EXPECT_NEAR(topLeft(seeked)[0], 128, 2) << "the tracks are sampled at the new row";
    std::this_thread::sleep_for(300ms);
    EXPECT_NEAR(timeIn(player.waitForImage(drawn)), 100 / ROW_RATE, 0.01)
        << "a seek does not resume playback";
    EXPECT_TRUE(editor.rowReports().empty());

    // Resumed, by any flag but 1: the reports go on from the row the seek chose.
    ASSERT_TRUE(editor.pause(2));
    ASSERT_TRUE(editor.waitForRowReport([](int32_t row) { return row >= 100; }, 10s));
    const std::vector<int32_t> resumed = editor.rowReports();
    ASSERT_FALSE(resumed.empty());
    EXPECT_GE(resumed.front(), 100);
    EXPECT_LT(resumed.front(), 100 + 2 * ROW_RATE)
        << "the first report after resuming is near the seek";
    for (size_t i = 1; i < resumed.size(); ++i) {
        EXPECT_GT(resumed[i], resumed[i - 1]) << "each report names a new row";
    }
    const Image moving = player.waitForImage(
        [](const Image& image) { return drawn(image) && timeIn(image) > 100 / ROW_RATE + 0.3; });
    EXPECT_GT(timeIn(moving), 100 / ROW_RATE + 0.3) << "the time runs again";

    // A seek while playing jumps there and plays on: row 192 is 12 s.
    ASSERT_TRUE(editor.setRow(192));
    const Image jumped = player.waitForImage([](const Image& image) {
        return drawn(image) && timeIn(image) >= 12.0 && timeIn(image) < 14.0;
    });
    EXPECT_GE(timeIn(jumped), 12.0);
    EXPECT_LT(timeIn(jumped), 14.0);
    EXPECT_TRUE(editor.waitForRowReport(
        [](int32_t row) { return row >= 192 && row < 192 + 2 * ROW_RATE; }));
    const double fadeThere = std::min(1.0, timeIn(jumped) * ROW_RATE / 200.0);
    EXPECT_NEAR(topLeft(jumped)[0] / 255.0, fadeThere, 0.02)
        << "fade at " << timeIn(jumped) << " s";

    EXPECT_TRUE(closesCleanly(player));
}

TEST(EditingLoop, SavedTrackFilesHoldTheKeysAndReleaseModePlaysThemWithoutALink) {
    TestEditor editor;
    Player editing;
    ASSERT_TRUE(startLinked(editing, editor));

    // fade: linear 0 -> 1 over rows 0..32 (two seconds), step 1 until 64,
    // then smooth to 0.5; a key at 48 is set and deleted again.
    EXPECT_TRUE(editor.setKey(FADE, 64, 0.5f, KEY_SMOOTH));
    EXPECT_TRUE(editor.setKey(FADE, 0, 0.0f, KEY_LINEAR));
    EXPECT_TRUE(editor.setKey(FADE, 48, 0.3f, KEY_STEP));
    EXPECT_TRUE(editor.setKey(FADE, 32, 1.0f, KEY_STEP));
    EXPECT_TRUE(editor.deleteKey(FADE, 48));
    EXPECT_TRUE(editor.setKey(POS_X, 0, 0.25f, KEY_STEP));
    EXPECT_TRUE(editor.setKey(POS_Y, 16, 0.75f, KEY_RAMP));
    EXPECT_TRUE(editor.setKey(COL_X, 0, 0.2f, KEY_STEP));
    EXPECT_TRUE(editor.setKey(COL_Y, 0, 0.4f, KEY_STEP));
    EXPECT_TRUE(editor.setKey(COL_Z, 0, 0.6f, KEY_LINEAR));
    EXPECT_TRUE(editor.setKey(COL_Z, 100, -2.5f, KEY_STEP));
    ASSERT_TRUE(editor.saveTracks());

    const std::map<std::string, std::string> files = {
        {"sync_fade.track",
         trackFile({{0, 0.0f, KEY_LINEAR}, {32, 1.0f, KEY_STEP}, {64, 0.5f, KEY_SMOOTH}})},
        {"sync_pos.x.track", trackFile({{0, 0.25f, KEY_STEP}})},
        {"sync_pos.y.track", trackFile({{16, 0.75f, KEY_RAMP}})},
        {"sync_col.x.track", trackFile({{0, 0.2f, KEY_STEP}})},
        {"sync_col.y.track", trackFile({{0, 0.4f, KEY_STEP}})},
        {"sync_col.z.track", trackFile({{0, 0.6f, KEY_LINEAR}, {100, -2.5f, KEY_STEP}})},
    };
    const auto allSaved = [&] {
        for (const auto& [name, bytes] : files) {
            if (editing.dir().read(name) != bytes) {
                return false;
            }
        }
        return true;
    };
    const auto deadline = Clock::now() + 10s;
    while (!allSaved() && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(editing.dir().read(name), bytes) << name;
    }
    EXPECT_EQ(files.at("sync_fade.track").size(), 4u + 9u * 3u);

    editing.requestClose();
    EXPECT_EQ(editing.waitForExit(), 0);
    const int editingConnections = editor.connectionCount();

    // The same demo in release mode, from the saved files, while the editor
    // is still listening: it is never contacted.
    Player release;
    ASSERT_TRUE(writeDemo(release.dir(), true));
    for (const auto& [name, bytes] : files) {
        release.dir().write(name, editing.dir().read(name));
    }
    ASSERT_TRUE(release.start());
    ASSERT_NE(release.waitForWindow(), 0u) << release.standardOutput();

    // col is a float3 bound to a vec3: (x, y, z) = (0.2, 0.4, 0.6) in that
    // order at row 0, from where z heads linearly for -2.5 at row 100 (the
    // colour clamps it at 0).
    const Image playing = release.waitForImage(
        [](const Image& image) {
            return drawn(image) && timeIn(image) > 0.2 && timeIn(image) < 1.8;
        },
        20s);
    playing.savePng(release.dir().file("release.png"));
    ASSERT_TRUE(drawn(playing));
    const double time = timeIn(playing);
    const double row = time * ROW_RATE;
    const double colZ = 0.6 + (-2.5 - 0.6) * row / 100.0;
    EXPECT_TRUE(near(topRight(playing), expected(0.2, 0.4, std::max(colZ, 0.0)), 2))
        << describe(topRight(playing)) << " at row " << row;
    // fade follows its saved linear key: time / 2 during the first 2 s.
    EXPECT_NEAR(topLeft(playing)[0] / 255.0, time / 2.0, 0.02) << "at " << time << " s";
    EXPECT_NEAR(topLeft(playing)[1], 64, 1) << "pos.x";
    EXPECT_NEAR(topLeft(playing)[2], 191, 1) << "pos.y, its only key";
    // After that ramp fade holds 1 until row 64 (4 s).
    const Image held = release.waitForImage(
        [](const Image& image) {
            return drawn(image) && timeIn(image) > 2.1 && timeIn(image) < 3.9;
        },
        20s);
    EXPECT_EQ(topLeft(held)[0], 255) << "at " << timeIn(held) << " s";

    EXPECT_EQ(editor.connectionCount(), editingConnections) << "release mode never connects";
    EXPECT_FALSE(editor.connected());
    EXPECT_TRUE(closesCleanly(release));
}

TEST(EditingLoop, LostEditorLeavesTheLastKeysAndTheReturningEditorGetsEveryRequestAgain) {
    auto editor = std::make_unique<TestEditor>();
    Player player;
    ASSERT_TRUE(startLinked(player, *editor));

    sendStepKeys(*editor, 0.5, 0.25, 0.75, 0.2, 0.4, 0.6);
    const auto keyed = [](const Image& image) {
        return near(topLeft(image), expected(0.5, 0.25, 0.75)) &&
               near(topRight(image), expected(0.2, 0.4, 0.6));
    };
    ASSERT_TRUE(keyed(player.waitForImage(keyed)));

    // The editor quits: listener and link gone. The player keeps playing
    // with the keys it had, trying to reconnect every frame.
    editor.reset();
    const double before = timeIn(player.waitForImage(drawn));
    const auto until = Clock::now() + 1s;
    while (Clock::now() < until) {
        const Image image = player.capture();
        ASSERT_TRUE(keyed(image)) << describe(topLeft(image)) << " " << describe(topRight(image));
        std::this_thread::sleep_for(50ms);
    }
    const Image alone =
        player.waitForImage([&](const Image& image) { return timeIn(image) > before + 0.3; });
    EXPECT_GT(timeIn(alone), before + 0.3) << "the music plays on";
    EXPECT_TRUE(keyed(alone));

    // The editor comes back: the player links again by itself and asks for
    // every track once more, in the same order.
    editor = std::make_unique<TestEditor>();
    ASSERT_TRUE(editor->listening());
    ASSERT_TRUE(linkedWithEveryTrack(*editor));
    EXPECT_EQ(editor->trackRequests(), SYNC_TRACKS);

    // The new link's keys are the editor's: until it sends them the tracks
    // are empty; then its keys show.
    sendStepKeys(*editor, 0.1, 0.3, 0.5, 0.7, 0.9, 1.0);
    const Image relinked = player.waitForImage([](const Image& image) {
        return near(topLeft(image), expected(0.1, 0.3, 0.5)) &&
               near(topRight(image), expected(0.7, 0.9, 1.0));
    });
    EXPECT_TRUE(near(topLeft(relinked), expected(0.1, 0.3, 0.5))) << describe(topLeft(relinked));
    EXPECT_TRUE(near(topRight(relinked), expected(0.7, 0.9, 1.0))) << describe(topRight(relinked));

    EXPECT_TRUE(closesCleanly(player));
}
