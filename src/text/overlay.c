// Text overlay renderer: module state, font texture, text geometry and the
// public drawing functions.

#include "overlay_internal.h"

#include <assert.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

// ---- Module state ------------------------------------------------------

bool gltInitialized = false;
GLuint _gltText2DShader = 0;
GLuint _gltText2DFontTexture = 0;
GLint _gltText2DShaderMVPUniformLocation = -1;
GLint _gltText2DShaderColorUniformLocation = -1;
GLfloat _gltText2DProjectionMatrix[16];

GLTglyphRecord _gltFontGlyphs[_gltFontGlyphCount];
GLTglyphRecord _gltFontGlyphs2[_gltFontGlyphTableSize];

// The glyph tables depend only on the constant metric words, so they are
// filled on first need; measuring and laying out text then works whether or
// not the font texture exists yet.
static bool _gltFontGlyphTablesBuilt = false;

const char* const _gltText2DVertexShaderSource = "#version 330 core\n"
                                                 "\n"
                                                 "in vec2 position;\n"
                                                 "in vec2 texCoord;\n"
                                                 "\n"
                                                 "uniform mat4 mvp;\n"
                                                 "\n"
                                                 "out vec2 fTexCoord;\n"
                                                 "\n"
                                                 "void main()\n"
                                                 "{\n"
                                                 "\tfTexCoord = texCoord;\n"
                                                 "\t\n"
                                                 "\tgl_Position = mvp * vec4(position, 0.0, 1.0);\n"
                                                 "}\n";

const char* const _gltText2DFragmentShaderSource =
    "#version 330 core\n"
    "\n"
    "out vec4 fragColor;\n"
    "\n"
    "uniform sampler2D diffuse;\n"
    "\n"
    "uniform vec4 color = vec4(1.0, 1.0, 1.0, 1.0);\n"
    "\n"
    "in vec2 fTexCoord;\n"
    "\n"
    "void main()\n"
    "{\n"
    "\tfragColor = texture(diffuse, fTexCoord) * color;\n"
    "}\n";

// Bytes of one vertex: position x, y and texture u, v as floats.
#define _GLT_VERTEX_FLOATS 4
#define _GLT_VERTEX_SIZE   (_GLT_VERTEX_FLOATS * (GLsizei)sizeof(GLfloat))
// Vertices of a glyph quad (two triangles, no index buffer).
#define _GLT_GLYPH_VERTICES 6
// Transparent texels around the whole font texture and between glyphs.
#define _GLT_FONT_FRAME   1
#define _GLT_FONT_SPACING 1

// Fields of a metric word.
static int _gltRectX(uint64_t rect) {
    return (int)(rect & 0xFFFF);
}
static int _gltRectWidth(uint64_t rect) {
    return (int)((rect >> 16) & 0xFF);
}
static int _gltRectTop(uint64_t rect) {
    return (int)((rect >> 24) & 0xFF);
}
static int _gltRectBottom(uint64_t rect) {
    return (int)((rect >> 32) & 0xFF);
}

// Pixel rows a metric word gives its glyph (0 when the margins fill the cell).
static int _gltRectRows(uint64_t rect) {
    const int rows = _gltFontGlyphHeight - (_gltRectTop(rect) + _gltRectBottom(rect));
    return rows > 0 ? rows : 0;
}

static bool _gltRectDrawable(uint64_t rect) {
    return _gltRectWidth(rect) > 0 && _gltRectRows(rect) > 0;
}

// The glyph record of a character of the font, or null for any other.
static const GLTglyphRecord* _gltFindGlyph(char c) {
    const int code = (signed char)c;
    if (code < _gltFontGlyphMinChar || code > _gltFontGlyphMaxChar)
        return NULL;
    if (!_gltFontGlyphTablesBuilt)
        _gltBuildGlyphTables();
    const GLTglyphRecord* glyph = &_gltFontGlyphs2[code - _gltFontGlyphMinChar];
    return glyph->character == c ? glyph : NULL;
}

// Pen advance of a character in layout and width: glyph advance, the tab's,
// or 0 for characters that are skipped.
static int _gltAdvance(char c) {
    if (c == '\t')
        return _gltTabAdvance;
    const GLTglyphRecord* glyph = _gltFindGlyph(c);
    return glyph ? glyph->w : 0;
}

// Number of characters of string that pass the test, at most INT_MAX; 0 for
// NULL.
static int _gltCountCharacters(const char* string, bool (*counts)(char)) {
    if (!string)
        return 0;
    int count = 0;
    for (; *string && count < INT_MAX; string++) {
        if (counts(*string))
            count++;
    }
    return count;
}

static bool _gltIsNewLine(char c) {
    return c == '\n';
}

// ---- Internal steps ----------------------------------------------------

void _gltGetFontTextureSize(int* width, int* height) {
    int drawable = 0;
    int widths = 0;
    for (int i = 0; i < _gltFontGlyphCount; i++) {
        if (_gltRectDrawable(_gltFontGlyphRects[i])) {
            drawable++;
            widths += _gltRectWidth(_gltFontGlyphRects[i]);
        }
    }
    if (width)
        *width =
            widths + (drawable > 0 ? drawable - 1 : 0) * _GLT_FONT_SPACING + 2 * _GLT_FONT_FRAME;
    if (height)
        *height = _gltFontGlyphHeight + 2 * _GLT_FONT_FRAME;
}

void _gltBuildGlyphTables(void) {
    int textureWidth, textureHeight;
    _gltGetFontTextureSize(&textureWidth, &textureHeight);

    memset(_gltFontGlyphs, 0, sizeof(_gltFontGlyphs));
    memset(_gltFontGlyphs2, 0, sizeof(_gltFontGlyphs2));

    int cursor = _GLT_FONT_FRAME;
    for (int i = 0; i < _gltFontGlyphCount; i++) {
        const uint64_t rect = _gltFontGlyphRects[i];
        GLTglyphRecord* glyph = &_gltFontGlyphs[i];
        glyph->character = _gltFontGlyphCharacters[i];
        glyph->x = _gltRectX(rect);
        glyph->y = 0;
        glyph->w = _gltRectWidth(rect);
        glyph->h = _gltFontGlyphHeight;
        glyph->drawable = _gltRectDrawable(rect);
        if (glyph->drawable) {
            glyph->uMin = (float)cursor / (float)textureWidth;
            glyph->vMin = (float)_GLT_FONT_FRAME / (float)textureHeight;
            glyph->uMax = glyph->uMin + (float)glyph->w / (float)textureWidth;
            glyph->vMax = glyph->vMin + (float)_gltFontGlyphHeight / (float)textureHeight;
            cursor += glyph->w + _GLT_FONT_SPACING;
        }
    }
    for (int i = 0; i < _gltFontGlyphCount; i++) {
        const int code = (signed char)_gltFontGlyphs[i].character;
        assert(code >= _gltFontGlyphMinChar && code <= _gltFontGlyphMaxChar);
        _gltFontGlyphs2[code - _gltFontGlyphMinChar] = _gltFontGlyphs[i];
    }
    _gltFontGlyphTablesBuilt = true;
}

void _gltGetViewportSize(GLint* width, GLint* height) {
    // Without a current context the query writes nothing: the size then
    // reads as empty and nothing is drawn.
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (width)
        *width = viewport[2];
    if (height)
        *height = viewport[3];
}

void _gltMat4Mult(const GLfloat a[16], const GLfloat b[16], GLfloat out[16]) {
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            GLfloat sum = 0.0f;
            for (int k = 0; k < 4; k++)
                sum += a[4 * k + j] * b[4 * i + k];
            out[4 * i + j] = sum;
        }
    }
}

void _gltUpdateBuffers(GLTtext* text) {
    if (!text || !text->dirty)
        return;

    if (text->vertices) {
        text->vertexCount = 0;
        free(text->vertices);
        text->vertices = NULL;
    }

    if (!text->string || text->length == 0) {
        text->dirty = false;
        return;
    }
    // More glyphs than one draw call can count vertices for are never drawn.
    const int drawable = gltCountDrawableCharacters(text->string);
    if (drawable == 0 || drawable > INT_MAX / _GLT_GLYPH_VERTICES) {
        text->dirty = false;
        return;
    }

    const size_t vertexCount = (size_t)drawable * _GLT_GLYPH_VERTICES;
    GLfloat* vertices = malloc(vertexCount * (size_t)_GLT_VERTEX_SIZE);
    if (!vertices)
        return;

    const GLfloat h = (GLfloat)_gltFontGlyphHeight;
    GLfloat penX = 0.0f;
    GLfloat penY = 0.0f;
    size_t v = 0;
    for (int i = 0; i < text->length; i++) {
        const char c = text->string[i];
        if (c == '\n') {
            penX = 0.0f;
            penY += h;
            continue;
        }
        if (c == '\r') {
            penX = 0.0f;
            continue;
        }
        if (c == '\t') {
            penX += (GLfloat)_gltTabAdvance;
            continue;
        }
        const GLTglyphRecord* glyph = _gltFindGlyph(c);
        if (!glyph)
            continue;
        const GLfloat w = (GLfloat)glyph->w;
        if (glyph->drawable) {
            const GLfloat quad[_GLT_GLYPH_VERTICES][_GLT_VERTEX_FLOATS] = {
                {penX, penY, glyph->uMin, glyph->vMin},
                {penX + w, penY + h, glyph->uMax, glyph->vMax},
                {penX + w, penY, glyph->uMax, glyph->vMin},
                {penX, penY, glyph->uMin, glyph->vMin},
                {penX, penY + h, glyph->uMin, glyph->vMax},
                {penX + w, penY + h, glyph->uMax, glyph->vMax},
            };
            assert(v + _GLT_GLYPH_VERTICES <= vertexCount);
            memcpy(vertices + v * _GLT_VERTEX_FLOATS, quad, sizeof(quad));
            v += _GLT_GLYPH_VERTICES;
        }
        penX += w;
    }
    assert(v == vertexCount);

    text->vertexCount = (int)vertexCount;
    text->vertices = vertices;
    glBindBuffer(GL_ARRAY_BUFFER, text->vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(vertexCount * (size_t)_GLT_VERTEX_SIZE), vertices,
                 GL_DYNAMIC_DRAW);
    text->dirty = false;
}

// Compiles one stage of the text program; 0 on failure
static GLuint _gltCompileShader(GLenum type, const char* source) {
    GLuint shader = glCreateShader(type);
    if (shader == 0)
        return 0;
    glShaderSource(shader, 1, &source, NULL);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

bool _gltCreateText2DShader(void) {
    GLuint vertexShader = _gltCompileShader(GL_VERTEX_SHADER, _gltText2DVertexShaderSource);
    if (vertexShader == 0) {
        gltTerminate();
        return false;
    }
    GLuint fragmentShader = _gltCompileShader(GL_FRAGMENT_SHADER, _gltText2DFragmentShaderSource);
    if (fragmentShader == 0) {
        glDeleteShader(vertexShader);
        gltTerminate();
        return false;
    }

    _gltText2DShader = glCreateProgram();
    glAttachShader(_gltText2DShader, vertexShader);
    glAttachShader(_gltText2DShader, fragmentShader);
    glBindAttribLocation(_gltText2DShader, 0, "position");
    glBindAttribLocation(_gltText2DShader, 1, "texCoord");
    glBindFragDataLocation(_gltText2DShader, 0, "fragColor");
    glLinkProgram(_gltText2DShader);
    glDetachShader(_gltText2DShader, vertexShader);
    glDeleteShader(vertexShader);
    glDetachShader(_gltText2DShader, fragmentShader);
    glDeleteShader(fragmentShader);

    GLint linked = GL_FALSE;
    glGetProgramiv(_gltText2DShader, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        gltTerminate();
        return false;
    }

    glUseProgram(_gltText2DShader);
    _gltText2DShaderMVPUniformLocation = glGetUniformLocation(_gltText2DShader, "mvp");
    _gltText2DShaderColorUniformLocation = glGetUniformLocation(_gltText2DShader, "color");
    glUniform1i(glGetUniformLocation(_gltText2DShader, "diffuse"), 0);
    glUseProgram(0);
    return true;
}

bool _gltCreateText2DFontTexture(void) {
    if (gltInitialized)
        return true;

    _gltBuildGlyphTables();

    int textureWidth, textureHeight;
    _gltGetFontTextureSize(&textureWidth, &textureHeight);
    uint8_t* pixels = calloc((size_t)textureWidth * (size_t)textureHeight, 4);
    if (!pixels)
        return false;

    static const uint8_t colors[4][4] = {
        {0, 0, 0, 0},         // transparent
        {0, 0, 0, 255},       // black edge
        {255, 255, 255, 255}, // white
        {0, 0, 0, 0},         // unused code
    };

    size_t bit = 0;
    int cursor = _GLT_FONT_FRAME;
    for (int i = 0; i < _gltFontGlyphCount; i++) {
        const uint64_t rect = _gltFontGlyphRects[i];
        if (!_gltRectDrawable(rect))
            continue;
        const int w = _gltRectWidth(rect);
        const int top = _gltRectTop(rect);
        const int rows = _gltRectRows(rect);
        for (int r = 0; r < rows; r++) {
            const int y = _GLT_FONT_FRAME + top + r;
            for (int k = 0; k < w; k++) {
                assert(bit / 64 < _gltFontGlyphDataWords);
                const unsigned code = (unsigned)(_gltFontGlyphData[bit / 64] >> (bit % 64)) & 3u;
                bit += 2;
                memcpy(pixels + ((size_t)y * (size_t)textureWidth + (size_t)(cursor + k)) * 4,
                       colors[code], 4);
            }
        }
        cursor += w + _GLT_FONT_SPACING;
    }

    GLuint texture = 0;
    glGenTextures(1, &texture);
    if (texture == 0) {
        free(pixels);
        return false;
    }
    glBindTexture(GL_TEXTURE_2D, texture);
    // The caller's unpack alignment is put back once the font is uploaded.
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, textureWidth, textureHeight, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, pixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    free(pixels);
    _gltText2DFontTexture = texture;
    return true;
}

// Uploads the matrix and draws a text whose geometry is current
static void _gltDrawGeometry(const GLTtext* text, const GLfloat mvp[16]) {
    glUniformMatrix4fv(_gltText2DShaderMVPUniformLocation, 1, GL_FALSE, mvp);
    glBindVertexArray(text->vertexArray);
    glDrawArrays(GL_TRIANGLES, 0, text->vertexCount);
}

// Brings a text's geometry up to date; true when there is something to draw
static bool _gltPrepareDraw(GLTtext* text) {
    if (!text)
        return false;
    _gltUpdateBuffers(text);
    return text->vertexCount > 0 && !text->dirty && gltInitialized;
}

// ---- Module ------------------------------------------------------------

bool gltInit(void) {
    if (gltInitialized)
        return true;
    // Without loaded entry points (no context, or GLEW not started) there is
    // nothing to call.
    if (!glCreateShader || !glGenVertexArrays)
        return false;
    if (!_gltCreateText2DShader())
        return false;
    if (!_gltCreateText2DFontTexture()) {
        gltTerminate();
        return false;
    }
    gltInitialized = true;
    return true;
}

void gltTerminate(void) {
    if (_gltText2DShader != 0) {
        glDeleteProgram(_gltText2DShader);
        _gltText2DShader = 0;
    }
    if (_gltText2DFontTexture != 0) {
        glDeleteTextures(1, &_gltText2DFontTexture);
        _gltText2DFontTexture = 0;
    }
    gltInitialized = false;
}

void gltAbandon(void) {
    _gltText2DShader = 0;
    _gltText2DFontTexture = 0;
    gltInitialized = false;
}

// ---- Text objects ------------------------------------------------------

GLTtext* gltCreateText(void) {
    if (!glGenVertexArrays || !glGenBuffers)
        return NULL;
    GLTtext* text = calloc(1, sizeof(GLTtext));
    if (!text)
        return NULL;

    glGenVertexArrays(1, &text->vertexArray);
    glGenBuffers(1, &text->vertexBuffer);
    if (text->vertexArray == 0 || text->vertexBuffer == 0) {
        gltDeleteText(text);
        return NULL;
    }

    glBindVertexArray(text->vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, text->vertexBuffer);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, _GLT_VERTEX_SIZE, (const void*)0);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, _GLT_VERTEX_SIZE,
                          (const void*)(2 * sizeof(GLfloat)));
    glBindVertexArray(0);
    return text;
}

void gltDeleteText(GLTtext* text) {
    if (!text)
        return;
    if (text->vertexArray != 0)
        glDeleteVertexArrays(1, &text->vertexArray);
    if (text->vertexBuffer != 0)
        glDeleteBuffers(1, &text->vertexBuffer);
    gltAbandonText(text);
}

void gltAbandonText(GLTtext* text) {
    if (!text)
        return;
    free(text->string);
    free(text->vertices);
    free(text);
}

bool gltSetText(GLTtext* text, const char* string) {
    if (!text)
        return false;

    const size_t length = string ? strlen(string) : 0;
    // The length is kept as an int.
    if (length > (size_t)INT_MAX)
        return false;
    if (length == 0) {
        if (!text->string)
            return true;
        free(text->string);
        text->string = NULL;
        text->length = 0;
        text->dirty = true;
        return true;
    }

    if (text->string && strcmp(text->string, string) == 0)
        return true;

    char* copy = malloc(length + 1);
    if (!copy)
        return false;
    memcpy(copy, string, length + 1);
    free(text->string);
    text->string = copy;
    text->length = (int)length;
    text->dirty = true;
    return true;
}

const char* gltGetText(GLTtext* text) {
    if (text && text->string)
        return text->string;
    return "";
}

// ---- Drawing -----------------------------------------------------------

void gltViewport(int width, int height) {
    // An empty viewport (a minimised window) has no projection; keep the
    // last one rather than divide by zero.
    if (width <= 0 || height <= 0)
        return;
    GLfloat* m = _gltText2DProjectionMatrix;
    memset(m, 0, sizeof(_gltText2DProjectionMatrix));
    m[0] = 2.0f / (GLfloat)width;
    m[5] = -2.0f / (GLfloat)height;
    m[10] = -1.0f;
    m[12] = -1.0f;
    m[13] = 1.0f;
    m[14] = -0.0f;
    m[15] = 1.0f;
}

void gltBeginDraw(void) {
    glUseProgram(_gltText2DShader);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, _gltText2DFontTexture);
}

void gltEndDraw(void) {}

void gltDrawText(GLTtext* text, const GLfloat mvp[16]) {
    if (!_gltPrepareDraw(text))
        return;
    _gltDrawGeometry(text, mvp);
}

void gltDrawText2D(GLTtext* text, GLfloat x, GLfloat y, GLfloat scale) {
    if (!_gltPrepareDraw(text))
        return;

    GLint width = 0, height = 0;
    _gltGetViewportSize(&width, &height);
    if (width <= 0 || height <= 0)
        return;
    gltViewport(width, height);

    const GLfloat model[16] = {
        scale, 0.0f, 0.0f, 0.0f, 0.0f, scale, 0.0f, 0.0f, 0.0f, 0.0f, scale, 0.0f, x, y, 0.0f, 1.0f,
    };
    GLfloat mvp[16];
    _gltMat4Mult(_gltText2DProjectionMatrix, model, mvp);
    _gltDrawGeometry(text, mvp);
}

void gltDrawText2DAligned(GLTtext* text, GLfloat x, GLfloat y, GLfloat scale, int horizontal,
                          int vertical) {
    if (!_gltPrepareDraw(text))
        return;

    if (horizontal == 1)
        x -= 0.5f * gltGetTextWidth(text, scale);
    else if (horizontal == 2)
        x -= gltGetTextWidth(text, scale);

    if (vertical == 1)
        y -= 0.5f * gltGetTextHeight(text, scale);
    else if (vertical == 2)
        y -= gltGetTextHeight(text, scale);

    gltDrawText2D(text, x, y, scale);
}

void gltDrawText3D(GLTtext* text, GLfloat x, GLfloat y, GLfloat z, GLfloat scale,
                   const GLfloat view[16], const GLfloat projection[16]) {
    if (!_gltPrepareDraw(text))
        return;

    const GLfloat model[16] = {
        scale, 0.0f, 0.0f, 0.0f,  0.0f, -scale, 0.0f,
        0.0f,  0.0f, 0.0f, scale, 0.0f, x,      y + (GLfloat)_gltFontGlyphHeight * scale,
        z,     1.0f,
    };
    GLfloat viewProjection[16];
    GLfloat mvp[16];
    _gltMat4Mult(projection, view, viewProjection);
    _gltMat4Mult(viewProjection, model, mvp);
    _gltDrawGeometry(text, mvp);
}

void gltColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
    // Before initialisation there is no text program; the current program
    // is somebody else's.
    if (!gltInitialized)
        return;
    glUniform4f(_gltText2DShaderColorUniformLocation, r, g, b, a);
}

void gltGetColor(GLfloat* r, GLfloat* g, GLfloat* b, GLfloat* a) {
    GLfloat color[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (gltInitialized)
        glGetUniformfv(_gltText2DShader, _gltText2DShaderColorUniformLocation, color);
    if (r)
        *r = color[0];
    if (g)
        *g = color[1];
    if (b)
        *b = color[2];
    if (a)
        *a = color[3];
}

// ---- Measuring ---------------------------------------------------------

GLfloat gltGetLineHeight(GLfloat scale) {
    return (GLfloat)_gltFontGlyphHeight * scale;
}

GLfloat gltGetTextWidth(GLTtext* text, GLfloat scale) {
    if (!text || !text->string)
        return 0.0f;

    // Up to INT_MAX characters of up to 255 pixels each: 64 bits hold any line.
    int64_t lineWidth = 0;
    int64_t maxWidth = 0;
    for (int i = 0; i < text->length; i++) {
        const char c = text->string[i];
        if (c == '\n' || c == '\r') {
            if (lineWidth > maxWidth)
                maxWidth = lineWidth;
            lineWidth = 0;
            continue;
        }
        lineWidth += _gltAdvance(c);
    }
    if (lineWidth > maxWidth)
        maxWidth = lineWidth;
    return (GLfloat)maxWidth * scale;
}

GLfloat gltGetTextHeight(GLTtext* text, GLfloat scale) {
    if (!text || !text->string)
        return 0.0f;
    return ((GLfloat)gltCountNewLines(text->string) + 1.0f) * gltGetLineHeight(scale);
}

// ---- Characters --------------------------------------------------------

bool gltIsCharacterSupported(char c) {
    if (c == '\t' || c == '\n' || c == '\r')
        return true;
    return _gltFindGlyph(c) != NULL;
}

int gltCountSupportedCharacters(const char* string) {
    return _gltCountCharacters(string, gltIsCharacterSupported);
}

bool gltIsCharacterDrawable(char c) {
    const GLTglyphRecord* glyph = _gltFindGlyph(c);
    return glyph && glyph->drawable;
}

int gltCountDrawableCharacters(const char* string) {
    return _gltCountCharacters(string, gltIsCharacterDrawable);
}

int gltCountNewLines(const char* string) {
    return _gltCountCharacters(string, _gltIsNewLine);
}
