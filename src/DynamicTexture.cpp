#include "DynamicTexture.h"

namespace Tolvane {

DynamicTexture::DynamicTexture() = default;

DynamicTexture::~DynamicTexture() = default;

void DynamicTexture::initialize() {}

} // namespace Tolvane
