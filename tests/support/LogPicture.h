#pragma once

// Reads the player's on-screen log out of a captured picture: where its lines
// are, how many there are, and what each one shows, compared with what the
// text renderer draws for a given text in a GL context of the test's own.
//
// The log draws white glyphs on black cells 17 pixels high, one message a
// line, lines 15 pixels apart, the newest one's top 15 pixels above the
// height the log was anchored at (the window's height at start-up), older
// ones above it. Glyph shapes are not known here: a line's content is only
// ever compared with the renderer's own drawing of the expected text.

#include "Harness.h"

#include <string>
#include <vector>

namespace Tolvane::Testing {

constexpr int LOG_LINE_PITCH = 15;

// Top row of the k-th newest log line (k = 0 for the newest).
int logLineTop(int anchor, int k);

// Whether a pixel is one of the log's white glyph pixels.
bool isGlyphWhite(const Image& image, int x, int y);

// Topmost row holding a white pixel in columns [0, width), -1 when none.
int topWhiteRow(const Image& image, int width);
// Whether any white pixel lies in rows [top, bottom) and columns [0, width).
bool hasWhite(const Image& image, int top, int bottom, int width);

// Number of log lines: counted from the line the topmost white pixel falls
// in; 0 when nothing white is drawn.
int logLineCount(const Image& image, int anchor);

// The white pixels of the k-th newest line over columns [0, width), as text
// ('#' white, '.' not, a line feed after each row). Only rows no other line
// draws over are taken: the 2 top rows, which the next older line's cell
// covers, are left out.
std::string logLineMask(const Image& image, int anchor, int k, int width);

// What the text renderer draws for each text as one log line, in the same
// form as logLineMask; needs the test's display. Empty strings when no GL
// context could be made.
std::vector<std::string> renderedLineMasks(const std::vector<std::string>& texts, int width);

// The info log the GL gives for a fragment shader source that fails to
// compile (empty when it compiles); needs the test's display.
std::string fragmentCompileLog(const std::string& source);

} // namespace Tolvane::Testing
