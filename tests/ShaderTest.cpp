// The shader program and the frame render, drawn with the real GL and read
// back from the framebuffer.

#include "Cosmonaut.h"
#include "GlContext.h"
#include "Helpers.h"
#include "Shader.h"
#include "TestFiles.h"
#include "TextureManager.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

namespace Tolvane {
namespace {

namespace fs = std::filesystem;

const char* const VERTEX = R"(#version 330 core
layout(location = 0) in vec3 position;
void main() { gl_Position = vec4(position, 1.0); }
)";

const char* const RED = R"(#version 330 core
out vec4 color;
void main() { color = vec4(1.0, 0.0, 0.0, 1.0); }
)";

const char* const BROKEN_VERTEX = R"(#version 330 core
layout(location = 0) in vec3 position;
void main() { gl_Position = vec4(position, 1.0) * vertexOnlyMistake; }
)";

const char* const BROKEN_FRAGMENT = R"(#version 330 core
out vec4 color;
void main() { color = fragmentOnlyMistake; }
)";

// Compiles on its own, but calls a function nobody defines: only the link fails.
const char* const UNLINKABLE_FRAGMENT = R"(#version 330 core
out vec4 color;
float undefinedHelper();
void main() { color = vec4(undefinedHelper()); }
)";

// A fragment stage whose red, green and blue are the red channels of up to
// three samplers of these names, sampled at the centre.
std::string samplingFragment(const std::vector<std::string>& samplers) {
    std::string declarations;
    std::string channels[3] = {"0.0", "0.0", "0.0"};
    for (size_t i = 0; i < samplers.size() && i < 3; ++i) {
        declarations += "uniform sampler2D " + samplers[i] + ";\n";
        channels[i] = "texture(" + samplers[i] + ", vec2(0.5)).r";
    }
    return "#version 330 core\n" + declarations + "out vec4 color;\nvoid main() { color = vec4(" +
           channels[0] + ", " + channels[1] + ", " + channels[2] + ", 1.0); }\n";
}

// The full info log of compiling source as a stage of the given type.
std::string compileLog(GLenum type, const std::string& source) {
    const GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
    glGetShaderInfoLog(shader, static_cast<GLsizei>(log.size()), nullptr, log.data());
    glDeleteShader(shader);
    return log.c_str();
}

// The full info log of linking the two sources.
std::string linkLog(const std::string& vertex, const std::string& fragment) {
    const GLuint program = glCreateProgram();
    for (const auto& [type, source] :
         {std::pair{GL_VERTEX_SHADER, vertex}, std::pair{GL_FRAGMENT_SHADER, fragment}}) {
        const GLuint shader = glCreateShader(type);
        const char* text = source.c_str();
        glShaderSource(shader, 1, &text, nullptr);
        glCompileShader(shader);
        glAttachShader(program, shader);
        glDeleteShader(shader);
    }
    glLinkProgram(program);
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
    glGetProgramInfoLog(program, static_cast<GLsizei>(log.size()), nullptr, log.data());
    glDeleteProgram(program);
    return log.c_str();
}

// How many of the names the GL could have handed out so far name live objects
// of the kind that is() recognises.
int countLive(const std::function<GLboolean(GLuint)>& is) {
    int live = 0;
    for (GLuint name = 1; name < 8192; ++name) {
        live += is(name) ? 1 : 0;
    }
    return live;
}

int liveShaders() {
    return countLive([](GLuint n) { return glIsShader(n); });
}
int livePrograms() {
    return countLive([](GLuint n) { return glIsProgram(n); });
}
int liveTextures() {
    return countLive([](GLuint n) { return glIsTexture(n); });
}

// The one live program, for tests that inspect the built program's state.
GLuint onlyProgram() {
    for (GLuint name = 1; name < 8192; ++name) {
        if (glIsProgram(name)) {
            return name;
        }
    }
    return 0;
}

class ShaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(context.ok()) << "no OpenGL context";
        ASSERT_TRUE(scratch.ok());
    }

    // Writes a width x height PNG of one grey level and returns its asset.
    Common::Asset greyAsset(const std::string& name, unsigned char level, unsigned width = 1,
                            unsigned height = 1) {
        const std::string path = (directory / (name + ".png")).string();
        std::vector<unsigned char> pixels(static_cast<size_t>(width) * height, level);
        EXPECT_EQ(lodepng::encode(path, pixels, width, height, LCT_GREY, 8), 0u);
        Common::Asset asset;
        asset.type = Common::STATIC_TEXTURE;
        asset.file = path;
        asset.name = name;
        return asset;
    }

    // Sets shader up as the player does for its 800x600 screen, with the
    // given stages; bindings and the build are left to the test.
    static void prepare(Shader& shader, const std::string& fragment,
                        const std::string& vertex = VERTEX) {
        shader.initialize(800, 600);
        shader.setSources(vertex, fragment);
    }

    std::array<uint8_t, 4> centre() const {
        return context.pixel(context.width() / 2, context.height() / 2);
    }

    // Builds shader, which must fail with the given log, and draws a frame,
    // which must be black.
    void expectFailedBuild(Shader& shader, const std::string& log) {
        const Logger::Message failed = shader.initShader();
        EXPECT_TRUE(failed.error);
        EXPECT_EQ(failed.text, log);
        shader.render(0.0);
        const std::array<uint8_t, 4> pixel = centre();
        EXPECT_EQ(pixel, (std::array<uint8_t, 4>{0, 0, 0, 255}));
    }

    Testing::GlContext context{64, 64};
    Testing::TempDir scratch;
    const fs::path directory{scratch.path()};
};

void expectColour(std::array<uint8_t, 4> pixel, int red, int green, int blue, int tolerance = 1) {
    EXPECT_NEAR(pixel[0], red, tolerance);
    EXPECT_NEAR(pixel[1], green, tolerance);
    EXPECT_NEAR(pixel[2], blue, tolerance);
}

TEST_F(ShaderTest, TimeAndResolutionShowTheGivenTimeAndConfiguredSize) {
    Shader shader;
    prepare(shader, R"(#version 330 core
uniform float time;
uniform vec2 resolution;
out vec4 color;
void main() { color = vec4(time / 10.0, resolution.x / 1000.0, resolution.y / 1000.0, 1.0); }
)");
    shader.initializeUniforms({{"time", "time"}, {"resolution", "resolution"}});
    const Logger::Message built = shader.initShader();
    ASSERT_FALSE(built.error) << built.text;
    EXPECT_TRUE(built.text.empty());

    shader.render(5.0);
    expectColour(centre(), 128, 204, 153);
    shader.render(2.0);
    expectColour(centre(), 51, 204, 153);

    // A new framebuffer size reaches the viewport only; the shader keeps the
    // configured size.
    glfwSetWindowSize(context.handle(), 120, 90);
    int width = 0;
    int height = 0;
    for (int i = 0; i < 100 && width != 120; ++i) {
        glfwWaitEventsTimeout(0.01);
        glfwGetFramebufferSize(context.handle(), &width, &height);
    }
    ASSERT_EQ(width, 120);
    ASSERT_EQ(height, 90);
    // As in the frame loop: the swap lets the GL see the new drawable size.
    glfwSwapBuffers(context.handle());
    glViewport(0, 0, width, height);
    shader.render(7.5);
    std::array<uint8_t, 4> pixel{};
    glReadPixels(100, 80, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    expectColour(pixel, 191, 204, 153);
}

TEST_F(ShaderTest, TimeReachesOnlyAVariableBoundToIt) {
    Shader shader;
    // A variable named time but bound to nothing keeps its default of 0.
    prepare(shader, R"(#version 330 core
uniform float time;
uniform vec2 resolution;
out vec4 color;
void main() { color = vec4(time, resolution.x / 1000.0, 0.0, 1.0); }
)");
    shader.initializeUniform("resolution", "resolution");
    ASSERT_FALSE(shader.initShader().error);
    shader.render(0.9);
    expectColour(centre(), 0, 204, 0);
}

TEST_F(ShaderTest, LaterBondToTheSameVariableWins) {
    // A track the sync driver does not know reads as one float 0.
    Cosmonaut cosmonaut;
    for (const bool timeFirst : {true, false}) {
        Shader shader;
        prepare(shader, R"(#version 330 core
uniform float level;
out vec4 color;
void main() { color = vec4(level, 0.0, 1.0, 1.0); }
)");
        if (timeFirst) {
            shader.initializeUniforms({{"level", "time"}, {"level", "undeclared"}});
        } else {
            shader.initializeUniforms({{"level", "undeclared"}, {"level", "time"}});
        }
        shader.setCosmonaut(&cosmonaut);
        ASSERT_FALSE(shader.initShader().error);
        shader.render(0.6);
        expectColour(centre(), timeFirst ? 0 : 153, 0, 255);
    }
}

TEST_F(ShaderTest, TrackComponentsReachVectorUniformsInOrder) {
    // The sync driver in release mode reads the tracks from files.
    ASSERT_TRUE(scratch.enter());
    const float values[] = {0.2f, 0.4f, 0.6f, 0.8f, 1.0f};
    const char* const files[] = {"sync_pos.x.track", "sync_pos.y.track", "sync_col.x.track",
                                 "sync_col.y.track", "sync_col.z.track"};
    for (int i = 0; i < 5; ++i) {
        scratch.write(files[i], Testing::trackFile({{0, values[i], KEY_STEP}}));
    }
    Cosmonaut cosmonaut;
    cosmonaut.initialize(120.0, 8);
    cosmonaut.setTracks({{Common::FLOAT2, "pos"}, {Common::FLOAT3, "col"}});
    cosmonaut.update(0.0);

    Shader shader;
    prepare(shader, R"(#version 330 core
uniform vec2 pos;
uniform vec3 col;
out vec4 color;
void main() { color = gl_FragCoord.x < 32.0 ? vec4(pos, 0.0, 1.0) : vec4(col, 1.0); }
)");
    shader.initializeUniforms({{"pos", "pos"}, {"col", "col"}});
    shader.setCosmonaut(&cosmonaut);
    ASSERT_FALSE(shader.initShader().error);
    shader.render(0.0);
    expectColour(context.pixel(16, 32), 51, 102, 0);
    expectColour(context.pixel(48, 32), 153, 204, 255);
    cosmonaut.cleanUp();
}

TEST_F(ShaderTest, TexturesReachUnitsInListOrderEveryFrame) {
    TextureManager textures;
    textures.setTextures(
        {greyAsset("a_tex", 120), greyAsset("b_tex", 220), greyAsset("c_tex", 50)});
    textures.initializeTextures();

    Shader shader;
    const std::vector<std::string> order{"c_tex", "a_tex", "b_tex"};
    prepare(shader, samplingFragment(order));
    shader.initializeTextures(order);
    shader.setTextureManager(&textures);
    ASSERT_FALSE(shader.initShader().error);

    for (int frame = 0; frame < 2; ++frame) {
        shader.render(0.0);
        expectColour(centre(), 50, 120, 220);
        const GLuint program = onlyProgram();
        for (int unit = 0; unit < 3; ++unit) {
            glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
            GLint bound = 0;
            glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
            EXPECT_EQ(static_cast<GLuint>(bound), textures.getTexture(order[unit])->id)
                << "unit " << unit;
            GLint sampler = -1;
            glGetUniformiv(program, glGetUniformLocation(program, order[unit].c_str()), &sampler);
            EXPECT_EQ(sampler, unit) << order[unit];
        }
        // Something else disturbs the units between frames.
        glActiveTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
}

TEST_F(ShaderTest, TexturesPastTheUnitLimitAreSkippedAndNamed) {
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &units);
    ASSERT_GT(units, 1);
    TextureManager textures;
    textures.setTextures({greyAsset("last", 90), greyAsset("extra", 240)});
    textures.initializeTextures();

    // The shader samples the last unit there is; two more names follow it.
    std::vector<std::string> names;
    for (GLint unit = 0; unit + 1 < units; ++unit) {
        names.push_back("unused" + std::to_string(unit));
    }
    names.insert(names.end(), {"last", "extra", "more"});
    Shader shader;
    shader.initialize(800, 600);
    shader.setSources(VERTEX, R"(#version 330 core
uniform sampler2D last;
out vec4 color;
void main() { color = vec4(texture(last, vec2(0.5)).r, 0.0, 0.0, 1.0); }
)");
    const Logger::Message skipped = shader.initializeTextures(names);
    EXPECT_TRUE(skipped.error);
    EXPECT_EQ(skipped.text, "textures past the GL's " + std::to_string(units) +
                                " texture units skipped: extra, more");
    shader.setTextureManager(&textures);
    ASSERT_FALSE(shader.initShader().error);
    shader.render(0.0);
    expectColour(centre(), 90, 0, 0);
}

TEST_F(ShaderTest, TextureNameWithoutTextureSamplesTextureZero) {
    TextureManager textures;
    Common::Asset broken;
    broken.type = Common::STATIC_TEXTURE;
    broken.file = (directory / "absent.png").string();
    broken.name = "broken";
    textures.setTextures({greyAsset("present", 200), broken});
    textures.initializeTextures();

    Shader shader;
    prepare(shader, samplingFragment({"present", "broken", "unknown"}));
    shader.initializeTextures({"present", "broken", "unknown"});
    shader.setTextureManager(&textures);
    ASSERT_FALSE(shader.initShader().error);

    // Leave other textures on the units the missing ones use.
    for (GLenum unit : {GL_TEXTURE1, GL_TEXTURE2}) {
        glActiveTexture(unit);
        glBindTexture(GL_TEXTURE_2D, textures.getTexture("present")->id);
    }
    shader.render(0.0);
    expectColour(centre(), 200, 0, 0);
    for (GLenum unit : {GL_TEXTURE1, GL_TEXTURE2}) {
        glActiveTexture(unit);
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(bound, 0);
    }
    EXPECT_EQ(textures.getTexture("broken"), nullptr);
    EXPECT_EQ(textures.getTexture("unknown"), nullptr);
}

TEST_F(ShaderTest, SuccessfulBuildReturnsNoError) {
    Shader shader;
    prepare(shader, RED);
    const Logger::Message built = shader.initShader();
    EXPECT_FALSE(built.error);
    EXPECT_EQ(built.text, "");
    shader.render(0.0);
    expectColour(centre(), 255, 0, 0, 0);
    // The compiled stages replaced their placeholders: one program, two shaders.
    EXPECT_EQ(livePrograms(), 1);
    EXPECT_EQ(liveShaders(), 2);
}

TEST_F(ShaderTest, VertexCompileErrorReportsThatStageOnlyAndDrawsBlack) {
    const std::string vertexLog = compileLog(GL_VERTEX_SHADER, BROKEN_VERTEX);
    ASSERT_NE(vertexLog.find("vertexOnlyMistake"), std::string::npos) << vertexLog;

    Shader shader;
    prepare(shader, RED);
    ASSERT_FALSE(shader.initShader().error);
    shader.render(0.0);
    expectColour(centre(), 255, 0, 0, 0);

    // Both stages broken: the fragment stage is never compiled.
    shader.cleanShader();
    shader.setSources(BROKEN_VERTEX, BROKEN_FRAGMENT);
    expectFailedBuild(shader, vertexLog);
}

TEST_F(ShaderTest, FragmentCompileErrorReportsItsLogAndDrawsBlack) {
    const std::string fragmentLog = compileLog(GL_FRAGMENT_SHADER, BROKEN_FRAGMENT);
    Shader shader;
    prepare(shader, BROKEN_FRAGMENT);
    expectFailedBuild(shader, fragmentLog);
}

TEST_F(ShaderTest, LinkErrorReportsTheProgramLogAndDrawsBlack) {
    const std::string expected = linkLog(VERTEX, UNLINKABLE_FRAGMENT);
    ASSERT_FALSE(expected.empty());
    Shader shader;
    prepare(shader, RED);
    ASSERT_FALSE(shader.initShader().error);
    shader.render(0.0);

    shader.cleanShader();
    shader.setSources(VERTEX, UNLINKABLE_FRAGMENT);
    shader.setSourcePaths("v.glsl", "f.glsl");
    ::testing::internal::CaptureStderr();
    expectFailedBuild(shader, expected);
    EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("v.glsl + f.glsl: ", 0), 0u)
        << "a link error names both";
}

TEST_F(ShaderTest, MissingShaderFileGivesEmptySourceAndFailedCompile) {
    const std::string missing = Helpers::readFile((directory / "no-such-vertex.glsl").string());
    EXPECT_EQ(missing, "");
    Shader shader;
    prepare(shader, RED, missing);
    expectFailedBuild(shader, compileLog(GL_VERTEX_SHADER, ""));
}

TEST_F(ShaderTest, ReadFileReturnsEveryByte) {
    const fs::path path = directory / "source.glsl";
    const std::string content("line one\r\nline two\n\0after a nul\n", 33);
    std::ofstream(path, std::ios::binary) << content;
    EXPECT_EQ(Helpers::readFile(path.string()), content);
}

TEST_F(ShaderTest, SourceIsCompiledUpToANulByte) {
    Shader shader;
    prepare(shader, std::string(RED) + std::string(1, '\0') + "this is not GLSL");
    EXPECT_FALSE(shader.initShader().error);
    shader.render(0.0);
    expectColour(centre(), 255, 0, 0, 0);
}

TEST_F(ShaderTest, RebuildAfterFailureDraws) {
    std::string vertex = VERTEX;
    std::string fragment = BROKEN_FRAGMENT;
    Shader shader;
    prepare(shader, fragment, vertex);
    EXPECT_TRUE(shader.initShader().error);
    shader.render(0.0);
    expectColour(centre(), 0, 0, 0, 0);

    // The shader holds its own copies of the sources.
    fragment = RED;
    shader.cleanShader();
    EXPECT_TRUE(shader.initShader().error);

    shader.cleanShader();
    shader.setSources(vertex, fragment);
    const Logger::Message rebuilt = shader.initShader();
    EXPECT_FALSE(rebuilt.error) << rebuilt.text;
    shader.render(0.0);
    expectColour(centre(), 255, 0, 0, 0);
}

TEST_F(ShaderTest, LongInfoLogIsCutTo1023Characters) {
    std::string fragment = "#version 330 core\nout vec4 color;\nvoid main() {\n";
    for (int i = 0; i < 200; ++i) {
        fragment +=
            "    float value" + std::to_string(i) + " = undeclared" + std::to_string(i) + ";\n";
    }
    fragment += "    color = vec4(1.0);\n}\n";
    const std::string full = compileLog(GL_FRAGMENT_SHADER, fragment);
    ASSERT_GT(full.size(), 1023u);

    Shader shader;
    prepare(shader, fragment);
    const Logger::Message failed = shader.initShader();
    EXPECT_TRUE(failed.error);
    EXPECT_EQ(failed.text, full.substr(0, 1023));

    // Once the files are named, stderr has the whole log, line by line
    // behind the failing file's path.
    std::string expected;
    for (size_t start = 0; start < full.size();) {
        const size_t end = std::min(full.find('\n', start), full.size());
        expected += "shaders/f.glsl: " + full.substr(start, end - start) + "\n";
        start = end + 1;
    }
    shader.setSourcePaths("shaders/v.glsl", "shaders/f.glsl");
    shader.cleanShader();
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(shader.initShader().error);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
}

TEST_F(ShaderTest, RebuildsLeakNoGlObjects) {
    TextureManager textures;
    textures.setTextures(
        {greyAsset("first", 10), greyAsset("second", 20), greyAsset("unused", 30)});
    textures.initializeTextures();
    ASSERT_EQ(liveTextures(), 3);

    Shader shader;
    shader.initialize(800, 600);
    shader.initializeTextures({"first", "second"});
    shader.setTextureManager(&textures);
    while (glGetError() != GL_NO_ERROR) {
    }
    const std::vector<std::pair<const char*, const char*>> builds{{VERTEX, RED},
                                                                  {BROKEN_VERTEX, RED},
                                                                  {VERTEX, BROKEN_FRAGMENT},
                                                                  {VERTEX, UNLINKABLE_FRAGMENT}};
    for (int cycle = 0; cycle < 40; ++cycle) {
        const auto& [vertex, fragment] = builds[cycle % builds.size()];
        shader.cleanShader();
        shader.setSources(vertex, fragment);
        EXPECT_EQ(shader.initShader().error, cycle % builds.size() != 0);
        shader.render(0.0);
        // A failed build leaves render nothing to make current.
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "cycle " << cycle;
        EXPECT_EQ(livePrograms(), 1) << "cycle " << cycle;
        EXPECT_EQ(liveShaders(), 2) << "cycle " << cycle;
        EXPECT_EQ(liveTextures(), 3) << "cycle " << cycle;
    }
    // A build that was not cleaned first does not leak either.
    shader.setSources(VERTEX, RED);
    EXPECT_FALSE(shader.initShader().error);
    EXPECT_FALSE(shader.initShader().error);
    EXPECT_EQ(livePrograms(), 1);
    EXPECT_EQ(liveShaders(), 2);

    shader.releaseGraphics();
    textures.releaseGraphics();
    EXPECT_EQ(livePrograms(), 0);
    EXPECT_EQ(liveShaders(), 0);
    EXPECT_EQ(liveTextures(), 0);
    EXPECT_EQ(countLive([](GLuint n) { return glIsVertexArray(n); }), 0);
    EXPECT_EQ(countLive([](GLuint n) { return glIsBuffer(n); }), 0);
    // Releasing twice, or cleaning after the release, touches nothing.
    shader.releaseGraphics();
    shader.cleanShader();
    textures.releaseGraphics();
}

int glfwErrors = 0;

TEST(ShaderShutdown, ObjectsOutlivingTheContextMakeNoGlCall) {
    glfwErrors = 0;
    glfwSetErrorCallback([](int, const char*) { ++glfwErrors; });
    const fs::path png =
        fs::temp_directory_path() / ("tolvane-shutdown-" + std::to_string(getpid()) + ".png");
    {
        auto shader = std::make_unique<Shader>();
        auto textures = std::make_unique<TextureManager>();
        {
            Testing::GlContext context;
            ASSERT_TRUE(context.ok());
            ASSERT_EQ(
                lodepng::encode(png.string(), std::vector<unsigned char>(4, 99), 2, 2, LCT_GREY, 8),
                0u);
            Common::Asset asset;
            asset.type = Common::STATIC_TEXTURE;
            asset.file = png.string();
            asset.name = "image";
            textures->setTextures({asset});
            textures->initializeTextures();
            shader->initialize(800, 600);
            shader->setSources(VERTEX, RED);
            shader->initializeTextures({"image"});
            shader->setTextureManager(textures.get());
            ASSERT_FALSE(shader->initShader().error);
            shader->render(0.0);
        }
        // The window library has terminated: the destructors must not ask it
        // or the GL for anything.
        EXPECT_FALSE(Helpers::hasCurrentContext());
    }
    fs::remove(png);
    EXPECT_EQ(glfwErrors, 0);
    glfwSetErrorCallback(nullptr);
}

} // namespace
} // namespace Tolvane
