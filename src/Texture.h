#pragma once

// A texture the fragment shader can sample: the GL texture name the frame
// renderer binds, and the image size. Subclasses say where the pixels come
// from; the texture manager creates and owns every texture.

#include <cstdint>

namespace Tolvane {

class Texture {
public:
    Texture();
    virtual ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Creates and fills the GL texture; the base texture has nothing to upload.
    virtual void initialize();

    // Deletes the GL texture, if one exists, while a context is current.
    void releaseGraphics();

    uint32_t id = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

} // namespace Tolvane
