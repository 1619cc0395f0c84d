#pragma once

// A texture declared in the configuration with a size but no image. It owns
// no GL texture: its id stays 0, so a sampler bound to it reads black.

#include "Texture.h"

namespace Tolvane {

class DynamicTexture : public Texture {
public:
    DynamicTexture();
    ~DynamicTexture() override;

    // Nothing to upload.
    void initialize() override;

    bool once = false;
};

} // namespace Tolvane
