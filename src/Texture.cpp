#include "Texture.h"

#include "Helpers.h"

#include <GL/glew.h>

namespace Tolvane {

Texture::Texture() = default;

Texture::~Texture() {
    // At process exit the window, and with it the context, is already gone;
    // the GL frees the texture along with the context then.
    if (id != 0 && Helpers::hasCurrentContext()) {
        releaseGraphics();
    }
}

void Texture::initialize() {}

void Texture::releaseGraphics() {
    if (id != 0) {
        glDeleteTextures(1, &id);
        id = 0;
    }
}

} // namespace Tolvane
