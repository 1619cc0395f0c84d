// Fuzzes the configuration reader: the input is the whole configuration
// file. Configuration::read must take any bytes without throwing or
// crashing, report the file as read, and leave every field either at its
// default or at a value the document really holds, as the JSON library
// itself reads the same text.

#include "Configuration.h"
#include "FuzzSupport.h"
#include "LenientJson.h"
#include "sync.h"

#include <json/json.h>

#include <sstream>

using namespace Tolvane;
using namespace Tolvane::Fuzz;

namespace {

// Where the document is written, set up once.
std::string configFile;

// The document as the JSON library reads it, for comparison; null when the
// library gives up on the text altogether.
Json::Value parse(const uint8_t* data, size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    return readLenientJson(stream);
}

// The member, when the document holds a non-null one in an object.
const Json::Value* member(const Json::Value& object, const char* key) {
    if (!object.isObject())
        return nullptr;
    const Json::Value* value = object.find(key, key + std::strlen(key));
    return value != nullptr && !value->isNull() ? value : nullptr;
}

// The length of an array member, 0 when absent or not an array.
size_t arraySize(const Json::Value& object, const char* key) {
    const Json::Value* value = member(object, key);
    return value != nullptr && value->isArray() ? value->size() : 0;
}

// An integer field: the document's value when it holds an exact 32-bit
// integer there, the default when it holds nothing.
void expectInt(const Json::Value& section, const char* key, int32_t field, int32_t fallback) {
    const Json::Value* value = member(section, key);
    if (value == nullptr)
        FUZZ_CHECK(field == fallback);
    else if (value->isInt())
        FUZZ_CHECK(field == value->asInt());
}

void expectString(const Json::Value& section, const char* key, const std::string& field,
                  const char* fallback) {
    const Json::Value* value = member(section, key);
    if (value == nullptr)
        FUZZ_CHECK(field == fallback);
    else if (value->isString())
        FUZZ_CHECK(field == value->asString());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    configFile = (makeScratchDir("configuration") / "configuration.json").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeFile(configFile, data, size);

    Configuration configuration;
    FUZZ_CHECK(configuration.read(configFile));

    const Json::Value root = parse(data, size);
    const Json::Value none;
    auto section = [&](const char* key) -> const Json::Value& {
        const Json::Value* value = member(root, key);
        return value != nullptr ? *value : none;
    };
    const Json::Value& demo = section("demo");
    const Json::Value& screen = section("screen");
    const Json::Value& music = section("music");
    const Json::Value& sync = section("sync");
    const Json::Value& shaders = section("shaders");

    const Json::Value* release = member(demo, "release");
    if (release == nullptr)
        FUZZ_CHECK(configuration.demo.release);
    else if (release->isBool())
        FUZZ_CHECK(configuration.demo.release == release->asBool());
    expectString(demo, "name", configuration.demo.name, "demo");
    expectString(demo, "group", configuration.demo.group, "demogroup");
    expectString(demo, "icon", configuration.demo.icon, "assets/pics/qz.png");
    expectInt(screen, "width", configuration.demo.width, 800);
    expectInt(screen, "height", configuration.demo.height, 600);
    expectInt(screen, "FPS", configuration.demo.FPS, 60);
    expectString(music, "file", configuration.tune.file, "tune.mp3");
    const Json::Value* bpm = member(music, "BPM");
    if (bpm == nullptr)
        FUZZ_CHECK(configuration.tune.BPM == 80.0);
    else if (bpm->isDouble())
        FUZZ_CHECK(configuration.tune.BPM == bpm->asDouble());
    expectInt(music, "frequency", configuration.tune.frequency, 44000);
    expectInt(sync, "RPB", configuration.sync.RPB, 8);
    expectString(shaders, "vertex", configuration.shaders.vertex, "shaders/vertex.glsl");
    expectString(shaders, "fragment", configuration.shaders.fragment, "shaders/fragment.glsl");
    expectInt(shaders, "majorVersion", configuration.shaders.majorVersion, 2);
    expectInt(shaders, "minorVersion", configuration.shaders.minorVersion, 1);

    // One list entry per array element, whatever the element holds.
    FUZZ_CHECK(configuration.shaders.uniforms.size() == arraySize(shaders, "uniforms"));
    FUZZ_CHECK(configuration.shaders.textures.size() == arraySize(shaders, "textures"));
    // Tracks whose file would leave the working directory are left out,
    // each with one line saying why.
    FUZZ_CHECK(configuration.tracks.size() + configuration.refused.size() ==
               arraySize(root, "tracks"));
    FUZZ_CHECK(configuration.assets.size() == arraySize(root, "assets"));

    for (const Common::Track& track : configuration.tracks)
        FUZZ_CHECK(sync_track_name_fault("sync", (track.name + ".x").c_str()) == nullptr ||
                   sync_track_name_fault("sync", track.name.c_str()) == nullptr);
    for (const Common::Track& track : configuration.tracks)
        FUZZ_CHECK(track.type == Common::FLOAT1 || track.type == Common::FLOAT2 ||
                   track.type == Common::FLOAT3 || track.type == Common::TRACK_TYPE_UNKNOWN);
    for (const Common::Asset& asset : configuration.assets) {
        FUZZ_CHECK(asset.type == Common::STATIC_TEXTURE || asset.type == Common::DYNAMIC_TEXTURE ||
                   asset.type == Common::ASSET_TYPE_UNKNOWN);
        // Only dynamic textures read their size, flag and variables.
        if (asset.type != Common::DYNAMIC_TEXTURE)
            FUZZ_CHECK(asset.variables.empty() && !asset.once && asset.width == 0 &&
                       asset.height == 0);
    }
    return 0;
}
