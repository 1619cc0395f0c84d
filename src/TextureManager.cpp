#include "TextureManager.h"

#include "DynamicTexture.h"
#include "Platform.h"
#include "StaticTexture.h"

#include <lodepng.h>

namespace Tolvane {

TextureManager::TextureManager() = default;

TextureManager::~TextureManager() = default;

void TextureManager::setTextures(std::vector<Common::Asset> assets) {
    for (const Common::Asset& asset : assets) {
        if (asset.type == Common::STATIC_TEXTURE) {
            auto texture = std::make_unique<StaticTexture>();
            std::vector<unsigned char> file;
            Platform::readFile(asset.file, file);
            unsigned width = 0;
            unsigned height = 0;
            // A corrupt or hostile header can claim billions of pixels, for
            // which the decoder would reserve memory before finding out that
            // the data is not there: check the size first.
            lodepng::State header;
            if (lodepng_inspect(&width, &height, &header, file.data(), file.size()) != 0 ||
                width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE ||
                uint64_t(width) * height > MAX_IMAGE_PIXELS) {
                continue;
            }
            // Whatever the PNG's own colour type and depth, ask for 8-bit RGBA.
            if (lodepng::decode(texture->image, width, height, file, LCT_RGBA, 8) != 0) {
                continue;
            }
            texture->width = width;
            texture->height = height;
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
