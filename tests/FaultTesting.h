#pragma once

// Helpers shared by the fault tests: a demo whose picture shows up to three
// track values and the music time, track files built byte by byte, and the
// steps of starting an editing-mode player linked to the test editor.

#include "Harness.h"
#include "TestEditor.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace Tolvane::Testing::Faults {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Passes the quad corner on as a position from (0, 0) at the bottom left to
// (1, 1) at the top right.
inline const char* const VERTEX_SHADER = R"(#version 330 core
layout(location = 0) in vec3 position;
out vec2 place;
void main() { place = position.xy * 0.5 + 0.5; gl_Position = vec4(position, 1.0); }
)";

// Top half: the three bound track values as a colour. Bottom half: the music
// time as (time / 64, fract(time)), blue 0.5 marking a drawn frame.
inline const char* const VALUES_SHADER = R"(#version 330 core
uniform float r;
uniform float g;
uniform float b;
uniform float time;
in vec2 place;
out vec4 colour;
void main() {
    colour = place.y >= 0.5 ? vec4(r, g, b, 1.0) : vec4(time / 64.0, fract(time), 0.5, 1.0);
}
)";

// A configuration for an editing-mode (or release-mode) demo with the given
// float1 tracks, the first three bound to r, g and b, a 60-second tone and
// the editor at editorHost.
inline std::string valuesConfiguration(bool release, const std::vector<std::string>& tracks,
                                       const std::string& editorHost) {
    std::string list;
    for (const std::string& name : tracks) {
        list += (list.empty() ? "" : ", ") + std::string("{ \"track\": \"") + name +
                "\", \"type\": \"float1\" }";
    }
    std::string uniforms = R"({ "track": "time", "variable": "time" })";
    const char* const variables[] = {"r", "g", "b"};
    for (size_t i = 0; i < tracks.size() && i < 3; ++i) {
        uniforms += std::string(", { \"track\": \"") + tracks[i] + "\", \"variable\": \"" +
                    variables[i] + "\" }";
    }
    std::string text =
        basicConfiguration(release, 160, 120,
                           ",\n  \"music\": { \"file\": \"tone.wav\", \"frequency\": 44100, "
                           "\"BPM\": 120 },\n  \"tracks\": [ " +
                               list + " ]",
                           editorHost);
    const std::string anchor = "\"minorVersion\": 3";
    text.insert(text.find(anchor) + anchor.size(), ",\n \"uniforms\": [ " + uniforms + " ]");
    return text;
}

// Writes the values demo into dir; false when the tone could not be made.
inline bool writeValuesDemo(TempDir& dir, const std::vector<std::string>& tracks,
                            const std::string& editorHost = EDITOR_HOST, bool release = false) {
    dir.write("shaders/vertex.glsl", VERTEX_SHADER);
    dir.write("shaders/fragment.glsl", VALUES_SHADER);
    dir.write("configuration.json", valuesConfiguration(release, tracks, editorHost));
    return writeTone(dir, "tone.wav", 60.0);
}

using Rgb = std::array<int, 3>;

inline Rgb colourAt(const Image& image, double fx, double fy) {
    const auto pixel =
        image.at(static_cast<int>(fx * image.width), static_cast<int>(fy * image.height));
    return {pixel[0], pixel[1], pixel[2]};
}

// The colour of the track values (top half).
inline Rgb values(const Image& image) {
    return colourAt(image, 0.75, 0.25);
}

inline Rgb expected(double r, double g, double b) {
    return {static_cast<int>(std::lround(r * 255)), static_cast<int>(std::lround(g * 255)),
            static_cast<int>(std::lround(b * 255))};
}

inline bool near(const Rgb& actual, const Rgb& wanted, int tolerance = 1) {
    for (int i = 0; i < 3; ++i) {
        if (std::abs(actual[i] - wanted[i]) > tolerance) {
            return false;
        }
    }
    return true;
}

inline std::string describe(const Rgb& colour) {
    return "(" + std::to_string(colour[0]) + ", " + std::to_string(colour[1]) + ", " +
           std::to_string(colour[2]) + ")";
}

inline bool drawn(const Image& image) {
    return !image.empty() && colourAt(image, 0.75, 0.75)[2] == 128;
}

// The music time a frame shows (bottom half).
inline double timeIn(const Image& image) {
    const Rgb pixel = colourAt(image, 0.75, 0.75);
    const double coarse = pixel[0] / 255.0 * 64.0;
    const double fine = pixel[1] / 255.0;
    return std::round(coarse - fine) + fine;
}

// The SET_KEY messages that give the track every key, in one buffer.
inline TestEditor::Bytes setKeys(uint32_t track, const std::vector<Key>& keys) {
    TestEditor::Bytes bytes;
    for (const Key& key : keys) {
        const TestEditor::Bytes message =
            TestEditor::encodeSetKey(track, key.row, key.value, key.type);
        bytes.insert(bytes.end(), message.begin(), message.end());
    }
    return bytes;
}

// Starts the editing-mode player and waits for its window; hides the log
// (key C), which would cover most of the small window.
inline bool startEditing(Player& player) {
    if (!player.start() || player.waitForWindow() == 0) {
        return false;
    }
    player.pressKey(0x0063); // c
    return true;
}

// Waits for the player's link and its request for each of count tracks.
inline ::testing::AssertionResult linked(TestEditor& editor, size_t count) {
    if (!editor.waitForClient(20s)) {
        return ::testing::AssertionFailure() << "the player did not link";
    }
    if (!editor.waitForTrackRequests(count, 10s)) {
        return ::testing::AssertionFailure()
               << editor.trackRequests().size() << " of " << count << " track requests";
    }
    return ::testing::AssertionSuccess();
}

// Polls until the file below dir holds exactly bytes.
inline bool waitForFile(TempDir& dir, const std::string& name, const std::string& bytes,
                        std::chrono::milliseconds timeout = 10s) {
    return waitUntil([&] { return dir.exists(name) && dir.read(name) == bytes; }, timeout);
}

} // namespace Tolvane::Testing::Faults
