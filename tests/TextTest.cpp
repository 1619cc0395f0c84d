// The text overlay renderer and its built-in font, drawn with a real GL
// context and read back.

#include "GlContext.h"
#include "text/overlay_internal.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

using Tolvane::Testing::GlContext;

constexpr int WIDTH = 320;
constexpr int HEIGHT = 200;
constexpr int FONT_WIDTH = 806;
constexpr int FONT_HEIGHT = 19;

// Where nothing was drawn.
constexpr std::array<uint8_t, 3> BACKGROUND = {0, 0, 255};

using Rgba = std::array<uint8_t, 4>;

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;  // exclusive
    int bottom = 0; // exclusive
    bool operator==(const Rect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "(" << r.left << ", " << r.top << ") to (" << r.right << ", " << r.bottom << ")";
}

// A frame read back from the framebuffer, top row first.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    std::array<uint8_t, 3> rgb(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2]};
    }
    bool drawn(int x, int y) const { return rgb(x, y) != BACKGROUND; }
    // The smallest rectangle holding every drawn pixel.
    Rect drawnBounds() const {
        Rect r{width, height, 0, 0};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (drawn(x, y)) {
                    r.left = std::min(r.left, x);
                    r.top = std::min(r.top, y);
                    r.right = std::max(r.right, x + 1);
                    r.bottom = std::max(r.bottom, y + 1);
                }
            }
        }
        return r;
    }
};

// The font texture as uploaded, top row first.
struct FontImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    Rgba texel(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
    }
};

constexpr Rgba TRANSPARENT = {0, 0, 0, 0};
constexpr Rgba BLACK = {0, 0, 0, 255};
constexpr Rgba WHITE = {255, 255, 255, 255};

FontImage readFontTexture() {
    FontImage image;
    glBindTexture(GL_TEXTURE_2D, _gltText2DFontTexture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &image.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &image.height);
    image.rgba.resize(static_cast<size_t>(image.width) * image.height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.rgba.data());
    return image;
}

const GLTglyphRecord& glyph(char c) {
    return _gltFontGlyphs2[c - _gltFontGlyphMinChar];
}

int glyphColumn(char c) {
    return static_cast<int>(std::lround(glyph(c).uMin * FONT_WIDTH));
}

int glyphIndex(char c) {
    return static_cast<int>(std::strchr(_gltFontGlyphCharacters, c) - _gltFontGlyphCharacters);
}

int rectTop(char c) {
    return static_cast<int>((_gltFontGlyphRects[glyphIndex(c)] >> 24) & 0xFF);
}

int rectBottom(char c) {
    return static_cast<int>((_gltFontGlyphRects[glyphIndex(c)] >> 32) & 0xFF);
}

// Vertex v of a text's geometry: x, y, u, v.
std::array<float, 4> vertex(const GLTtext* text, int v) {
    return {text->vertices[v * 4], text->vertices[v * 4 + 1], text->vertices[v * 4 + 2],
            text->vertices[v * 4 + 3]};
}

// A read-only string of chunks x 64 MiB copies of c and its NUL, mapped from
// one 64 MiB file over and over, so that it takes 64 MiB of memory.
class HugeString {
public:
    static constexpr size_t CHUNK = size_t(64) << 20;

    HugeString(char c, size_t chunks) : size(chunks * CHUNK + size_t(sysconf(_SC_PAGESIZE))) {
        const int file = memfd_create("huge-string", 0);
        const std::string block(1 << 20, c);
        for (size_t written = 0; file >= 0 && written < CHUNK; written += block.size()) {
            if (write(file, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
                return;
            }
        }
        void* area = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (file < 0 || area == MAP_FAILED) {
            return;
        }
        base = static_cast<char*>(area);
        for (size_t i = 0; i < chunks; ++i) {
            if (mmap(base + i * CHUNK, CHUNK, PROT_READ, MAP_SHARED | MAP_FIXED, file, 0) ==
                MAP_FAILED) {
                base = nullptr;
            }
        }
        close(file);
    }
    ~HugeString() {
        if (base != nullptr) {
            munmap(base, size);
        }
    }
    const char* data() const { return base; }

private:
    size_t size;
    char* base = nullptr;
};

class TextTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(context.ok()) << "no GL 3.3 context";
        ASSERT_TRUE(gltInit());
        clear();
    }

    void TearDown() override {
        for (GLTtext* text : texts) {
            gltDeleteText(text);
        }
        gltTerminate();
    }

    GLTtext* make(const char* string) {
        GLTtext* text = gltCreateText();
        EXPECT_NE(text, nullptr);
        EXPECT_TRUE(gltSetText(text, string));
        texts.push_back(text);
        return text;
    }

    void clear() {
        glViewport(0, 0, WIDTH, HEIGHT);
        glClearColor(BACKGROUND[0] / 255.0f, BACKGROUND[1] / 255.0f, BACKGROUND[2] / 255.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    void draw2D(GLTtext* text, float x, float y, float scale) {
        gltBeginDraw();
        gltDrawText2D(text, x, y, scale);
        gltEndDraw();
    }

    Frame frame() const { return Frame{context.width(), context.height(), context.pixels()}; }

    GlContext context{WIDTH, HEIGHT};
    std::vector<GLTtext*> texts;
};

// ---- Font ------------------------------------------------------------------

TEST_F(TextTest, FontTextureIs806By19WithGlyphsAtTheirColumns) {
    const FontImage font = readFontTexture();
    ASSERT_EQ(font.width, FONT_WIDTH);
    ASSERT_EQ(font.height, FONT_HEIGHT);

    EXPECT_EQ(glyphColumn('a'), 1);
    EXPECT_EQ(glyphColumn('b'), 11);
    EXPECT_EQ(glyphColumn('A'), 263);
    EXPECT_EQ(glyphColumn('"'), 796);
    for (char c : {'a', 'Q', '%', '"'}) {
        EXPECT_FLOAT_EQ(glyph(c).vMin, 1.0f / 19.0f) << c;
        EXPECT_FLOAT_EQ(glyph(c).vMax, 18.0f / 19.0f) << c;
        EXPECT_EQ(std::lround(glyph(c).uMax * FONT_WIDTH), glyphColumn(c) + glyph(c).w) << c;
    }

    // The frame around the texture and the column between two glyphs stay
    // transparent.
    for (int x = 0; x < FONT_WIDTH; ++x) {
        EXPECT_EQ(font.texel(x, 0), TRANSPARENT) << "row 0, column " << x;
        EXPECT_EQ(font.texel(x, FONT_HEIGHT - 1), TRANSPARENT) << "row 18, column " << x;
    }
    for (int y = 0; y < FONT_HEIGHT; ++y) {
        EXPECT_EQ(font.texel(0, y), TRANSPARENT) << "column 0, row " << y;
        EXPECT_EQ(font.texel(FONT_WIDTH - 1, y), TRANSPARENT) << "column 805, row " << y;
        EXPECT_EQ(font.texel(10, y), TRANSPARENT) << "between a and b, row " << y;
        EXPECT_EQ(font.texel(795, y), TRANSPARENT) << "before the double quote, row " << y;
    }
}

TEST_F(TextTest, EveryGlyphIsAWhiteShapeEdgedInBlack) {
    const FontImage font = readFontTexture();
    ASSERT_EQ(font.width, FONT_WIDTH);
    for (int i = 0; i < _gltFontGlyphCount; ++i) {
        const GLTglyphRecord& g = _gltFontGlyphs[i];
        if (!g.drawable) {
            continue;
        }
        const int left = static_cast<int>(std::lround(g.uMin * FONT_WIDTH));
        const char c = g.character;
        const int firstRow = 1 + rectTop(c);
        const int endRow = 1 + _gltFontGlyphHeight - rectBottom(c);
        int white = 0;
        auto at = [&](int x, int y) { return font.texel(left + x, y); };
        for (int y = 1; y < 1 + _gltFontGlyphHeight; ++y) {
            for (int x = 0; x < g.w; ++x) {
                const Rgba t = at(x, y);
                ASSERT_TRUE(t == TRANSPARENT || t == BLACK || t == WHITE)
                    << c << " at " << x << "," << y;
                if (y < firstRow || y >= endRow) {
                    EXPECT_EQ(t, TRANSPARENT) << c << ": margin row " << y << " is not empty";
                }
                if (t != WHITE) {
                    continue;
                }
                ++white;
                // One pixel of edge to the left and above, two to the right
                // and below, all inside the glyph's cell.
                ASSERT_GE(x, 1) << c;
                ASSERT_LT(x + 2, g.w) << c;
                EXPECT_NE(at(x - 1, y), TRANSPARENT) << c << " left of " << x << "," << y;
                EXPECT_NE(at(x, y - 1), TRANSPARENT) << c << " above " << x << "," << y;
                EXPECT_NE(at(x + 1, y), TRANSPARENT) << c << " right of " << x << "," << y;
                EXPECT_NE(at(x + 2, y), TRANSPARENT) << c << " right of " << x << "," << y;
                EXPECT_NE(at(x, y + 1), TRANSPARENT) << c << " below " << x << "," << y;
                EXPECT_NE(at(x, y + 2), TRANSPARENT) << c << " below " << x << "," << y;
            }
        }
        EXPECT_GT(white, 0) << c << " has no white pixel";
        // Black appears only as an edge: near a white pixel.
        for (int y = firstRow; y < endRow; ++y) {
            for (int x = 0; x < g.w; ++x) {
                if (at(x, y) != BLACK) {
                    continue;
                }
                bool nearWhite = false;
                for (int dy = -2; dy <= 1 && !nearWhite; ++dy) {
                    for (int dx = -2; dx <= 1 && !nearWhite; ++dx) {
                        const int nx = x + dx;
                        const int ny = y + dy;
                        nearWhite = nx >= 0 && nx < g.w && ny >= 1 &&
                                    ny < 1 + _gltFontGlyphHeight && at(nx, ny) == WHITE;
                    }
                }
                EXPECT_TRUE(nearWhite) << c << ": stray black at " << x << "," << y;
            }
        }
    }
}

TEST_F(TextTest, PixelStreamFillsExactly16488Bits) {
    // The stream is as long as the metrics say, and nothing lies beyond it.
    long bits = 0;
    for (int i = 0; i < _gltFontGlyphCount; ++i) {
        const uint64_t rect = _gltFontGlyphRects[i];
        const long w = static_cast<long>((rect >> 16) & 0xFF);
        const long rows =
            17 - static_cast<long>((rect >> 24) & 0xFF) - static_cast<long>((rect >> 32) & 0xFF);
        if (w > 0 && rows > 0) {
            bits += 2 * w * rows;
        }
    }
    EXPECT_EQ(bits, 16488);
    EXPECT_EQ(_gltFontGlyphData[257] >> 40, 0u);
    for (int i = 258; i < _gltFontGlyphDataWords; ++i) {
        EXPECT_EQ(_gltFontGlyphData[i], 0u) << "word " << i;
    }
    // No pixel code 3 anywhere in the stream.
    for (int k = 0; k < 16488 / 2; ++k) {
        EXPECT_NE((_gltFontGlyphData[k / 32] >> (2 * (k % 32))) & 3u, 3u) << "pixel " << k;
    }
}

TEST_F(TextTest, MetricWordsCarryTheFontTable) {
    EXPECT_EQ(_gltFontGlyphRects[glyphIndex(' ')], 0x0000001100040000u);
    EXPECT_EQ(_gltFontGlyphRects[glyphIndex('a')], 0x0000000304090004u);
    EXPECT_EQ(_gltFontGlyphRects[glyphIndex('"')], 0x0000000B010902D5u);
    EXPECT_EQ(std::strlen(_gltFontGlyphCharacters), 83u);

    struct Expected {
        char c;
        int w, top, bottom;
    };
    for (const Expected& e :
         {Expected{'b', 9, 2, 3},  Expected{'M', 10, 2, 3}, Expected{'g', 9, 4, 0},
          Expected{'m', 10, 4, 3}, Expected{'I', 7, 2, 3},  Expected{'(', 7, 2, 1},
          Expected{'[', 7, 2, 0},  Expected{'i', 9, 1, 3},  Expected{'j', 8, 1, 0},
          Expected{'y', 10, 4, 0}, Expected{'Q', 9, 2, 1},  Expected{'.', 6, 9, 3},
          Expected{',', 6, 9, 1},  Expected{'-', 9, 6, 7},  Expected{'+', 9, 4, 5},
          Expected{'/', 9, 2, 2},  Expected{':', 6, 4, 3},  Expected{';', 6, 4, 1},
          Expected{'%', 11, 1, 2}, Expected{'`', 7, 0, 11}, Expected{'*', 10, 4, 5},
          Expected{'=', 9, 5, 6},  Expected{'&', 10, 2, 3}, Expected{'4', 10, 2, 3}}) {
        EXPECT_EQ(glyph(e.c).w, e.w) << e.c;
        EXPECT_EQ(rectTop(e.c), e.top) << e.c;
        EXPECT_EQ(rectBottom(e.c), e.bottom) << e.c;
        EXPECT_EQ(glyph(e.c).h, 17) << e.c;
        EXPECT_TRUE(glyph(e.c).drawable) << e.c;
    }

    EXPECT_EQ(glyph(' ').w, 4);
    EXPECT_FALSE(glyph(' ').drawable);
    for (char c : {'$', '\'', '<', '>', '@', '\\', '^', '_'}) {
        EXPECT_EQ(glyph(c).w, 0) << c;
        EXPECT_FALSE(glyph(c).drawable) << c;
        EXPECT_FALSE(gltIsCharacterSupported(c)) << c;
    }
    for (char c : {'{', '|', '}', '~', static_cast<char>(0xE9), '\x01'}) {
        EXPECT_FALSE(gltIsCharacterSupported(c)) << static_cast<int>(c);
        EXPECT_FALSE(gltIsCharacterDrawable(c)) << static_cast<int>(c);
    }
    for (char c : {'\t', '\n', '\r', ' '}) {
        EXPECT_TRUE(gltIsCharacterSupported(c)) << static_cast<int>(c);
        EXPECT_FALSE(gltIsCharacterDrawable(c)) << static_cast<int>(c);
    }
}

TEST_F(TextTest, ShaderSourcesAreTheFixedTexts) {
    EXPECT_EQ(std::strlen(_gltText2DVertexShaderSource), 184u);
    EXPECT_EQ(std::strlen(_gltText2DFragmentShaderSource), 202u);
    EXPECT_NE(_gltText2DShaderMVPUniformLocation, -1);
    EXPECT_NE(_gltText2DShaderColorUniformLocation, -1);
}

// ---- Layout ----------------------------------------------------------------

TEST_F(TextTest, SpaceAdvancesFourPixelsWithoutVertices) {
    GLTtext* text = make("a b");
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 1.0f), 22.0f);
    EXPECT_FLOAT_EQ(gltGetTextHeight(text, 1.0f), 17.0f);
    draw2D(text, 0, 0, 1);
    ASSERT_EQ(text->vertexCount, 12);
    EXPECT_FALSE(text->dirty);
    // The quad of "b": (13, 0) to (22, 17), in the documented corner order.
    const float uMin = glyph('b').uMin, uMax = glyph('b').uMax;
    const float vMin = glyph('b').vMin, vMax = glyph('b').vMax;
    const std::array<std::array<float, 4>, 6> expected = {{{13, 0, uMin, vMin},
                                                           {22, 17, uMax, vMax},
                                                           {22, 0, uMax, vMin},
                                                           {13, 0, uMin, vMin},
                                                           {13, 17, uMin, vMax},
                                                           {22, 17, uMax, vMax}}};
    for (int v = 0; v < 6; ++v) {
        EXPECT_EQ(vertex(text, 6 + v), expected[v]) << "vertex " << 6 + v;
    }
}

TEST_F(TextTest, LineFeedStartsTheNextLine17PixelsLower) {
    GLTtext* text = make("ab\ncd");
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 1.0f), 18.0f);
    EXPECT_FLOAT_EQ(gltGetTextHeight(text, 1.0f), 34.0f);
    EXPECT_FLOAT_EQ(gltGetTextHeight(text, 2.0f), 68.0f);
    draw2D(text, 0, 0, 1);
    ASSERT_EQ(text->vertexCount, 24);
    EXPECT_EQ(vertex(text, 12)[0], 0.0f); // "c" back at the left edge
    EXPECT_EQ(vertex(text, 12)[1], 17.0f);
    EXPECT_EQ(vertex(text, 13)[1], 34.0f);
    EXPECT_EQ(vertex(text, 18)[0], 9.0f); // "d" after it
}

TEST_F(TextTest, CarriageReturnDrawsOverTheStartOfTheLine) {
    GLTtext* text = make("ab\rc");
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 1.0f), 18.0f);
    EXPECT_FLOAT_EQ(gltGetTextHeight(text, 1.0f), 17.0f);
    draw2D(text, 0, 0, 1);
    ASSERT_EQ(text->vertexCount, 18);
    EXPECT_EQ(vertex(text, 12)[0], 0.0f);
    EXPECT_EQ(vertex(text, 12)[1], 0.0f);
    EXPECT_EQ(vertex(text, 12)[2], glyph('c').uMin);
}

TEST_F(TextTest, CharactersOutsideTheSetAreSkippedWithoutAGap) {
    GLTtext* text = make("a_@{\x80\x01\xff"
                         "b");
    EXPECT_EQ(gltCountSupportedCharacters(text->string), 2);
    EXPECT_EQ(gltCountDrawableCharacters(text->string), 2);
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 1.0f), 18.0f);
    EXPECT_STREQ(gltGetText(text), "a_@{\x80\x01\xff"
                                   "b");
    draw2D(text, 0, 0, 1);
    ASSERT_EQ(text->vertexCount, 12);
    EXPECT_EQ(vertex(text, 6)[0], 9.0f);
}

TEST_F(TextTest, TabAdvancesLikeASpace) {
    GLTtext* text = make("a\tb");
    EXPECT_EQ(gltCountSupportedCharacters(text->string), 3);
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 1.0f), 22.0f);
    draw2D(text, 0, 0, 1);
    ASSERT_EQ(text->vertexCount, 12);
    EXPECT_EQ(vertex(text, 6)[0], 13.0f);
}

TEST_F(TextTest, WidthIsTheWidestLineAndCountsSpaces) {
    GLTtext* text = make("ab\nabc  \r1");
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 1.0f), 35.0f);
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 0.5f), 17.5f);
    EXPECT_FLOAT_EQ(gltGetTextHeight(text, 1.0f), 34.0f);
    EXPECT_EQ(gltCountNewLines("a\nb\r\nc\n"), 3);
    EXPECT_FLOAT_EQ(gltGetLineHeight(3.0f), 51.0f);
}

TEST_F(TextTest, SettingTheSameStringAgainRebuildsNothing) {
    GLTtext* text = make("abc");
    EXPECT_TRUE(text->dirty);
    draw2D(text, 0, 0, 1);
    ASSERT_FALSE(text->dirty);
    const float* built = text->vertices;

    EXPECT_TRUE(gltSetText(text, "abc"));
    EXPECT_FALSE(text->dirty);
    draw2D(text, 0, 0, 1);
    EXPECT_EQ(text->vertices, built);

    EXPECT_TRUE(gltSetText(text, "abd"));
    EXPECT_TRUE(text->dirty);
    draw2D(text, 0, 0, 1);
    EXPECT_TRUE(gltSetText(text, "abc")); // held earlier, but not now
    EXPECT_TRUE(text->dirty);

    EXPECT_TRUE(gltSetText(text, ""));
    EXPECT_TRUE(text->dirty);
    EXPECT_EQ(text->string, nullptr);
    draw2D(text, 0, 0, 1);
    EXPECT_EQ(text->vertexCount, 0);
    EXPECT_TRUE(gltSetText(text, nullptr));
    EXPECT_FALSE(text->dirty);
}

TEST_F(TextTest, DeletingATextReleasesItsVertexArrayAndBuffer) {
    GLTtext* text = gltCreateText();
    ASSERT_TRUE(gltSetText(text, "abc"));
    draw2D(text, 0, 0, 1);
    const GLuint array = text->vertexArray;
    const GLuint buffer = text->vertexBuffer;
    ASSERT_TRUE(glIsVertexArray(array));
    ASSERT_TRUE(glIsBuffer(buffer));
    gltDeleteText(text);
    EXPECT_FALSE(glIsVertexArray(array));
    EXPECT_FALSE(glIsBuffer(buffer));
}

TEST_F(TextTest, NullAndEmptyTextsDrawNothingAndMeasureZero) {
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    gltBeginDraw();
    gltDrawText(nullptr, identity);
    gltDrawText2D(nullptr, 0, 0, 1);
    gltDrawText2DAligned(nullptr, 0, 0, 1, 1, 1);
    gltDrawText3D(nullptr, 0, 0, 0, 1, identity, identity);
    EXPECT_FALSE(gltSetText(nullptr, "a"));
    EXPECT_STREQ(gltGetText(nullptr), "");
    EXPECT_EQ(gltGetTextWidth(nullptr, 1), 0.0f);
    EXPECT_EQ(gltGetTextHeight(nullptr, 1), 0.0f);
    EXPECT_EQ(gltCountSupportedCharacters(nullptr), 0);
    EXPECT_EQ(gltCountDrawableCharacters(nullptr), 0);
    gltDeleteText(nullptr);

    GLTtext* empty = make(nullptr);
    GLTtext* spaces = make("   ");
    EXPECT_STREQ(gltGetText(empty), "");
    EXPECT_EQ(gltGetTextWidth(empty, 1), 0.0f);
    EXPECT_EQ(gltGetTextHeight(empty, 1), 0.0f);
    EXPECT_FLOAT_EQ(gltGetTextWidth(spaces, 1), 12.0f);
    gltDrawText2D(empty, 0, 0, 1);
    gltDrawText2D(spaces, 0, 0, 1);
    gltDrawText2DAligned(spaces, 50, 50, 1, 1, 1);
    gltEndDraw();
    EXPECT_EQ(empty->vertexCount, 0);
    EXPECT_EQ(spaces->vertexCount, 0);
    EXPECT_FALSE(spaces->dirty);
    EXPECT_EQ(frame().drawnBounds(), (Rect{WIDTH, HEIGHT, 0, 0}));
}

// ---- Pixels ----------------------------------------------------------------

TEST_F(TextTest, DrawnGlyphCellIsTheFontTexelsWrittenOpaque) {
    const FontImage font = readFontTexture();
    GLTtext* text = make("a");
    draw2D(text, 10, 20, 1);
    const Frame f = frame();
    EXPECT_EQ(f.drawnBounds(), (Rect{10, 20, 19, 37}));
    const int column = glyphColumn('a');
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 9; ++x) {
            const Rgba t = font.texel(column + x, 1 + y);
            EXPECT_EQ(f.rgb(10 + x, 20 + y), (std::array<uint8_t, 3>{t[0], t[1], t[2]}))
                << "pixel " << x << "," << y << " of the cell";
        }
    }
}

TEST_F(TextTest, ScaleTwoDoublesCellsAndAdvancesAboutTheCorner) {
    const FontImage font = readFontTexture();
    GLTtext* text = make("ab");
    draw2D(text, 10, 20, 2);
    const Frame f = frame();
    EXPECT_EQ(f.drawnBounds(), (Rect{10, 20, 10 + 36, 20 + 34}));
    // "b" starts at 10 + 2 * 9; each texel covers 2 x 2 pixels.
    const int column = glyphColumn('b');
    for (int y = 0; y < 34; ++y) {
        for (int x = 0; x < 18; ++x) {
            const Rgba t = font.texel(column + x / 2, 1 + y / 2);
            EXPECT_EQ(f.rgb(28 + x, 20 + y), (std::array<uint8_t, 3>{t[0], t[1], t[2]}))
                << "pixel " << x << "," << y << " of b";
        }
    }
}

TEST_F(TextTest, AlignedDrawPutsTheChosenCornerOnThePoint) {
    GLTtext* text = make("ab\ncd");
    gltBeginDraw();
    gltDrawText2DAligned(text, 100, 80, 1, 2, 2);
    gltEndDraw();
    EXPECT_EQ(frame().drawnBounds(), (Rect{82, 46, 100, 80}));

    clear();
    gltBeginDraw();
    gltDrawText2DAligned(text, 100, 80, 1, 1, 1);
    gltEndDraw();
    EXPECT_EQ(frame().drawnBounds(), (Rect{91, 63, 109, 97}));

    clear();
    gltBeginDraw();
    gltDrawText2DAligned(text, 100, 80, 2, 0, 0);
    gltEndDraw();
    EXPECT_EQ(frame().drawnBounds(), (Rect{100, 80, 136, 148}));
}

TEST_F(TextTest, TwoDDrawsFollowTheViewportInForce) {
    GLTtext* text = make("a");
    // The lower-left quarter: its top-left corner is framebuffer row 100.
    glViewport(0, 0, WIDTH / 2, HEIGHT / 2);
    draw2D(text, 5, 0, 1);
    EXPECT_EQ(frame().drawnBounds(), (Rect{5, 100, 14, 117}));

    clear();
    glViewport(0, 0, WIDTH, HEIGHT);
    draw2D(text, 5, 0, 1);
    EXPECT_EQ(frame().drawnBounds(), (Rect{5, 0, 14, 17}));

    // A minimised window's empty viewport: nothing to draw into.
    clear();
    glViewport(0, 0, 0, 0);
    draw2D(text, 5, 0, 1);
    glViewport(0, 0, WIDTH, HEIGHT);
    EXPECT_EQ(frame().drawnBounds(), (Rect{WIDTH, HEIGHT, 0, 0}));
}

TEST_F(TextTest, ThreeDTextSpansWorldYToYPlus17) {
    GLTtext* text = make("ab");
    // World units are pixels, y up, origin at the bottom-left corner.
    const float projection[16] = {2.0f / WIDTH, 0,  0, 0, 0, 2.0f / HEIGHT, 0, 0, 0, 0, -1, 0,
                                  -1,           -1, 0, 1};
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    gltBeginDraw();
    gltDrawText3D(text, 30, 40, 0, 1, identity, projection);
    gltEndDraw();
    const Frame f = frame();
    EXPECT_EQ(f.drawnBounds(), (Rect{30, HEIGHT - 57, 48, HEIGHT - 40}));
    // Upright: "a"'s top margin rows (transparent, so black) are at the top.
    EXPECT_EQ(f.rgb(35, HEIGHT - 57), (std::array<uint8_t, 3>{0, 0, 0}));
}

TEST_F(TextTest, ColourMultipliesTheGlyphs) {
    GLTtext* text = make("H");
    gltBeginDraw();
    float r = 0, g = 0, b = 0, a = 0;
    gltGetColor(&r, &g, &b, &a);
    EXPECT_EQ((std::array<float, 4>{r, g, b, a}), (std::array<float, 4>{1, 1, 1, 1}));
    gltColor(1.0f, 0.0f, 0.0f, 1.0f);
    gltGetColor(&r, &g, nullptr, nullptr);
    EXPECT_EQ(r, 1.0f);
    EXPECT_EQ(g, 0.0f);
    gltDrawText2D(text, 0, 0, 1);
    gltEndDraw();
    const Frame f = frame();
    int red = 0;
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 9; ++x) {
            const auto p = f.rgb(x, y);
            EXPECT_TRUE(p == (std::array<uint8_t, 3>{255, 0, 0}) ||
                        p == (std::array<uint8_t, 3>{0, 0, 0}));
            red += p[0] == 255;
        }
    }
    EXPECT_GT(red, 10);
}

// ---- Module life -----------------------------------------------------------

TEST_F(TextTest, InitTwiceBuildsOnce) {
    const GLuint program = _gltText2DShader;
    const GLuint texture = _gltText2DFontTexture;
    ASSERT_NE(program, 0u);
    ASSERT_NE(texture, 0u);
    EXPECT_TRUE(gltInit());
    EXPECT_EQ(_gltText2DShader, program);
    EXPECT_EQ(_gltText2DFontTexture, texture);
}

TEST_F(TextTest, TerminateThenInitBuildsAgainAndDraws) {
    GLTtext* text = make("a");
    const GLuint program = _gltText2DShader;
    const GLuint texture = _gltText2DFontTexture;
    gltTerminate();
    EXPECT_FALSE(gltInitialized);
    EXPECT_EQ(_gltText2DShader, 0u);
    EXPECT_EQ(_gltText2DFontTexture, 0u);
    EXPECT_FALSE(glIsProgram(program));
    EXPECT_FALSE(glIsTexture(texture));

    // Drawing without the renderer shows nothing.
    draw2D(text, 0, 0, 1);
    EXPECT_EQ(frame().drawnBounds(), (Rect{WIDTH, HEIGHT, 0, 0}));

    // The text survives and draws again once the renderer is rebuilt.
    ASSERT_TRUE(gltInit());
    EXPECT_TRUE(glIsProgram(_gltText2DShader));
    EXPECT_TRUE(glIsTexture(_gltText2DFontTexture));
    EXPECT_EQ(readFontTexture().width, FONT_WIDTH);
    draw2D(text, 0, 0, 1);
    EXPECT_EQ(frame().drawnBounds(), (Rect{0, 0, 9, 17}));
}

TEST_F(TextTest, TextSetBeforeInitIsMeasuredAndDrawnRight) {
    gltTerminate();
    GLTtext* text = make("a b");
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 1.0f), 22.0f);
    draw2D(text, 0, 0, 1);
    EXPECT_EQ(frame().drawnBounds(), (Rect{WIDTH, HEIGHT, 0, 0}));
    ASSERT_TRUE(gltInit());
    draw2D(text, 0, 0, 1);
    EXPECT_EQ(frame().drawnBounds(), (Rect{0, 0, 22, 17}));
}

// ---- Extreme input ---------------------------------------------------------

TEST_F(TextTest, StringsBeyondIntAreRefusedAndCountsAndWidthsDoNotOverflow) {
    // Over 2 GiB: the string is refused and the text keeps what it held;
    // a counter stops at INT_MAX (the others stop the same way; each takes
    // seconds over such a string, so one stands for them).
    const HugeString breaks('\n', 33);
    ASSERT_NE(breaks.data(), nullptr);
    GLTtext* text = make("kept");
    EXPECT_FALSE(gltSetText(text, breaks.data()));
    EXPECT_STREQ(gltGetText(text), "kept");
    EXPECT_EQ(text->length, 4);
    EXPECT_EQ(gltCountNewLines(breaks.data()), INT_MAX);

    // One line wider than INT_MAX pixels.
    const int w = glyph('M').w;
    const std::string wide(static_cast<size_t>(INT_MAX / w + 1), 'M');
    ASSERT_TRUE(gltSetText(text, wide.c_str()));
    EXPECT_FLOAT_EQ(gltGetTextWidth(text, 1.0f),
                    static_cast<float>(wide.size()) * static_cast<float>(w));
}

// Paints a stretch of the stack below the caller's frame.
__attribute__((noinline)) void paintStack() {
    volatile GLint junk[4096];
    for (volatile GLint& value : junk) {
        value = 100;
    }
}

TEST_F(TextTest, InitKeepsTheUnpackAlignmentAndDrawingWithoutAContextDoesNothing) {
    gltTerminate();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    ASSERT_TRUE(gltInit());
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 1);

    GLTtext* text = make("abc");
    draw2D(text, 0, 0, 1);
    std::fill(std::begin(_gltText2DProjectionMatrix), std::end(_gltText2DProjectionMatrix), 7.0f);
    glfwMakeContextCurrent(nullptr);
    // With no context the viewport query answers nothing; what the stack held
    // before must not pass for a viewport.
    paintStack();
    gltDrawText2D(text, 0, 0, 1);
    glfwMakeContextCurrent(context.handle());
    for (const GLfloat value : _gltText2DProjectionMatrix) {
        EXPECT_EQ(value, 7.0f);
    }
}

} // namespace
