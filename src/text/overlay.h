#ifndef TOLVANE_TEXT_OVERLAY_H
#define TOLVANE_TEXT_OVERLAY_H

// Text overlay renderer: draws ASCII strings over the frame with a built-in
// bitmap font 17 pixels high (white glyphs edged in black).
//
// Usage, on the thread whose OpenGL 3.3 core context is current and whose
// entry points are loaded:
//
//     gltInit();                              // once: shader and font texture
//     GLTtext* text = gltCreateText();        // caller owns it
//     gltSetText(text, "Hello");              // geometry is built at next draw
//     gltBeginDraw();
//     gltColor(1.0f, 1.0f, 1.0f, 1.0f);
//     gltDrawText2D(text, x, y, 1.0f);        // window pixels, y down
//     gltEndDraw();
//     gltDeleteText(text);
//     gltTerminate();                         // while the context is current
//
// Every function taking a GLTtext accepts null and then does nothing.
// Supported characters: the space, a-z, A-Z, 0-9 and . , ! ? - + / ( ) : ; %
// & ` * # = [ ] ", plus tab, line feed and carriage return. Others are kept
// in the string but skipped when drawing and measuring.

#include <GL/glew.h>

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

// A string and the geometry drawing it. Callers may read the fields; only the
// functions below change them.
typedef struct GLTtext {
    char* string;    // owned copy of the text, null when empty
    int length;      // characters in string
    bool dirty;      // geometry no longer matches string
    int vertexCount; // 6 per drawable character
    float* vertices; // CPU copy of the uploaded vertices (x, y, u, v)
    GLuint vertexArray;
    GLuint vertexBuffer;
} GLTtext;

// ---- Module ------------------------------------------------------------

// Builds the text shader and the font texture; true when ready. Does nothing
// more when already initialised.
bool gltInit(void);
// Deletes the shader and the font texture. Text objects are left alone.
void gltTerminate(void);
// Forgets the shader and font texture without any OpenGL call, for when the
// context that held them has already been destroyed.
void gltAbandon(void);

// ---- Text objects ------------------------------------------------------

// Creates an empty text object with its own vertex array and buffer; null on
// failure.
GLTtext* gltCreateText(void);
// Deletes a text object with its OpenGL objects.
void gltDeleteText(GLTtext* text);
// Frees a text object's memory without any OpenGL call, for when the context
// that held its vertex array and buffer has already been destroyed.
void gltAbandonText(GLTtext* text);
// Sets the text's string (null or "" for none). Setting the string it already
// holds changes nothing. False when text is null, the string is longer than
// INT_MAX characters or memory runs out (the object is then left as it was).
// A text of more drawable characters than INT_MAX / 6 draws nothing.
bool gltSetText(GLTtext* text, const char* string);
// The text's string, never null.
const char* gltGetText(GLTtext* text);

// ---- Drawing -----------------------------------------------------------

// Sets the 2D projection for a viewport of width x height pixels (an empty
// size changes nothing). 2D draws call it themselves with the current
// viewport, and draw nothing while it is empty or no context is current.
void gltViewport(int width, int height);
// Binds the text shader and the font texture (on unit 0) for the draws that
// follow. Nothing is restored afterwards.
void gltBeginDraw(void);
// Closes a gltBeginDraw bracket.
void gltEndDraw(void);
// Draws text with a caller-supplied column-major model-view-projection matrix
// (text space: pixels, y down, first line from y 0 to 17).
void gltDrawText(GLTtext* text, const GLfloat mvp[16]);
// Draws text with its top-left corner at window pixel (x, y), scaled about it.
void gltDrawText2D(GLTtext* text, GLfloat x, GLfloat y, GLfloat scale);
// Draws text aligned on (x, y): horizontal/vertical 0 puts the left/top edge
// there, 1 the centre, 2 the right/bottom edge.
void gltDrawText2DAligned(GLTtext* text, GLfloat x, GLfloat y, GLfloat scale, int horizontal,
                          int vertical);
// Draws text in a 3D scene, y up, its first line spanning world y to
// y + 17 * scale.
void gltDrawText3D(GLTtext* text, GLfloat x, GLfloat y, GLfloat z, GLfloat scale,
                   const GLfloat view[16], const GLfloat projection[16]);

// Sets the colour the glyphs are multiplied by (opaque white by default).
// Call it between gltBeginDraw and gltEndDraw.
void gltColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a);
// Reads that colour back through the non-null pointers.
void gltGetColor(GLfloat* r, GLfloat* g, GLfloat* b, GLfloat* a);

// ---- Measuring ---------------------------------------------------------

// Height of one line: 17 * scale.
GLfloat gltGetLineHeight(GLfloat scale);
// Width of the widest line of the text, scaled.
GLfloat gltGetTextWidth(GLTtext* text, GLfloat scale);
// Height of all lines of the text, scaled.
GLfloat gltGetTextHeight(GLTtext* text, GLfloat scale);

// ---- Characters --------------------------------------------------------

// True for tab, line feed, carriage return and the font's characters.
bool gltIsCharacterSupported(char c);
// Supported characters in a string (0 for null). The counters stop at
// INT_MAX: a longer string counts INT_MAX.
int gltCountSupportedCharacters(const char* string);
// True for characters that leave pixels on screen (not the space).
bool gltIsCharacterDrawable(char c);
// Drawable characters in a string (0 for null), at most INT_MAX.
int gltCountDrawableCharacters(const char* string);
// Line feeds in a string (0 for null), at most INT_MAX.
int gltCountNewLines(const char* string);

#ifdef __cplusplus
}
#endif

#endif
