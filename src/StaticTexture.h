#pragma once

// A texture read from a PNG file: the pixels are decoded once, kept in
// memory, and uploaded to the GPU again on every initialize.

#include "Texture.h"

#include <vector>

namespace Tolvane {

class StaticTexture : public Texture {
public:
    StaticTexture();
    ~StaticTexture() override;

    // Uploads image into a new GL texture, left bound to GL_TEXTURE_2D of the
    // active unit, and deletes the texture of the previous upload.
    void initialize() override;

    // Decoded pixels: 8-bit red, green, blue, alpha, top row first.
    std::vector<unsigned char> image;
};

} // namespace Tolvane
