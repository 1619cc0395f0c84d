#ifndef TOLVANE_TEXT_OVERLAY_INTERNAL_H
#define TOLVANE_TEXT_OVERLAY_INTERNAL_H

// Internals of the text overlay renderer: module state, the font tables and
// the steps behind the public functions. For the renderer's own sources and
// for tests that inspect the font and the geometry.

#include "overlay.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Font --------------------------------------------------------------

// Height of every glyph cell and of a line at scale 1.
#define _gltFontGlyphHeight 17
// Characters of the font, and the range of codes the glyph table covers.
#define _gltFontGlyphCount     83
#define _gltFontGlyphMinChar   32
#define _gltFontGlyphMaxChar   122
#define _gltFontGlyphTableSize (_gltFontGlyphMaxChar - _gltFontGlyphMinChar + 1)
// Words of the packed pixel table.
#define _gltFontGlyphDataWords 387
// Pen advance of a tab: that of a space.
#define _gltTabAdvance 4

// One character of the font: its advance w, cell height h and its rectangle
// in the font texture. x keeps the glyph's column on the source sheet; x and
// y are not used for drawing.
typedef struct GLTglyphRecord {
    char character;
    int x, y;
    int w, h;
    float uMin, vMin;
    float uMax, vMax;
    bool drawable;
} GLTglyphRecord;

// The supported characters, in table order (generated, font.c).
extern const char _gltFontGlyphCharacters[];
// One word per character: bits 0-15 sheet x, 16-23 width, 24-31 top margin,
// 32-39 bottom margin (generated, font.c).
extern const uint64_t _gltFontGlyphRects[_gltFontGlyphCount];
// 2-bit pixel stream of the drawable glyphs (generated, font.c).
extern const uint64_t _gltFontGlyphData[_gltFontGlyphDataWords];

// Glyph records in character-set order.
extern GLTglyphRecord _gltFontGlyphs[_gltFontGlyphCount];
// Glyph records by character code minus 32; zero for codes outside the set.
extern GLTglyphRecord _gltFontGlyphs2[_gltFontGlyphTableSize];

// ---- Module state ------------------------------------------------------

extern bool gltInitialized;
extern GLuint _gltText2DShader;
extern GLuint _gltText2DFontTexture;
extern GLint _gltText2DShaderMVPUniformLocation;
extern GLint _gltText2DShaderColorUniformLocation;
extern GLfloat _gltText2DProjectionMatrix[16];
extern const char* const _gltText2DVertexShaderSource;
extern const char* const _gltText2DFragmentShaderSource;

// ---- Steps -------------------------------------------------------------

// Fills both glyph tables from the metric words (no OpenGL needed).
void _gltBuildGlyphTables(void);
// Size of the font texture the tables give, in texels.
void _gltGetFontTextureSize(int* width, int* height);
// Stores the current viewport's width and height through non-null pointers.
void _gltGetViewportSize(GLint* width, GLint* height);
// out = a * b for column-major 4x4 matrices; out must not alias a or b.
void _gltMat4Mult(const GLfloat a[16], const GLfloat b[16], GLfloat out[16]);
// Rebuilds and uploads the geometry of a dirty text.
void _gltUpdateBuffers(GLTtext* text);
// Builds the text program.
bool _gltCreateText2DShader(void);
// Builds the glyph tables and the font texture.
bool _gltCreateText2DFontTexture(void);

#ifdef __cplusplus
}
#endif

#endif
