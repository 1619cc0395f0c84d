// End-to-end tests of the music in the real player: the tune is the demo's
// clock, release mode ends with it, and a missing tune or a machine without
// a sound card leave the demo running. The music time is read back from the
// window, where the fragment shader paints it.

#include "Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Paints the music time as time / 16 in blue, and in red a sensitive copy
// that is full as soon as the time passes 0.01 s. Green marks a drawn frame.
const char* const TIME_SHADER = R"(#version 330 core
uniform float time;
out vec4 colour;
void main() { colour = vec4(min(time * 100.0, 1.0), 0.5, time / 16.0, 1.0); }
)";

// A configuration with the time bond; extra goes into the root object.
std::string timeConfiguration(bool release, const std::string& extra) {
    std::string text = basicConfiguration(release, 160, 120, extra);
    const std::string anchor = "\"minorVersion\": 3";
    text.insert(text.find(anchor) + anchor.size(),
                R"(, "uniforms": [ { "track": "time", "variable": "time" } ])");
    return text;
}

// A tune as some exporters write it: a VBR MP3 without a Xing header, whose
// first frame's bit rate says nothing of its length, behind 2 KiB of zeros.
bool writeBareVbrTune(TempDir& dir, const std::string& relative, double seconds) {
    if (!writeTone(dir, "tone.wav", seconds))
        return false;
    const std::string bare = dir.file("tone.mp3");
    const std::string encode = "lame --quiet -V 4 -t '" + dir.file("tone.wav") + "' '" + bare + "'";
    if (std::system(encode.c_str()) != 0)
        return false;
    dir.write(relative, std::string(2048, '\0') + dir.read("tone.mp3"));
    return true;
}

void writeShaders(TempDir& dir) {
    dir.write("shaders/vertex.glsl", passThroughVertexShader());
    dir.write("shaders/fragment.glsl", TIME_SHADER);
}

// The time demo with a tone of the given length as its tune.
bool writeToneDemo(TempDir& dir, bool release, double seconds) {
    writeShaders(dir);
    dir.write(
        "configuration.json",
        timeConfiguration(release, R"(, "music": { "file": "tone.wav", "frequency": 44100 })"));
    return writeTone(dir, "tone.wav", seconds);
}

bool drawn(const Image& image) {
    return !image.empty() && std::abs(image.at(0, 0)[1] - 128) <= 1;
}

double timeIn(const Image& image) {
    return image.at(image.width / 2, image.height / 2)[2] / 255.0 * 16.0;
}

} // namespace

TEST(PlayerMusic, ReleaseModeClosesItselfWhenTheTuneHasPlayedOut) {
    Player player;
    writeShaders(player.dir());
    // The default tune file name, as an MP3.
    ASSERT_TRUE(writeBareVbrTune(player.dir(), "tune.mp3", 2.0));
    player.dir().write("configuration.json",
                       timeConfiguration(true, R"(, "music": { "frequency": 44100 })"));

    const auto started = Clock::now();
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    // Follow the time on screen while the demo runs.
    double latest = 0.0;
    while (player.running() && Clock::now() - started < 30s) {
        const Image image = player.capture();
        if (drawn(image)) {
            latest = std::max(latest, timeIn(image));
        }
        std::this_thread::sleep_for(50ms);
    }
    const int status = player.waitForExit(1s);
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();

    EXPECT_EQ(status, 0) << "the demo ended by itself";
    EXPECT_GE(elapsed, 1.95) << "not before the 2-second tune is over";
    EXPECT_GE(latest, 1.4) << "the frames followed the tune to near its end";
    EXPECT_LE(latest, 2.2);
    EXPECT_EQ(player.standardOutput(), "");
    EXPECT_EQ(player.standardError(), "");
}

TEST(PlayerMusic, EditingModeOutlivesItsTune) {
    Player player;
    ASSERT_TRUE(writeToneDemo(player.dir(), false, 0.5));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(player.running()) << "the player is still there well after the tune";
    EXPECT_TRUE(drawn(player.waitForImage(drawn))) << "and still draws";
    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(PlayerMusic, MissingTuneStillRendersWithTheTimeStandingAtZero) {
    Player player;
    writeShaders(player.dir());
    player.dir().write("configuration.json",
                       timeConfiguration(true, R"(, "music": { "file": "absent.mp3" })"));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();

    const Image first = player.waitForImage(drawn);
    ASSERT_TRUE(drawn(first)) << "the demo renders without its tune";
    // Over a second of frames, not one shows a time above zero; and with no
    // music to end, release mode keeps running.
    const auto until = Clock::now() + 1s;
    int frames = 0;
    while (Clock::now() < until) {
        const Image image = player.capture();
        ASSERT_TRUE(drawn(image));
        EXPECT_EQ(image.at(640, 360)[0], 0) << "time stays 0";
        ++frames;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_GT(frames, 2);
    EXPECT_TRUE(player.running());

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    EXPECT_EQ(player.standardOutput(), "");
    // Why it runs on is said once.
    EXPECT_EQ(player.standardError(), "no music: the tune \"absent.mp3\" cannot be read; the demo "
                                      "runs until Escape is pressed\n");
}

TEST(PlayerMusic, WithoutAnAudioDriverSettingThePlayerKeepsInStepAndQuiet) {
    Player player;
    ASSERT_TRUE(writeToneDemo(player.dir(), true, 20.0));
    // The audio back end picks its own driver; this machine has no sound
    // card, so none but its silent one can open.
    player.unsetEnvironment("SDL_AUDIODRIVER");
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();

    const Image early = player.waitForImage(
        [](const Image& image) { return drawn(image) && timeIn(image) >= 0.3; });
    const auto earlyWall = Clock::now();
    const double earlyTime = timeIn(early);
    ASSERT_GE(earlyTime, 0.3) << "the music time advances";
    const Image late =
        player.waitForImage([&](const Image& image) { return timeIn(image) >= earlyTime + 1.5; });
    const double wall = std::chrono::duration<double>(Clock::now() - earlyWall).count();
    EXPECT_GE(timeIn(late), earlyTime + 1.5);
    EXPECT_LE(timeIn(late) - earlyTime, wall + 0.5) << "in real time, not faster";

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    EXPECT_EQ(player.standardOutput(), "");
    EXPECT_EQ(player.standardError(), "");
}
