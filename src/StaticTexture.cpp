#include "StaticTexture.h"

#include <GL/glew.h>

namespace Tolvane {

StaticTexture::StaticTexture() = default;

StaticTexture::~StaticTexture() = default;

void StaticTexture::initialize() {
    const GLuint previous = id;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Stored as RGB: the shader always samples an alpha of 1.0. Rows go up
    // in decoded order, so the image's top row lies at t = 0.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, static_cast<GLsizei>(width),
                 static_cast<GLsizei>(height), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.empty() ? nullptr : image.data());
    // The new name is taken before the old one is freed, so a rebuild never
    // hands out the name the frame renderer bound a moment ago.
    if (previous != 0) {
        glDeleteTextures(1, &previous);
    }
}

} // namespace Tolvane
