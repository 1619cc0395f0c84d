// The on-screen log, drawn into a real 800x600 framebuffer and read back.

#include "GlContext.h"
#include "Logger.h"
#include "text/overlay_internal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using Tolvane::Logger;
using Tolvane::Testing::GlContext;

constexpr int WIDTH = 800;
constexpr int HEIGHT = 600;

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(context.ok()) << "no GL 3.3 context";
        clear();
    }

    void TearDown() override { logger.releaseGraphics(); }

    static void clear() {
        glViewport(0, 0, WIDTH, HEIGHT);
        glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    // What the log should look like: each string with its top-left corner
    // at its position, drawn in the order given, over the cleared frame.
    std::vector<uint8_t> expected(const std::vector<std::pair<std::string, float>>& lines) {
        clear();
        gltBeginDraw();
        gltColor(1.0f, 1.0f, 1.0f, 1.0f);
        for (const auto& [string, top] : lines) {
            GLTtext* text = gltCreateText();
            gltSetText(text, string.c_str());
            gltDrawText2D(text, 0.0f, top, 1.0f);
            gltDeleteText(text);
        }
        gltEndDraw();
        std::vector<uint8_t> frame = context.pixels();
        clear();
        return frame;
    }

    std::vector<uint8_t> rendered() {
        clear();
        logger.render();
        return context.pixels();
    }

    // Whether any pixel in rows [top, bottom) differs from the clear colour.
    bool drawnBetween(const std::vector<uint8_t>& frame, int top, int bottom) const {
        for (int y = std::max(top, 0); y < std::min(bottom, HEIGHT); ++y) {
            for (int x = 0; x < WIDTH; ++x) {
                const size_t i = (static_cast<size_t>(y) * WIDTH + x) * 4;
                if (frame[i] != 0 || frame[i + 1] != 0 || frame[i + 2] != 255) {
                    return true;
                }
            }
        }
        return false;
    }

    bool whiteBetween(const std::vector<uint8_t>& frame, int top, int bottom) const {
        for (int y = std::max(top, 0); y < std::min(bottom, HEIGHT); ++y) {
            for (int x = 0; x < WIDTH; ++x) {
                const size_t i = (static_cast<size_t>(y) * WIDTH + x) * 4;
                if (frame[i] == 255 && frame[i + 1] == 255 && frame[i + 2] == 255) {
                    return true;
                }
            }
        }
        return false;
    }

    GlContext context{WIDTH, HEIGHT};
    Logger logger;
};

TEST_F(LoggerTest, NewestMessageSitsAtTheBottomLinesFifteenPixelsApart) {
    logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
    logger.write(Logger::INFO, "first");
    logger.write(Logger::INFO, "second");
    const std::vector<uint8_t> frame = rendered();

    EXPECT_TRUE(whiteBetween(frame, HEIGHT - 15, HEIGHT));
    EXPECT_TRUE(whiteBetween(frame, HEIGHT - 30, HEIGHT - 15));
    EXPECT_FALSE(drawnBetween(frame, 0, HEIGHT - 30));
    EXPECT_EQ(frame,
              expected({{"[INFO] second", HEIGHT - 15.0f}, {"[INFO] first", HEIGHT - 30.0f}}));
}

TEST_F(LoggerTest, PrefixFollowsTheLevel) {
    logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
    logger.write(Logger::INFO, "banner");
    logger.write(Logger::ERROR, "0:1(2): error: oops");
    logger.write(static_cast<Logger::LOG_LEVEL>(2), "plain");
    logger.write(Logger::INFO, "");
    EXPECT_EQ(rendered(), expected({{"[INFO]", HEIGHT - 15.0f},
                                    {"plain", HEIGHT - 30.0f},
                                    {"[ERROR] 0:1(2): error: oops", HEIGHT - 45.0f},
                                    {"[INFO] banner", HEIGHT - 60.0f}}));
}

TEST_F(LoggerTest, TwentySixthMessageDropsTheOldest) {
    logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
    for (int i = 0; i < 26; ++i) {
        logger.write(Logger::INFO, "message " + std::to_string(i));
    }
    const std::vector<uint8_t> frame = rendered();

    std::vector<std::pair<std::string, float>> lines;
    for (int k = 0; k < 25; ++k) {
        lines.emplace_back("[INFO] message " + std::to_string(25 - k), HEIGHT - 15.0f - 15.0f * k);
    }
    EXPECT_EQ(frame, expected(lines));
    // The oldest kept line starts at 600 - 375; "message 0" would have been
    // drawn above it.
    EXPECT_TRUE(whiteBetween(frame, HEIGHT - 375, HEIGHT - 360));
    EXPECT_FALSE(drawnBetween(frame, 0, HEIGHT - 375));
}

TEST_F(LoggerTest, MultiLineMessageKeepsOneSlot) {
    logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
    logger.write(Logger::ERROR, "0:3(1): error: one\n0:4(1): error: two");
    logger.write(Logger::INFO, "after");
    EXPECT_EQ(rendered(),
              expected({{"[INFO] after", HEIGHT - 15.0f},
                        {"[ERROR] 0:3(1): error: one\n0:4(1): error: two", HEIGHT - 30.0f}}));
}

TEST_F(LoggerTest, DisabledLogDrawsNothingAndLeavesGlStateAlone) {
    logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), false);
    EXPECT_FALSE(logger.isEnabled());
    logger.write(Logger::INFO, "hidden");

    // Sentinel state a GL call from the log would disturb.
    GLuint texture = 0;
    GLuint vertexArray = 0;
    glGenTextures(1, &texture);
    glGenVertexArrays(1, &vertexArray);
    glActiveTexture(GL_TEXTURE3);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBindVertexArray(vertexArray);

    clear();
    logger.render();
    GLint program = -1, active = 0, boundArray = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &boundArray);
    EXPECT_EQ(program, 0);
    EXPECT_EQ(active, GL_TEXTURE3);
    EXPECT_EQ(static_cast<GLuint>(boundArray), vertexArray);
    EXPECT_FALSE(drawnBetween(context.pixels(), 0, HEIGHT));

    // Messages were kept all along: enabling shows them at once.
    logger.toggleEnable();
    EXPECT_TRUE(logger.isEnabled());
    const std::vector<uint8_t> frame = rendered();
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    EXPECT_EQ(static_cast<GLuint>(program), _gltText2DShader);
    EXPECT_EQ(frame, expected({{"[INFO] hidden", HEIGHT - 15.0f}}));

    glDeleteVertexArrays(1, &vertexArray);
    glDeleteTextures(1, &texture);
}

TEST_F(LoggerTest, EnabledEmptyLogBindsTheRendererAndDrawsNothing) {
    logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
    const std::vector<uint8_t> frame = rendered();
    GLint program = 0, texture = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    EXPECT_NE(program, 0);
    EXPECT_EQ(static_cast<GLuint>(program), _gltText2DShader);
    EXPECT_EQ(static_cast<GLuint>(texture), _gltText2DFontTexture);
    EXPECT_FALSE(drawnBetween(frame, 0, HEIGHT));
}

TEST_F(LoggerTest, PositionStaysWhereInitializeSetIt) {
    // A taller viewport (the window maximised): the log floats at the old
    // height measured from the top.
    logger.initialize(25, 8.0f, 300.0f, true);
    logger.write(Logger::INFO, "anchored");
    const std::vector<uint8_t> frame = rendered();
    EXPECT_TRUE(whiteBetween(frame, 285, 300));
    EXPECT_FALSE(drawnBetween(frame, 0, 285));
    EXPECT_FALSE(drawnBetween(frame, 302, HEIGHT));
    // The cell of "[" starts at x 8.
    const size_t left = (static_cast<size_t>(290) * WIDTH + 7) * 4;
    EXPECT_EQ(frame[left + 2], 255) << "column 7 is the picture";
    EXPECT_EQ(frame[left + 4 + 2], 0) << "column 8 is the log's black cell";
}

TEST_F(LoggerTest, WritingBeforeInitializeKeepsNothing) {
    logger.write(Logger::INFO, "too early");
    logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
    EXPECT_FALSE(drawnBetween(rendered(), 0, HEIGHT));
}

TEST_F(LoggerTest, ReleaseGraphicsDeletesTheRendererWhileTheContextIsCurrent) {
    logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
    logger.write(Logger::INFO, "bye");
    const GLuint program = _gltText2DShader;
    const GLuint texture = _gltText2DFontTexture;
    ASSERT_TRUE(glIsProgram(program));
    ASSERT_TRUE(glIsTexture(texture));
    logger.releaseGraphics();
    EXPECT_FALSE(gltInitialized);
    EXPECT_FALSE(glIsProgram(program));
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_FALSE(drawnBetween(rendered(), 0, HEIGHT));
}

int glfwErrors = 0;

TEST(LoggerLifetime, DestroyedAfterTheContextIsGoneFreesMemoryWithoutGl) {
    auto logger = std::make_unique<Logger>();
    {
        GlContext context(WIDTH, HEIGHT);
        ASSERT_TRUE(context.ok()) << "no GL 3.3 context";
        logger->initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
        for (int i = 0; i < 30; ++i) {
            logger->write(Logger::INFO, "line " + std::to_string(i));
        }
        logger->render(); // builds every kept text's geometry
    }                     // window destroyed, window library terminated

    glfwErrors = 0;
    glfwSetErrorCallback([](int, const char*) { ++glfwErrors; });
    logger.reset(); // the sanitizer build reports anything leaked here
    glfwSetErrorCallback(nullptr);
    EXPECT_EQ(glfwErrors, 0) << "the destructor reached the window library's error callback";
    EXPECT_FALSE(gltInitialized);
    EXPECT_EQ(_gltText2DShader, 0u);
    EXPECT_EQ(_gltText2DFontTexture, 0u);
}

TEST(LoggerLifetime, DestroyedWhileTheContextIsCurrentReleasesGl) {
    GlContext context(WIDTH, HEIGHT);
    ASSERT_TRUE(context.ok()) << "no GL 3.3 context";
    GLuint texture = 0;
    {
        Logger logger;
        logger.initialize(25, 0.0f, static_cast<float>(HEIGHT), true);
        logger.write(Logger::INFO, "short-lived");
        texture = _gltText2DFontTexture;
        ASSERT_TRUE(glIsTexture(texture));
    }
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_FALSE(gltInitialized);
}

} // namespace
