#pragma once

// End-to-end harness: runs the real player as a child process in a private
// working directory on the test's X display, finds its window, reads its
// pixels back, sends it real key events through XTest, closes it the way a
// window's close control does, and collects its output and exit status.

#include "TestFiles.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct _XDisplay;

namespace Tolvane::Testing {

// An X window id (kept free of the X headers, whose macros clash with tests).
using WindowId = unsigned long;

// A captured picture, top row first, RGBA.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    std::array<uint8_t, 4> at(int x, int y) const;
    bool empty() const { return rgba.empty(); }
    // Writes the image as a PNG file (for looking at it).
    bool savePng(const std::string& path) const;
};

struct WindowGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Shader sources for tests: a pass-through vertex shader (position at
// location 0) and fragment shaders that paint one colour.
std::string passThroughVertexShader();
// A vertex shader that also hands the fragment shader "place", the position
// from (0, 0) at the bottom left to (1, 1) at the top right.
std::string placeVertexShader();
std::string solidFragmentShader(float r, float g, float b);

// Writes a sine tone of the given length below dir (sox; lame for a name
// ending in ".mp3"), 44100 Hz stereo. False when a tool failed.
bool writeTone(const TempDir& dir, const std::string& relative, double seconds);

// The player's error stream without the line a release-mode demo writes
// when it has no playable tune ("no music: ...").
std::string withoutMusicNotice(const std::string& standardError);

// A loopback address on which no test editor listens (they bind 127.0.0.1):
// a player in editing mode aimed at it finds no editor, so such tests may run
// in parallel with the tests that hold the editor port.
extern const char* const NO_EDITOR_HOST;
// Where the test editor listens.
extern const char* const EDITOR_HOST;

// A minimal configuration document for a test demo: editing or release mode,
// GL 3.3 core, shaders at shaders/vertex.glsl and shaders/fragment.glsl, the
// editor looked for at editorHost. extra is spliced into the root object
// (", \"tracks\": [...]" etc.).
std::string basicConfiguration(bool release, int width = 800, int height = 600,
                               const std::string& extra = "",
                               const std::string& editorHost = NO_EDITOR_HOST);

class Player {
public:
    Player();
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    TempDir& dir() { return workDir; }
    // Runs another program instead of the player (the editor, say), in
    // directory rather than in the player's own working directory.
    void useProgram(const std::string& path, const std::string& directory);

    // Starts the player in the working directory with the given arguments
    // (argv[1...]); extra environment entries are added to the test's own.
    bool start(const std::vector<std::string>& arguments = {},
               const std::map<std::string, std::string>& environment = {});
    // Leaves a variable of the test's own environment out of the player's
    // (for players started after this call).
    void unsetEnvironment(const std::string& name);

    // Waits for the player's viewable top-level window; 0 on time-out.
    WindowId waitForWindow(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    WindowId window() const { return playerWindow; }
    std::string title();
    WindowGeometry geometry();
    bool hasIcon();
    // Whether the pointer over the window shows an invisible cursor.
    bool cursorHidden();

    // The window's current picture.
    Image capture();
    // Polls until predicate holds for a captured picture; returns the last one.
    Image waitForImage(const std::function<bool(const Image&)>& predicate,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Real key events through XTest, sent to the focused player window.
    void pressKey(unsigned long keysym);
    void keyDown(unsigned long keysym);
    void keyUp(unsigned long keysym);

    // Resizes the window, as a person dragging its border would.
    void resize(int width, int height);
    // Moves the window's top left corner to (x, y) on the screen.
    void move(int x, int y);

    // Asks the window to close, as its close control does.
    void requestClose();

    // Waits for the process to end and returns its exit status as a shell
    // reports it (0..255), or -1 when it had to be killed after the time-out.
    int waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool running();
    pid_t pid() const { return child; }

    std::string standardOutput() const;
    std::string standardError() const;

private:
    _XDisplay* display();
    void focus();

    TempDir workDir;
    TempDir logDir;
    _XDisplay* connection = nullptr;
    pid_t child = -1;
    int exitStatus = -1;
    bool exited = false;
    WindowId playerWindow = 0;
    std::vector<std::string> unsetNames;
    std::string program = TOLVANE_BINARY;
    std::string runDir;
};

// Polls condition until it holds or the time-out passes; returns its last value.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Holds the key down for hold on a small window of the harness's own and
// counts the key presses the X server delivers to it: more than one when the
// server repeats held keys (needs the test's display).
int keyPressesWhileHeld(unsigned long keysym, std::chrono::milliseconds hold);

// Runs the player to completion without a window being awaited (for start-up
// failures) and returns its exit status; output is collected in player.
int runToExit(Player& player, const std::vector<std::string>& arguments = {},
              std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace Tolvane::Testing
