// End-to-end tests of the on-screen log as the real player draws it: the
// start-up banner and shader build errors in the bottom-left corner of the
// window, the number of lines kept, and no log at all in release mode.
//
// Each log line's pixels are compared with what the text renderer draws for
// the expected text in a GL context of the test's own, so the tests hold
// whatever the font's glyphs look like. With TOLVANE_SCREENSHOT_DIR set, the
// pictures are saved there as PNG files for a person to look at.

#include "GlContext.h"
#include "Harness.h"
#include "LogPicture.h"
#include "Music.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

const std::string BROKEN_FRAGMENT = "#version 330 core\n"
                                    "out vec4 colour;\n"
                                    "void main() { colour = vec4(1.0) }\n";

void saveForViewing(const Image& image, const std::string& name) {
    if (const char* directory = std::getenv("TOLVANE_SCREENSHOT_DIR")) {
        image.savePng(std::string(directory) + "/" + name + ".png");
    }
}

std::string glString(GLenum name) {
    const GLubyte* text = glGetString(name);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// The seven banner lines, oldest first, as a 3.3 core context on this
// display reports itself.
std::vector<std::string> bannerLines() {
    GlContext context;
    return {
        "[INFO] tolvane version: 1.4",
        "[INFO] opengl vendor:   " + glString(GL_VENDOR),
        "[INFO] opengl renderer  " + glString(GL_RENDERER),
        "[INFO] opengl version:  " + glString(GL_VERSION),
        "[INFO] shading version: " + glString(GL_SHADING_LANGUAGE_VERSION),
        "[INFO] context version  3.3",
        "[INFO] audio version:   " + std::to_string(Tolvane::Music::backendVersion()),
    };
}

bool hasColour(const Image& image, int x, int y, std::array<uint8_t, 3> rgb) {
    const auto pixel = image.at(x, y);
    for (int i = 0; i < 3; ++i) {
        if (std::abs(pixel[i] - rgb[i]) > 1) {
            return false;
        }
    }
    return true;
}

// Topmost row with a pixel that is not the picture's colour, -1 when none.
int topForeignRow(const Image& image, std::array<uint8_t, 3> picture) {
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!hasColour(image, x, y, picture)) {
                return y;
            }
        }
    }
    return -1;
}

// Starts an editing-mode player of width x height with the given fragment
// shader and waits for its window.
void startEditing(Player& player, int width, int height, const std::string& fragment) {
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    player.dir().write("shaders/fragment.glsl", fragment);
    player.dir().write("configuration.json", basicConfiguration(false, width, height));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
}

} // namespace

TEST(Overlay, EditingModeShowsTheBannerInTheBottomLeftCorner) {
    constexpr int W = 640;
    constexpr int H = 400;
    const std::array<uint8_t, 3> picture{26, 77, 128};
    const std::vector<std::string> expected = renderedLineMasks(bannerLines(), W);
    Player player;
    startEditing(player, W, H, solidFragmentShader(0.1f, 0.3f, 0.5f));
    const Image frame = player.waitForImage([&](const Image& image) {
        return image.width == W && hasColour(image, W / 2, H / 4, picture) &&
               logLineCount(image, H) == 7;
    });
    saveForViewing(frame, "overlay-banner");
    ASSERT_EQ(frame.height, H);
    ASSERT_EQ(logLineCount(frame, H), 7);

    // The oldest line's black cells start at its top; nothing is drawn above.
    EXPECT_EQ(topForeignRow(frame, picture), logLineTop(H, 6));
    EXPECT_FALSE(hasWhite(frame, 0, logLineTop(H, 6), W));
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(logLineMask(frame, H, k, W), expected[static_cast<size_t>(6 - k)])
            << "line " << k << " from the bottom should read "
            << bannerLines()[static_cast<size_t>(6 - k)];
    }
    // Beyond the end of the shortest line the picture shows through.
    EXPECT_TRUE(hasColour(frame, W - 1, logLineTop(H, 1) + 8, picture));

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Overlay, CompileErrorIsTheNewestLineOverABlackPicture) {
    constexpr int W = 640;
    constexpr int H = 400;
    const std::string log = fragmentCompileLog(BROKEN_FRAGMENT);
    ASSERT_FALSE(log.empty());
    std::vector<std::string> lines = bannerLines();
    lines.push_back("[ERROR] " + log);
    const std::vector<std::string> expected = renderedLineMasks(lines, W);

    Player player;
    startEditing(player, W, H, BROKEN_FRAGMENT);
    const Image frame = player.waitForImage(
        [&](const Image& image) { return image.width == W && logLineCount(image, H) == 8; });
    saveForViewing(frame, "overlay-error");
    ASSERT_EQ(logLineCount(frame, H), 8);
    EXPECT_FALSE(hasWhite(frame, 0, logLineTop(H, 7), W));
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(logLineMask(frame, H, k, W), expected[static_cast<size_t>(7 - k)])
            << "line " << k << " from the bottom should read " << lines[static_cast<size_t>(7 - k)];
    }
    // Without a program the picture is the clear colour.
    EXPECT_TRUE(hasColour(frame, W / 2, H / 4, {0, 0, 0}));
    EXPECT_TRUE(hasColour(frame, W - 1, 0, {0, 0, 0}));

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Overlay, ReleaseModeDrawsNoLog) {
    const std::array<uint8_t, 3> picture{26, 77, 128};
    Player player;
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    player.dir().write("shaders/fragment.glsl", solidFragmentShader(0.1f, 0.3f, 0.5f));
    player.dir().write("configuration.json", basicConfiguration(true));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    // The log would be drawn in the very frame that first shows the picture.
    // A software GL presents a frame in strips: wait for its first and last
    // rows, away from the log.
    const Image frame = player.waitForImage([&](const Image& image) {
        return hasColour(image, image.width - 1, 0, picture) &&
               hasColour(image, image.width / 2, image.height / 2, picture) &&
               hasColour(image, image.width - 1, image.height - 1, picture);
    });
    saveForViewing(frame, "overlay-release");
    ASSERT_TRUE(hasColour(frame, frame.width / 2, frame.height / 2, picture));
    EXPECT_EQ(topForeignRow(frame, picture), -1) << "the whole picture is the shader's colour";

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}

TEST(Overlay, TwentySixMessagesKeepTheNewestTwentyFive) {
    constexpr int W = 480;
    constexpr int H = 420;
    const std::vector<std::string> banner = bannerLines();
    const std::vector<std::string> expected = renderedLineMasks(banner, W);
    Player player;
    // Seven banner lines and the start-up build error.
    startEditing(player, W, H, BROKEN_FRAGMENT);
    const Image start =
        player.waitForImage([](const Image& image) { return logLineCount(image, H) == 8; });
    ASSERT_EQ(logLineCount(start, H), 8);

    // Every failed rebuild adds one line, up to 25.
    for (int lines = 9; lines <= 25; ++lines) {
        player.pressKey(XK_r);
        const Image frame = player.waitForImage(
            [&](const Image& image) { return logLineCount(image, H) == lines; });
        ASSERT_EQ(logLineCount(frame, H), lines);
    }
    Image frame = player.capture();
    EXPECT_EQ(logLineMask(frame, H, 24, W), expected[0])
        << "the oldest kept line is the banner's first";

    // The 26th message drops the banner's first line, the 27th its second.
    for (size_t dropped = 1; dropped <= 2; ++dropped) {
        player.pressKey(XK_r);
        frame = player.waitForImage(
            [&](const Image& image) { return logLineMask(image, H, 24, W) == expected[dropped]; });
        saveForViewing(frame, "overlay-full-" + std::to_string(dropped));
        EXPECT_EQ(logLineMask(frame, H, 24, W), expected[dropped])
            << "the oldest kept line should read " << banner[dropped];
        EXPECT_EQ(logLineCount(frame, H), 25);
        EXPECT_FALSE(hasWhite(frame, 0, logLineTop(H, 24), W))
            << "nothing is drawn above the 25th line";
        for (int k = 0; k < 25; ++k) {
            EXPECT_TRUE(hasWhite(frame, logLineTop(H, k) + 2, logLineTop(H, k) + LOG_LINE_PITCH, W))
                << "line " << k << " from the bottom";
        }
    }

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
}
