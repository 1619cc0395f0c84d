// Textures and the texture manager: real PNG files decoded, uploaded to the
// real GL, and read back from the texture or through a shader.

#include "DynamicTexture.h"
#include "GlContext.h"
#include "Harness.h"
#include "Shader.h"
#include "StaticTexture.h"
#include "TextureManager.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace Tolvane {
namespace {

namespace fs = std::filesystem;

using Rgba = std::array<uint8_t, 4>;

// The pixels of the GL texture name, top row first, as 8-bit RGBA.
std::vector<uint8_t> readTexture(GLuint name, uint32_t width, uint32_t height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

int liveTextures() {
    int live = 0;
    for (GLuint name = 1; name < 4096; ++name) {
        live += glIsTexture(name) ? 1 : 0;
    }
    return live;
}

// Expands the 8- or 16-bit samples of a PNG decoded in its own colour type
// to 8-bit RGB; the reference the texture's colours are compared with.
std::vector<Rgba> expandToRgb(const std::vector<unsigned char>& raw, const LodePNGColorMode& mode,
                              size_t count) {
    const size_t bytes = mode.bitdepth / 8;
    size_t channels = 1;
    switch (mode.colortype) {
    case LCT_GREY_ALPHA:
        channels = 2;
        break;
    case LCT_RGB:
        channels = 3;
        break;
    case LCT_RGBA:
        channels = 4;
        break;
    default:
        break;
    }
    std::vector<Rgba> out(count);
    for (size_t i = 0; i < count; ++i) {
        // The high byte of a 16-bit (big-endian) sample is its 8-bit value.
        auto sample = [&](size_t c) { return raw[(i * channels + c) * bytes]; };
        switch (mode.colortype) {
        case LCT_GREY:
        case LCT_GREY_ALPHA:
            out[i] = {sample(0), sample(0), sample(0), 255};
            break;
        case LCT_PALETTE: {
            const unsigned char* entry = mode.palette + 4 * sample(0);
            out[i] = {entry[0], entry[1], entry[2], 255};
            break;
        }
        default:
            out[i] = {sample(0), sample(1), sample(2), 255};
            break;
        }
    }
    return out;
}

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(context.ok()) << "no OpenGL context";
        ASSERT_TRUE(scratch.ok());
    }

    // Encodes raw samples as a PNG of exactly the given colour type and depth.
    std::string writePng(const std::string& name, const std::vector<unsigned char>& raw,
                         unsigned width, unsigned height, LodePNGColorType type, unsigned depth,
                         const std::vector<Rgba>& palette = {}) {
        lodepng::State state;
        state.encoder.auto_convert = 0;
        for (LodePNGColorMode* mode : {&state.info_raw, &state.info_png.color}) {
            mode->colortype = type;
            mode->bitdepth = depth;
            for (const Rgba& entry : palette) {
                lodepng_palette_add(mode, entry[0], entry[1], entry[2], entry[3]);
            }
        }
        std::vector<unsigned char> png;
        EXPECT_EQ(lodepng::encode(png, raw, width, height, state), 0u);
        const std::string path = (directory / name).string();
        EXPECT_EQ(lodepng::save_file(png, path), 0u);
        return path;
    }

    static Common::Asset staticAsset(const std::string& name, const std::string& file) {
        Common::Asset asset;
        asset.type = Common::STATIC_TEXTURE;
        asset.name = name;
        asset.file = file;
        return asset;
    }

    // Draws a frame whose fragment stage body is given: it samples the
    // texture "picture" of textures and writes color.
    void drawSampling(TextureManager& textures, const std::string& body) {
        Shader shader;
        shader.initialize(64, 64);
        shader.setSources(
            Testing::passThroughVertexShader(),
            "#version 330 core\nuniform sampler2D picture;\nout vec4 color;\nvoid main() {" + body +
                "}\n");
        shader.initializeTextures({"picture"});
        shader.setTextureManager(&textures);
        ASSERT_FALSE(shader.initShader().error);
        shader.render(0.0);
    }

    Testing::GlContext context{64, 64};
    Testing::TempDir scratch;
    const fs::path directory{scratch.path()};
};

void expectRgba(const std::vector<uint8_t>& pixels, const std::vector<Rgba>& expected) {
    ASSERT_EQ(pixels.size(), expected.size() * 4);
    for (size_t i = 0; i < expected.size(); ++i) {
        const Rgba actual{pixels[i * 4], pixels[i * 4 + 1], pixels[i * 4 + 2], pixels[i * 4 + 3]};
        EXPECT_EQ(actual, expected[i]) << "pixel " << i;
    }
}

TEST_F(TextureTest, EveryColourTypeArrivesAsOpaqueEightBitRgba) {
    const std::vector<Rgba> palette{{255, 0, 0, 255}, {0, 255, 0, 128}, {10, 20, 30, 0}};
    TextureManager textures;
    textures.setTextures({
        staticAsset("palette",
                    writePng("palette.png", {0, 1, 2, 2, 1, 0}, 3, 2, LCT_PALETTE, 8, palette)),
        staticAsset("grey", writePng("grey.png", {0, 85, 170, 255}, 2, 2, LCT_GREY, 8)),
        staticAsset("grey16", writePng("grey16.png", {0x12, 0x34, 0xAB, 0xCD}, 2, 1, LCT_GREY, 16)),
        staticAsset("rgb16",
                    writePng("rgb16.png", {0xFF, 0x00, 0x80, 0x01, 0x00, 0xFF}, 1, 1, LCT_RGB, 16)),
        staticAsset("rgba", writePng("rgba.png", {1, 2, 3, 0, 4, 5, 6, 77}, 2, 1, LCT_RGBA, 8)),
    });
    textures.initializeTextures();

    const std::vector<std::pair<std::string, std::vector<Rgba>>> expected{
        {"palette",
         {{255, 0, 0, 255},
          {0, 255, 0, 255},
          {10, 20, 30, 255},
          {10, 20, 30, 255},
          {0, 255, 0, 255},
          {255, 0, 0, 255}}},
        {"grey", {{0, 0, 0, 255}, {85, 85, 85, 255}, {170, 170, 170, 255}, {255, 255, 255, 255}}},
        {"grey16", {{0x12, 0x12, 0x12, 255}, {0xAB, 0xAB, 0xAB, 255}}},
        {"rgb16", {{0xFF, 0x80, 0x00, 255}}},
        {"rgba", {{1, 2, 3, 255}, {4, 5, 6, 255}}},
    };
    for (const auto& [name, pixels] : expected) {
        SCOPED_TRACE(name);
        const Texture* texture = textures.getTexture(name);
        ASSERT_NE(texture, nullptr);
        const auto* image = dynamic_cast<const StaticTexture*>(texture);
        ASSERT_NE(image, nullptr);
        // Decoded in memory as 8-bit RGBA, the PNG's own alpha kept there.
        EXPECT_EQ(image->image.size(), size_t{texture->width} * texture->height * 4);
        EXPECT_EQ(size_t{texture->width} * texture->height, pixels.size());
        // On the GPU without alpha.
        expectRgba(readTexture(texture->id, texture->width, texture->height), pixels);
    }
    const auto* rgba = dynamic_cast<const StaticTexture*>(textures.getTexture("rgba"));
    EXPECT_EQ(rgba->image[3], 0);
    EXPECT_EQ(rgba->image[7], 77);
}

TEST_F(TextureTest, TopRowSamplesAtTZeroAndAlphaSamplesOne) {
    // Top row: transparent dark blue; bottom row: opaque yellow.
    TextureManager textures;
    textures.setTextures({staticAsset(
        "picture",
        writePng("picture.png", {0, 0, 100, 0, 0, 0, 100, 0, 250, 250, 0, 255, 250, 250, 0, 255}, 2,
                 2, LCT_RGBA, 8))});
    textures.initializeTextures();
    // Left half samples t = 0.25 (the first row), right half t = 0.75; the
    // sampled alpha goes to the green channel.
    drawSampling(textures, R"(
    vec4 texel = texture(picture, vec2(0.5, gl_FragCoord.x < 32.0 ? 0.25 : 0.75));
    color = vec4(texel.r, texel.a, texel.b, 1.0);
)");

    EXPECT_EQ(context.pixel(8, 32), (Rgba{0, 255, 100, 255}));
    EXPECT_EQ(context.pixel(56, 32), (Rgba{250, 255, 0, 255}));
}

TEST_F(TextureTest, SamplingRepeatsAndBlendsBetweenTexels) {
    // Top row 0 and 200, bottom row 100 and 100.
    TextureManager textures;
    textures.setTextures(
        {staticAsset("picture", writePng("picture.png", {0, 200, 100, 100}, 2, 2, LCT_GREY, 8))});
    textures.initializeTextures();
    // Left half: past the right edge, past the bottom edge, between the two
    // top texels (magnified); right half: between them again, minified.
    drawSampling(textures, R"(
    float between = textureLod(picture, vec2(0.5, 0.25), gl_FragCoord.x < 32.0 ? 0.0 : 1.0).r;
    color = vec4(texture(picture, vec2(1.25, 0.25)).r, texture(picture, vec2(0.25, 1.25)).r, between, 1.0);
)");

    for (int x : {8, 56}) {
        const Rgba pixel = context.pixel(x, 32);
        EXPECT_EQ(pixel[0], 0) << "wraps horizontally";
        EXPECT_EQ(pixel[1], 0) << "wraps vertically";
        EXPECT_NEAR(pixel[2], 100, 1) << (x < 32 ? "magnified" : "minified") << " sample blends";
    }
}

TEST_F(TextureTest, LaterAssetOfTheSameNameWins) {
    Common::Asset unknown = staticAsset("image", writePng("unknown.png", {9}, 1, 1, LCT_GREY, 8));
    unknown.type = Common::ASSET_TYPE_UNKNOWN;
    TextureManager textures;
    textures.setTextures({staticAsset("image", writePng("first.png", {40}, 1, 1, LCT_GREY, 8)),
                          staticAsset("image", writePng("second.png", {80, 80}, 2, 1, LCT_GREY, 8)),
                          unknown});
    textures.initializeTextures();
    const Texture* texture = textures.getTexture("image");
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->width, 2u);
    expectRgba(readTexture(texture->id, 2, 1), {{80, 80, 80, 255}, {80, 80, 80, 255}});
    EXPECT_EQ(liveTextures(), 1);
}

TEST_F(TextureTest, UnknownNamesAreNeverRegistered) {
    TextureManager textures;
    textures.initializeTextures();
    EXPECT_EQ(textures.getTexture("missing"), nullptr);
    textures.initializeTexture("missing");

    textures.setTextures({staticAsset("absent", (directory / "absent.png").string()),
                          staticAsset("garbage", writePng("real.png", {1}, 1, 1, LCT_GREY, 8))});
    // A file that is not a PNG at all.
    fs::resize_file(directory / "real.png", 20);
    textures.setTextures({staticAsset("truncated", (directory / "real.png").string())});
    for (const char* name : {"missing", "absent", "truncated"}) {
        EXPECT_EQ(textures.getTexture(name), nullptr) << name;
        textures.initializeTexture(name);
    }
    // Lookups added no empty entries for initializeTextures to trip over.
    textures.initializeTextures();
    EXPECT_EQ(textures.getTexture("missing"), nullptr);
    EXPECT_NE(textures.getTexture("garbage"), nullptr);
}

TEST_F(TextureTest, DynamicTextureHasNoGlTextureAndSamplesBlack) {
    Common::Asset asset;
    asset.type = Common::DYNAMIC_TEXTURE;
    asset.name = "canvas";
    asset.file = "ignored.png";
    asset.once = true;
    asset.width = 320;
    asset.height = 200;
    TextureManager textures;
    textures.setTextures({asset});
    textures.initializeTextures();
    const auto* canvas = dynamic_cast<const DynamicTexture*>(textures.getTexture("canvas"));
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas->id, 0u);
    EXPECT_EQ(canvas->width, 320u);
    EXPECT_EQ(canvas->height, 200u);
    EXPECT_TRUE(canvas->once);
    EXPECT_EQ(liveTextures(), 0);

    Shader shader;
    shader.initialize(64, 64);
    shader.setSources(R"(#version 330 core
layout(location = 0) in vec3 position;
void main() { gl_Position = vec4(position, 1.0); }
)",
                      R"(#version 330 core
uniform sampler2D canvas;
out vec4 color;
void main() { color = texture(canvas, vec2(0.5)) + vec4(0.0, 0.0, 0.5, 0.0); }
)");
    shader.initializeTextures({"canvas"});
    shader.setTextureManager(&textures);
    ASSERT_FALSE(shader.initShader().error);
    shader.render(0.0);
    const Rgba pixel = context.pixel(32, 32);
    EXPECT_EQ(pixel[0], 0);
    EXPECT_EQ(pixel[1], 0);
    EXPECT_NEAR(pixel[2], 128, 1);
}

TEST_F(TextureTest, RepeatedInitializeReplacesAndDeletesTheGlTexture) {
    TextureManager textures;
    textures.setTextures(
        {staticAsset("image", writePng("image.png", {7, 8, 9}, 1, 1, LCT_RGB, 8))});
    textures.initializeTextures();
    auto* image = dynamic_cast<StaticTexture*>(textures.getTexture("image"));
    ASSERT_NE(image, nullptr);
    const std::vector<unsigned char> decoded = image->image;
    const GLuint first = image->id;
    ASSERT_TRUE(glIsTexture(first));

    textures.initializeTexture("image");
    EXPECT_NE(image->id, first);
    EXPECT_FALSE(glIsTexture(first));
    EXPECT_TRUE(glIsTexture(image->id));
    EXPECT_EQ(image->image, decoded);
    expectRgba(readTexture(image->id, 1, 1), {{7, 8, 9, 255}});

    for (int i = 0; i < 50; ++i) {
        image->initialize();
    }
    EXPECT_EQ(liveTextures(), 1);
    textures.releaseGraphics();
    EXPECT_EQ(image->id, 0u);
    EXPECT_EQ(liveTextures(), 0);
}

// PngSuite, when the shared test images are present.
fs::path pngSuite() {
    return fs::path(TOLVANE_SHARED_DIR) / "pngsuite" / "png";
}

TEST_F(TextureTest, PngSuiteImagesArriveAsEightBitRgb) {
    if (!fs::is_directory(pngSuite())) {
        GTEST_SKIP() << "no PngSuite at " << pngSuite();
    }
    // Palette, grey, grey with alpha and 16-bit colour images, 8 and 16 bits
    // a sample, plain and interlaced.
    const std::vector<std::string> names{"basn3p08", "basi3p08", "basn0g08", "basn0g16",
                                         "basi0g16", "basn2c16", "basn4a08", "basn4a16",
                                         "basn6a16", "basi6a16", "tbbn3p08", "tbrn2c08"};
    std::vector<Common::Asset> assets;
    for (const std::string& name : names) {
        assets.push_back(staticAsset(name, (pngSuite() / (name + ".png")).string()));
    }
    TextureManager textures;
    textures.setTextures(assets);
    textures.initializeTextures();

    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const Texture* texture = textures.getTexture(name);
        ASSERT_NE(texture, nullptr);
        // The reference: the image decoded in its own colour type, expanded here.
        std::vector<unsigned char> file;
        ASSERT_EQ(lodepng::load_file(file, (pngSuite() / (name + ".png")).string()), 0u);
        lodepng::State state;
        state.decoder.color_convert = 0;
        std::vector<unsigned char> raw;
        unsigned width = 0;
        unsigned height = 0;
        ASSERT_EQ(lodepng::decode(raw, width, height, state, file), 0u);
        ASSERT_GE(state.info_png.color.bitdepth, 8u);
        EXPECT_EQ(texture->width, width);
        EXPECT_EQ(texture->height, height);
        expectRgba(readTexture(texture->id, width, height),
                   expandToRgb(raw, state.info_png.color, size_t{width} * height));
    }

    // Low bit depths register too, at their size.
    std::vector<Common::Asset> small;
    for (const char* name :
         {"basn0g01", "basn0g02", "basn0g04", "basn3p01", "basn3p02", "basn3p04"}) {
        small.push_back(staticAsset(name, (pngSuite() / (std::string(name) + ".png")).string()));
    }
    textures.setTextures(small);
    for (const Common::Asset& asset : small) {
        const Texture* texture = textures.getTexture(asset.name);
        ASSERT_NE(texture, nullptr) << asset.name;
        EXPECT_EQ(texture->width, 32u);
        EXPECT_EQ(texture->height, 32u);
    }
}

TEST_F(TextureTest, CorruptPngSuiteImagesAreDropped) {
    if (!fs::is_directory(pngSuite())) {
        GTEST_SKIP() << "no PngSuite at " << pngSuite();
    }
    std::vector<Common::Asset> assets;
    for (const auto& entry : fs::directory_iterator(pngSuite())) {
        const std::string file = entry.path().filename().string();
        if (file[0] == 'x') {
            assets.push_back(staticAsset(file, entry.path().string()));
        }
    }
    ASSERT_FALSE(assets.empty());
    TextureManager textures;
    textures.setTextures(assets);
    textures.initializeTextures();
    for (const Common::Asset& asset : assets) {
        EXPECT_EQ(textures.getTexture(asset.name), nullptr) << asset.name;
    }
    EXPECT_EQ(liveTextures(), 0);
}

TEST(TextureShutdown, TexturesOutlivingTheContextMakeNoGlCall) {
    static int errors = 0;
    glfwSetErrorCallback([](int, const char*) { ++errors; });
    const fs::path png = fs::temp_directory_path() /
                         ("tolvane-texture-shutdown-" + std::to_string(getpid()) + ".png");
    {
        TextureManager textures;
        {
            Testing::GlContext context;
            ASSERT_TRUE(context.ok());
            ASSERT_EQ(lodepng::encode(png.string(), std::vector<unsigned char>{1, 2, 3}, 1, 1,
                                      LCT_RGB, 8),
                      0u);
            Common::Asset asset;
            asset.type = Common::STATIC_TEXTURE;
            asset.name = "image";
            asset.file = png.string();
            textures.setTextures({asset});
            textures.initializeTextures();
            ASSERT_NE(textures.getTexture("image")->id, 0u);
        }
    }
    fs::remove(png);
    EXPECT_EQ(errors, 0);
    glfwSetErrorCallback(nullptr);
}

} // namespace
} // namespace Tolvane
