#pragma once

// The textures of the demo, by asset name. At start-up setTextures decodes
// the PNG assets into memory and initializeTextures uploads them; every
// successful shader build uploads the shader's textures again through
// initializeTexture, and each frame looks them up with getTexture.
// releaseGraphics frees the GL textures while the context is still current.

#include "Common.h"
#include "Texture.h"

#include <cstdint>
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

    // The largest PNG image taken as a texture: 16384 pixels a side (what
    // GL 4 guarantees a texture can hold) and 64 Mi pixels in all (256 MiB
    // decoded). A larger image is refused from its header, like a file that
    // does not decode, before any memory is taken for its pixels.
    static constexpr uint32_t MAX_IMAGE_SIDE = 16384;
    static constexpr uint64_t MAX_IMAGE_PIXELS = uint64_t(1) << 26;
    // The largest PNG file read: the largest image above stored
    // uncompressed at 16 bits a channel, and 1 MiB for its other chunks.
    static constexpr uint64_t MAX_IMAGE_FILE_SIZE = MAX_IMAGE_PIXELS * 8 + (uint64_t(1) << 20);

    // Decodes the PNG file at path to 8-bit RGBA, top row first, whatever
    // its own colour type and depth. False, with pixels empty, when path is
    // not a regular file of at most MAX_IMAGE_FILE_SIZE bytes, when it does
    // not decode, or when its header claims more than the limits above or a
    // side longer than maxSide (checked before any memory is taken for the
    // pixels). Textures and the window icon are read through it.
    static bool decodeImage(const std::string& path, std::vector<unsigned char>& pixels,
                            uint32_t& width, uint32_t& height, uint32_t maxSide = MAX_IMAGE_SIDE);

    // Registers one texture per static asset whose PNG decodes (within the
    // size limit) and per dynamic asset; a later asset of the same name
    // replaces an earlier one.
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
