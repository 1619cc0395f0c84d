#include "TextureManager.h"

#include "DynamicTexture.h"
#include "Helpers.h"
#include "StaticTexture.h"

#include <lodepng.h>

#include <algorithm>

namespace Tolvane {

TextureManager::TextureManager() = default;

TextureManager::~TextureManager() = default;

bool TextureManager::decodeImage(const std::string& path, std::vector<unsigned char>& pixels,
                                 uint32_t& width, uint32_t& height, uint32_t maxSide) {
    pixels.clear();
    std::string file;
    std::string error;
    if (!Helpers::readFile(path, file, error, MAX_IMAGE_FILE_SIZE)) {
        return false;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(file.data());
    unsigned w = 0;
    unsigned h = 0;
    // A corrupt or hostile header can claim billions of pixels, for which
    // the decoder would reserve memory before finding out that the data is
    // not there: check the size first.
    lodepng::State header;
    if (lodepng_inspect(&w, &h, &header, data, file.size()) != 0 ||
        w > std::min(maxSide, MAX_IMAGE_SIDE) || h > std::min(maxSide, MAX_IMAGE_SIDE) ||
        uint64_t(w) * h > MAX_IMAGE_PIXELS) {
        return false;
    }
    if (lodepng::decode(pixels, w, h, data, file.size(), LCT_RGBA, 8) != 0) {
        pixels.clear();
        return false;
    }
    width = w;
    height = h;
    return true;
}

void TextureManager::setTextures(std::vector<Common::Asset> assets) {
    for (const Common::Asset& asset : assets) {
        if (asset.type == Common::STATIC_TEXTURE) {
            auto texture = std::make_unique<StaticTexture>();
            if (!decodeImage(asset.file, texture->image, texture->width, texture->height)) {
                continue;
            }
            textures[asset.name] = std::move(texture);
        } else if (asset.type == Common::DYNAMIC_TEXTURE) {
            auto texture = std::make_unique<DynamicTexture>();
            texture->once = asset.once;
            texture->width = static_cast<uint32_t>(asset.width);
            texture->height = static_cast<uint32_t>(asset.height);
            textures[asset.name] = std::move(texture);
        }
    }
}

void TextureManager::initializeTextures() {
    for (auto& entry : textures) {
        entry.second->initialize();
    }
}

void TextureManager::initializeTexture(std::string name) {
    if (Texture* texture = getTexture(std::move(name))) {
        texture->initialize();
    }
}

Texture* TextureManager::getTexture(std::string name) {
    const auto found = textures.find(name);
    return found == textures.end() ? nullptr : found->second.get();
}

void TextureManager::releaseGraphics() {
    for (auto& entry : textures) {
        entry.second->releaseGraphics();
    }
}

} // namespace Tolvane
