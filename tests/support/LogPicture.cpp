#include "LogPicture.h"

#include "GlContext.h"
#include "text/overlay.h"

#include <algorithm>

namespace Tolvane::Testing {

namespace {

// Rows of a line's own that a mask covers, counted from the line's top.
constexpr int MASK_FIRST_ROW = 2;
constexpr int MASK_END_ROW = LOG_LINE_PITCH;

std::string maskOf(const Image& image, int top, int width) {
    std::string mask;
    const int columns = std::min(width, image.width);
    for (int y = top + MASK_FIRST_ROW; y < top + MASK_END_ROW; ++y) {
        for (int x = 0; x < columns; ++x) {
            mask += y >= 0 && y < image.height && isGlyphWhite(image, x, y) ? '#' : '.';
        }
        mask += '\n';
    }
    return mask;
}

} // namespace

int logLineTop(int anchor, int k) {
    return anchor - LOG_LINE_PITCH - LOG_LINE_PITCH * k;
}

bool isGlyphWhite(const Image& image, int x, int y) {
    const auto pixel = image.at(x, y);
    return pixel[0] >= 200 && pixel[1] >= 200 && pixel[2] >= 200;
}

int topWhiteRow(const Image& image, int width) {
    const int columns = std::min(width, image.width);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < columns; ++x) {
            if (isGlyphWhite(image, x, y)) {
                return y;
            }
        }
    }
    return -1;
}

bool hasWhite(const Image& image, int top, int bottom, int width) {
    const int columns = std::min(width, image.width);
    for (int y = std::max(0, top); y < std::min(bottom, image.height); ++y) {
        for (int x = 0; x < columns; ++x) {
            if (isGlyphWhite(image, x, y)) {
                return true;
            }
        }
    }
    return false;
}

int logLineCount(const Image& image, int anchor) {
    const int top = topWhiteRow(image, image.width);
    if (top < 0 || top >= anchor) {
        return 0;
    }
    return (anchor - 1 - top) / LOG_LINE_PITCH + 1;
}

std::string logLineMask(const Image& image, int anchor, int k, int width) {
    return maskOf(image, logLineTop(anchor, k), width);
}

std::vector<std::string> renderedLineMasks(const std::vector<std::string>& texts, int width) {
    std::vector<std::string> masks(texts.size());
    GlContext context(width, 32);
    if (!context.ok() || !gltInit()) {
        return masks;
    }
    GLTtext* line = gltCreateText();
    for (size_t i = 0; i < texts.size(); ++i) {
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        gltSetText(line, texts[i].c_str());
        gltBeginDraw();
        gltColor(1.0f, 1.0f, 1.0f, 1.0f);
        gltDrawText2D(line, 0.0f, 0.0f, 1.0f);
        gltEndDraw();
        Image picture;
        picture.width = context.width();
        picture.height = context.height();
        picture.rgba = context.pixels();
        masks[i] = maskOf(picture, 0, width);
    }
    gltDeleteText(line);
    gltTerminate();
    return masks;
}

std::string fragmentCompileLog(const std::string& source) {
    GlContext context;
    if (!context.ok()) {
        return "";
    }
    const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    std::string log;
    if (status == GL_FALSE) {
        GLint length = 0;
        glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
        std::vector<char> buffer(static_cast<size_t>(std::max(length, 1)));
        glGetShaderInfoLog(shader, static_cast<GLsizei>(buffer.size()), nullptr, buffer.data());
        log = buffer.data();
    }
    glDeleteShader(shader);
    return log;
}

} // namespace Tolvane::Testing
