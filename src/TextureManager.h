#pragma once

// The textures of the demo, by asset name. At start-up setTextures decodes
// the PNG assets into memory and initializeTextures uploads them; every
// successful shader build uploads the shader's textures again through
// initializeTexture, and each frame looks them up with getTexture.
// releaseGraphics frees the GL textures while the context is still current.

#include "Common.h"
#include "Texture.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Tolvane {

class TextureManager {
public:
    TextureManager();
    ~TextureManager();
    TextureManager(const TextureManager&) = delete;
    TextureManager& operator=(const TextureManager&) = delete;

    // Registers one texture per static asset whose PNG decodes and per
    // dynamic asset; a later asset of the same name replaces an earlier one.
    void setTextures(std::vector<Common::Asset> assets);
    // Uploads every registered texture, in ascending name order.
    void initializeTextures();
    // Uploads the texture registered under name; does nothing for a name
    // with no texture.
    void initializeTexture(std::string name);
    // The texture registered under name, or null when there is none.
    Texture* getTexture(std::string name);

    // Deletes every GL texture; call it before the window is destroyed.
    void releaseGraphics();

private:
    std::map<std::string, std::unique_ptr<Texture>> textures;
};

} // namespace Tolvane
