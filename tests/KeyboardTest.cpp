// End-to-end tests of the keyboard controls against the real player: real
// key events through the X server, the window's pixels read back, its size
// as the window manager sets it, and its sound as the audio back end's disk
// driver writes it to a file.
//
// The soak tests (KeyboardSoak.*) are disabled by default; they run with
// --gtest_also_run_disabled_tests --gtest_filter='KeyboardSoak.*', or as the
// ctest entry KeyboardSoak when configured with -DTOLVANE_SOAK_TESTS=ON.

#include "GlContext.h"
#include "Harness.h"
#include "LogPicture.h"
#include "Shader.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

using Colour = std::array<uint8_t, 3>;

const std::string BROKEN_FRAGMENT = "#version 330 core\n"
                                    "out vec4 colour;\n"
                                    "void main() { colour = vec4(1.0) }\n";

// Paints the music time: whole seconds in red (1/255 a second), the fraction
// in green, and a blue of 64 that marks this shader's picture.
const std::string TIME_FRAGMENT =
    "#version 330 core\n"
    "uniform float time;\n"
    "out vec4 colour;\n"
    "void main() { colour = vec4(floor(time) / 255.0, fract(time), 0.25, 1.0); }\n";

constexpr int TUNE_RATE = 8000;

void saveForViewing(const Image& image, const std::string& name) {
    if (const char* directory = std::getenv("TOLVANE_SCREENSHOT_DIR")) {
        image.savePng(std::string(directory) + "/" + name + ".png");
    }
}

void littleEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// A mono 16-bit WAV tune: a 200 Hz sine at half of full scale.
std::string sineWav(double seconds) {
    const uint32_t frames = static_cast<uint32_t>(seconds * TUNE_RATE);
    std::string wav = "RIFF";
    littleEndian(wav, 36 + frames * 2, 4);
    wav += "WAVEfmt ";
    littleEndian(wav, 16, 4);
    littleEndian(wav, 1, 2); // PCM
    littleEndian(wav, 1, 2); // mono
    littleEndian(wav, TUNE_RATE, 4);
    littleEndian(wav, TUNE_RATE * 2, 4);
    littleEndian(wav, 2, 2);
    littleEndian(wav, 16, 2);
    wav += "data";
    littleEndian(wav, frames * 2, 4);
    for (uint32_t i = 0; i < frames; ++i) {
        const double sample = 0.5 * std::sin(2.0 * M_PI * 200.0 * i / TUNE_RATE);
        littleEndian(wav,
                     static_cast<uint32_t>(static_cast<int16_t>(std::lround(sample * 32767.0))), 2);
    }
    return wav;
}

// A demo whose shader sees the music time as the uniform "time" and whose
// tune is a two-minute sine.
std::string timedConfiguration(bool release, int width, int height) {
    std::ostringstream text;
    text << "{\n"
         << "  \"sync\": { \"host\": \"" << NO_EDITOR_HOST << "\" },\n"
         << "  \"demo\": { \"release\": " << (release ? "true" : "false") << " },\n"
         << "  \"screen\": { \"width\": " << width << ", \"height\": " << height << " },\n"
         << "  \"music\": { \"file\": \"tune.wav\", \"frequency\": " << TUNE_RATE << " },\n"
         << "  \"shaders\": { \"vertex\": \"shaders/vertex.glsl\", \"fragment\": "
            "\"shaders/fragment.glsl\",\n"
         << "               \"majorVersion\": 3, \"minorVersion\": 3,\n"
         << "               \"uniforms\": [ { \"variable\": \"time\", \"track\": \"time\" } ] }\n"
         << "}\n";
    return text.str();
}

void writeTimedDemo(TempDir& dir, bool release, int width, int height) {
    dir.write("shaders/vertex.glsl", passThroughVertexShader());
    dir.write("shaders/fragment.glsl", TIME_FRAGMENT);
    dir.write("tune.wav", sineWav(120.0));
    dir.write("configuration.json", timedConfiguration(release, width, height));
}

void writeSolidDemo(TempDir& dir, bool release, int width, int height,
                    const std::string& fragment) {
    dir.write("shaders/vertex.glsl", passThroughVertexShader());
    dir.write("shaders/fragment.glsl", fragment);
    dir.write("configuration.json", basicConfiguration(release, width, height));
}

// Changes the fragment shader on disk without a save event in its folder,
// so that only R can pick the change up (editing mode rebuilds on its own
// after a save): the text is written through a hard link in another folder.
void rewriteFragmentUnseen(TempDir& dir, const std::string& fragment) {
    const std::string twin = dir.file("elsewhere/fragment.glsl");
    if (!std::filesystem::exists(twin)) {
        std::filesystem::create_directories(dir.file("elsewhere"));
        std::filesystem::create_hard_link(dir.file("shaders/fragment.glsl"), twin);
    }
    std::ofstream(twin, std::ios::binary | std::ios::trunc) << fragment;
}

bool hasColour(const Image& image, int x, int y, Colour rgb) {
    const auto pixel = image.at(x, y);
    for (int i = 0; i < 3; ++i) {
        if (std::abs(pixel[i] - rgb[i]) > 1) {
            return false;
        }
    }
    return true;
}

// Whether every pixel of the picture is the colour of its centre.
bool isUniform(const Image& image) {
    const auto centre = image.at(image.width / 2, image.height / 2);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!hasColour(image, x, y, {centre[0], centre[1], centre[2]})) {
                return false;
            }
        }
    }
    return true;
}

// The time shader's picture is read in the top-right corner, away from the log.
bool showsTime(const Image& image) {
    return !image.empty() && std::abs(image.at(image.width - 1, 0)[2] - 64) <= 1;
}

// The music time the time shader painted.
double shownTime(const Image& image) {
    const auto pixel = image.at(image.width - 1, 0);
    return pixel[0] + pixel[1] / 255.0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The loudest of the last frames the disk driver wrote (stereo float32).
float tailPeak(const std::string& path, int frames = TUNE_RATE / 10) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : 0;
    const std::streamoff frameBytes = 2 * sizeof(float);
    const std::streamoff end = size / frameBytes * frameBytes;
    if (end < frames * frameBytes) {
        return 0.0f;
    }
    std::vector<float> samples(static_cast<size_t>(frames) * 2);
    file.seekg(end - frames * frameBytes);
    file.read(reinterpret_cast<char*>(samples.data()), frames * frameBytes);
    float peak = 0.0f;
    for (float sample : samples) {
        peak = std::max(peak, std::fabs(sample));
    }
    return peak;
}

// The sound as the disk driver writes it to file, in real time.
std::map<std::string, std::string> diskAudio(const std::string& file) {
    return {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", file}};
}

// Starts the timed demo with its music going to the file sound, and waits
// for its window and until the tune is heard there.
::testing::AssertionResult startHeard(Player& player, const std::string& sound, bool release,
                                      int width, int height) {
    writeTimedDemo(player.dir(), release, width, height);
    if (!player.start({}, diskAudio(sound)) || player.waitForWindow() == 0) {
        return ::testing::AssertionFailure()
               << "the player did not start: " << player.standardOutput();
    }
    if (!waitUntil([&] { return tailPeak(sound) > 0.4f; }, 30s)) {
        return ::testing::AssertionFailure() << "the tune is not heard";
    }
    return ::testing::AssertionSuccess();
}

long residentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Under the address sanitizer freed memory is held back in quarantine, so
// the resident size grows whether or not anything leaks; its leak check at
// exit stands in for the measure there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool RESIDENT_SIZE_TELLS_LEAKS = false;
#else
constexpr bool RESIDENT_SIZE_TELLS_LEAKS = true;
#endif

} // namespace

TEST(Keyboard, EscapeClosesWithStatusZeroInBothModes) {
    for (const bool release : {false, true}) {
        SCOPED_TRACE(release ? "release mode" : "editing mode");
        Player player;
        writeSolidDemo(player.dir(), release, 320, 240, solidFragmentShader(0.0f, 0.5f, 1.0f));
        ASSERT_TRUE(player.start());
        ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
        const Image frame = player.waitForImage([](const Image& image) {
            return hasColour(image, 100, 100, {0, 128, 255});
        });
        ASSERT_TRUE(hasColour(frame, 100, 100, {0, 128, 255}));
        player.pressKey(XK_Escape);
        EXPECT_EQ(player.waitForExit(), 0);
        EXPECT_EQ(withoutMusicNotice(player.standardError()), "");
    }
}

TEST(Keyboard, CHidesAndShowsTheLog) {
    constexpr int W = 320;
    constexpr int H = 240;
    Player player;
    writeSolidDemo(player.dir(), false, W, H, solidFragmentShader(0.1f, 0.3f, 0.5f));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    const Image shown =
        player.waitForImage([](const Image& image) { return logLineCount(image, H) == 7; });
    ASSERT_EQ(logLineCount(shown, H), 7);

    player.pressKey(XK_c);
    const Image hidden = player.waitForImage(isUniform);
    saveForViewing(hidden, "keyboard-log-hidden");
    EXPECT_TRUE(isUniform(hidden)) << "neither glyphs nor their cells are left";
    EXPECT_TRUE(hasColour(hidden, 0, H - 1, {26, 77, 128}));

    player.pressKey(XK_c);
    const Image again =
        player.waitForImage([](const Image& image) { return logLineCount(image, H) == 7; });
    ASSERT_EQ(logLineCount(again, H), 7);
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(logLineMask(again, H, k, W), logLineMask(shown, H, k, W)) << "line " << k;
    }

    player.pressKey(XK_Escape);
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Keyboard, FMaximisesTheWindowAndFAgainRestoresIt) {
    constexpr int W = 400;
    constexpr int H = 300;
    Player player;
    writeSolidDemo(player.dir(), false, W, H, solidFragmentShader(0.1f, 0.3f, 0.5f));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    ASSERT_TRUE(waitUntil([&] { return logLineCount(player.capture(), H) == 7; }));

    player.pressKey(XK_f);
    // The virtual screen is 1280x720; the window manager keeps its title bar.
    ASSERT_TRUE(waitUntil([&] {
        return player.geometry().width == 1280 && player.geometry().height > 600;
    })) << player.geometry().width
        << "x" << player.geometry().height;
    const WindowGeometry maximised = player.geometry();
    // The picture follows the new size; the log stays anchored at the height
    // the window had at start-up, measured from the top.
    const Image frame = player.waitForImage([&](const Image& image) {
        return image.width == maximised.width &&
               hasColour(image, image.width - 1, image.height - 1, {26, 77, 128}) &&
               logLineCount(image, H) == 7;
    });
    saveForViewing(frame, "keyboard-maximised");
    EXPECT_TRUE(hasColour(frame, frame.width - 1, frame.height - 1, {26, 77, 128}));
    EXPECT_EQ(logLineCount(frame, H), 7);
    EXPECT_FALSE(hasWhite(frame, H + 2, frame.height, frame.width))
        << "no log line below the start-up height";

    player.pressKey(XK_f);
    EXPECT_TRUE(waitUntil([&] {
        return player.geometry().width == W && player.geometry().height == H;
    })) << player.geometry().width
        << "x" << player.geometry().height;

    player.pressKey(XK_Escape);
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Keyboard, SSilencesTheMusicAndSAgainRestoresIt) {
    Player player;
    const std::string sound = player.dir().file("sound.raw");
    ASSERT_TRUE(startHeard(player, sound, false, 160, 120));

    player.pressKey(XK_s);
    EXPECT_TRUE(waitUntil([&] { return tailPeak(sound) == 0.0f; }, 20s)) << tailPeak(sound);
    // It stays silent, and the music goes on meanwhile.
    const double before = shownTime(player.capture());
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(tailPeak(sound), 0.0f);
    EXPECT_TRUE(waitUntil([&] { return shownTime(player.capture()) > before + 0.2; }));

    player.pressKey(XK_s);
    EXPECT_TRUE(waitUntil([&] { return tailPeak(sound) > 0.4f; }, 20s)) << tailPeak(sound);

    player.pressKey(XK_Escape);
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Keyboard, RDrawsTheShadersAsTheyNowAreOnDisk) {
    constexpr int H = 240;
    Player player;
    writeSolidDemo(player.dir(), false, 320, H, solidFragmentShader(1.0f, 0.0f, 0.0f));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    ASSERT_TRUE(hasColour(player.waitForImage([](const Image& image) {
        return hasColour(image, 160, 60, {255, 0, 0});
    }),
                          160, 60, {255, 0, 0}));

    rewriteFragmentUnseen(player.dir(), solidFragmentShader(0.0f, 1.0f, 0.0f));
    player.pressKey(XK_r);
    const Image frame = player.waitForImage([](const Image& image) {
        return hasColour(image, 160, 60, {0, 255, 0});
    });
    EXPECT_TRUE(hasColour(frame, 160, 60, {0, 255, 0}));
    EXPECT_EQ(logLineCount(frame, H), 7) << "a rebuild that succeeds writes nothing";

    // A vertex stage that halves the quad leaves the corners black.
    player.dir().write("shaders/vertex.glsl",
                       "#version 330 core\n"
                       "layout(location = 0) in vec3 position;\n"
                       "void main() { gl_Position = vec4(position * 0.5, 1.0); }\n");
    player.pressKey(XK_r);
    const Image halved = player.waitForImage([](const Image& image) {
        return hasColour(image, 10, 10, {0, 0, 0});
    });
    EXPECT_TRUE(hasColour(halved, 10, 10, {0, 0, 0}));
    EXPECT_TRUE(hasColour(halved, 160, 120, {0, 255, 0}));

    player.pressKey(XK_Escape);
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Keyboard, RWithASyntaxErrorLogsItBlacksThePictureAndTheMusicPlaysOn) {
    constexpr int W = 320;
    constexpr int H = 240;
    Player player;
    writeTimedDemo(player.dir(), false, W, H);
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    const Image before = player.waitForImage(
        [](const Image& image) {
            return showsTime(image) && shownTime(image) > 1.0 && logLineCount(image, H) == 7;
        },
        30s);
    const auto startWall = std::chrono::steady_clock::now();
    ASSERT_TRUE(showsTime(before));
    const double startTime = shownTime(before);

    rewriteFragmentUnseen(player.dir(), BROKEN_FRAGMENT);
    player.pressKey(XK_r);
    const Image broken =
        player.waitForImage([](const Image& image) { return logLineCount(image, H) == 8; });
    saveForViewing(broken, "keyboard-syntax-error");
    ASSERT_EQ(logLineCount(broken, H), 8);
    // A new line at the bottom, the older ones moved up by one.
    EXPECT_NE(logLineMask(broken, H, 0, W), logLineMask(before, H, 0, W));
    for (int k = 1; k < 8; ++k) {
        EXPECT_EQ(logLineMask(broken, H, k, W), logLineMask(before, H, k - 1, W)) << "line " << k;
    }
    EXPECT_TRUE(hasColour(broken, W / 2, H / 2, {0, 0, 0}));
    EXPECT_TRUE(hasColour(broken, W - 1, 0, {0, 0, 0}));
    std::this_thread::sleep_for(1s);

    rewriteFragmentUnseen(player.dir(), TIME_FRAGMENT);
    player.pressKey(XK_r);
    const Image fixed = player.waitForImage(showsTime);
    const double elapsed = secondsSince(startWall);
    ASSERT_TRUE(showsTime(fixed));
    EXPECT_EQ(logLineCount(fixed, H), 8) << "a rebuild that succeeds writes nothing";
    // The music went on through the broken build and the rebuilds: neither
    // paused (a second or more lost) nor started over (a second or more
    // behind), give or take the age of the two frames.
    EXPECT_NEAR(shownTime(fixed) - startTime, elapsed, 0.75);
    const double fixedTime = shownTime(fixed);
    EXPECT_TRUE(waitUntil([&] { return shownTime(player.capture()) > fixedTime + 0.2; }));

    player.pressKey(XK_Escape);
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Keyboard, ReleaseModeIgnoresCFRAndS) {
    Player player;
    const std::string sound = player.dir().file("sound.raw");
    ASSERT_TRUE(startHeard(player, sound, true, 1280, 720));
    const Image first = player.waitForImage(
        [](const Image& image) { return showsTime(image) && shownTime(image) > 0.3; }, 30s);
    ASSERT_TRUE(showsTime(first));
    const WindowGeometry area = player.geometry();

    player.dir().write("shaders/fragment.glsl", solidFragmentShader(0.0f, 1.0f, 0.0f));
    const double pressed = shownTime(player.capture());
    for (const unsigned long key : {XK_c, XK_f, XK_r, XK_s}) {
        player.pressKey(key);
    }
    // Well over a second of frames after the presses, nothing has changed.
    const Image later = player.waitForImage(
        [&](const Image& image) { return !showsTime(image) || shownTime(image) > pressed + 1.5; },
        30s);
    saveForViewing(later, "keyboard-release");
    ASSERT_TRUE(showsTime(later)) << "R rebuilt the shader";
    EXPECT_GT(shownTime(later), pressed + 1.5);
    // The time shader's blue is everywhere: no black cell, no white glyph.
    // (Its other channels change from frame to frame, and a software GL
    // presents a frame in strips.)
    bool logShown = false;
    for (int y = 0; y < later.height && !logShown; ++y) {
        for (int x = 0; x < later.width && !logShown; ++x) {
            logShown = std::abs(later.at(x, y)[2] - 64) > 1;
        }
    }
    EXPECT_FALSE(logShown) << "the log is shown";
    EXPECT_EQ(player.geometry().width, area.width);
    EXPECT_EQ(player.geometry().height, area.height);
    EXPECT_GT(tailPeak(sound), 0.4f) << "S silenced the music";

    player.pressKey(XK_Escape);
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Keyboard, HoldingAKeyActsOnce) {
    ASSERT_GT(keyPressesWhileHeld(XK_r, 1500ms), 3)
        << "the X server must repeat held keys for this test to tell";
    constexpr int H = 240;
    Player player;
    writeSolidDemo(player.dir(), false, 320, H, solidFragmentShader(0.1f, 0.3f, 0.5f));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    ASSERT_TRUE(waitUntil([&] { return logLineCount(player.capture(), H) == 7; }));

    // Each rebuild acted on would add one error line.
    rewriteFragmentUnseen(player.dir(), BROKEN_FRAGMENT);
    player.keyDown(XK_r);
    std::this_thread::sleep_for(1500ms);
    player.keyUp(XK_r);
    EXPECT_TRUE(waitUntil([&] { return logLineCount(player.capture(), H) == 8; }));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(logLineCount(player.capture(), H), 8);

    // Each toggle acted on would flip the log: once hidden it stays hidden.
    player.keyDown(XK_c);
    const auto start = std::chrono::steady_clock::now();
    bool hiddenOnce = false;
    int shownAfterHidden = 0;
    while (secondsSince(start) < 1.5) {
        const bool hidden = !hasWhite(player.capture(), 0, H, 320);
        hiddenOnce = hiddenOnce || hidden;
        shownAfterHidden += hiddenOnce && !hidden ? 1 : 0;
    }
    player.keyUp(XK_c);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(hiddenOnce);
    EXPECT_EQ(shownAfterHidden, 0);
    EXPECT_FALSE(hasWhite(player.capture(), 0, H, 320));

    player.pressKey(XK_Escape);
    EXPECT_EQ(player.waitForExit(), 0);
}

// Rebuilding as R does, 200 times alternating a good and a broken fragment
// shader, in a GL context of the test's own: the live shader and program
// objects and the process's memory stay flat.
TEST(KeyboardSoak, DISABLED_TwoHundredRebuildsLeaveGlObjectsAndMemoryFlat) {
    GlContext context;
    ASSERT_TRUE(context.ok());
    const auto liveObjects = [] {
        // Names are handed out upwards (and may be reused): a probe shows how
        // far they have gone.
        const GLuint probe = glCreateShader(GL_FRAGMENT_SHADER);
        glDeleteShader(probe);
        int live = 0;
        for (GLuint name = 1; name < probe + 1024; ++name) {
            live += glIsShader(name) || glIsProgram(name) ? 1 : 0;
        }
        return live;
    };
    Tolvane::Shader shader;
    shader.initialize(64, 64);
    int objectsAfterWarmUp = 0;
    long memoryAfterWarmUp = 0;
    for (int i = 1; i <= 200; ++i) {
        const bool broken = i % 2 == 1;
        shader.cleanShader();
        shader.setSources(passThroughVertexShader(),
                          broken ? BROKEN_FRAGMENT : solidFragmentShader(0, 1, 0));
        Tolvane::Logger::Message message;
        message = shader.initShader();
        ASSERT_EQ(message.error, broken) << "rebuild " << i;
        if (i == 40) {
            objectsAfterWarmUp = liveObjects();
            memoryAfterWarmUp = residentKilobytes(getpid());
        }
    }
    const int objects = liveObjects();
    const long memory = residentKilobytes(getpid());
    std::cout << "[soak] in-process rebuilds: live GL shader/program objects " << objectsAfterWarmUp
              << " -> " << objects << ", VmRSS " << memoryAfterWarmUp << " kB -> " << memory
              << " kB\n";
    EXPECT_EQ(objects, objectsAfterWarmUp);
    EXPECT_EQ(objects, 3) << "a linked program and its two shaders";
    if (RESIDENT_SIZE_TELLS_LEAKS) {
        EXPECT_LT(memory - memoryAfterWarmUp, 2048);
    }
    shader.releaseGraphics();
    EXPECT_EQ(liveObjects(), 0);
}

// 200 R presses on the real player, alternating a good and a broken fragment
// shader (each one seen on screen before the next): its memory stays flat.
TEST(KeyboardSoak, DISABLED_TwoHundredRPressesLeaveThePlayerMemoryFlat) {
    Player player;
    // Wide enough for the picture to show beyond the end of the longest line.
    writeSolidDemo(player.dir(), false, 640, 160, solidFragmentShader(0.0f, 1.0f, 0.0f));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    ASSERT_TRUE(waitUntil([&] { return hasColour(player.capture(), 639, 0, {0, 255, 0}); }));
    long memoryAfterWarmUp = 0;
    for (int i = 1; i <= 200; ++i) {
        const bool broken = i % 2 == 1;
        rewriteFragmentUnseen(player.dir(),
                              broken ? BROKEN_FRAGMENT : solidFragmentShader(0, 1, 0));
        player.pressKey(XK_r);
        const Colour expected = broken ? Colour{0, 0, 0} : Colour{0, 255, 0};
        ASSERT_TRUE(waitUntil([&] { return hasColour(player.capture(), 639, 0, expected); }, 20s))
            << "press " << i;
        if (i == 40) {
            memoryAfterWarmUp = residentKilobytes(player.pid());
        }
    }
    const long memory = residentKilobytes(player.pid());
    std::cout << "[soak] player after 200 R presses: VmRSS " << memoryAfterWarmUp
              << " kB (press 40) -> " << memory << " kB (press 200)\n";
    if (RESIDENT_SIZE_TELLS_LEAKS) {
        EXPECT_LT(memory - memoryAfterWarmUp, 4096);
    }

    player.pressKey(XK_Escape);
    EXPECT_EQ(player.waitForExit(), 0);
}
