#include "Configuration.h"
#include "Cosmonaut.h"
#include "LenientJson.h"

#include "Platform.h"

#include "sync.h"

#include <json/json.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace Tolvane {

namespace {

// The member key of object, or null when object is not an object, lacks the
// key or holds JSON null there: all three count as absent.
const Json::Value* member(const Json::Value& object, const char* key) {
    if (!object.isObject()) {
        return nullptr;
    }
    const Json::Value* value = object.find(key, key + std::char_traits<char>::length(key));
    if (value == nullptr || value->isNull()) {
        return nullptr;
    }
    return value;
}

// Each reader stores the member's value only when it is present and of a
// kind the JSON library can convert; otherwise the field keeps its value.
void readBool(const Json::Value& object, const char* key, bool& field) {
    const Json::Value* value = member(object, key);
    if (value != nullptr && value->isConvertibleTo(Json::booleanValue)) {
        field = value->asBool();
    }
}

void readInt(const Json::Value& object, const char* key, int32_t& field) {
    const Json::Value* value = member(object, key);
    if (value != nullptr && value->isConvertibleTo(Json::intValue)) {
        field = value->asInt();
    }
}

void readDouble(const Json::Value& object, const char* key, double& field) {
    const Json::Value* value = member(object, key);
    if (value != nullptr && value->isConvertibleTo(Json::realValue)) {
        field = value->asDouble();
    }
}

void readString(const Json::Value& object, const char* key, std::string& field) {
    const Json::Value* value = member(object, key);
    if (value != nullptr && value->isConvertibleTo(Json::stringValue)) {
        field = value->asString();
    }
}

// Inside list entries presence is not tested: a missing, null or
// unconvertible member reads as the empty string, false or 0.
std::string entryString(const Json::Value& entry, const char* key) {
    std::string text;
    readString(entry, key, text);
    return text;
}

bool entryBool(const Json::Value& entry, const char* key) {
    bool flag = false;
    readBool(entry, key, flag);
    return flag;
}

int32_t entryInt(const Json::Value& entry, const char* key) {
    int32_t number = 0;
    readInt(entry, key, number);
    return number;
}

// The elements of an array member, or an empty list when the member is
// absent or not an array.
const Json::Value& arrayMember(const Json::Value& object, const char* key) {
    static const Json::Value empty(Json::arrayValue);
    const Json::Value* value = member(object, key);
    return value != nullptr && value->isArray() ? *value : empty;
}

const Json::Value& section(const Json::Value& root, const char* key) {
    static const Json::Value empty(Json::objectValue);
    const Json::Value* value = member(root, key);
    return value != nullptr ? *value : empty;
}

Common::Track readTrack(const Json::Value& entry) {
    Common::Track track;
    track.name = entryString(entry, "track");
    const std::string type = entryString(entry, "type");
    if (type == "float1") {
        track.type = Common::FLOAT1;
    } else if (type == "float2") {
        track.type = Common::FLOAT2;
    } else if (type == "float3") {
        track.type = Common::FLOAT3;
    }
    return track;
}

// Why the track can have no track file inside the working directory, or
// null: each of its sync tracks is checked (the name itself when its type
// is unknown).
const char* trackNameFault(const Common::Track& track) {
    std::vector<std::string> names = Cosmonaut::syncTrackNames(track);
    if (names.empty()) {
        names.push_back(track.name);
    }
    for (const std::string& name : names) {
        if (const char* fault = sync_track_name_fault(Cosmonaut::TRACK_FILE_BASE, name.c_str())) {
            return fault;
        }
    }
    return nullptr;
}

// The text with control characters and bytes past ASCII written as \xNN,
// fit for a terminal or the log.
std::string printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

Common::Asset readAsset(const Json::Value& entry) {
    Common::Asset asset;
    asset.name = entryString(entry, "name");
    asset.file = entryString(entry, "file");
    const std::string type = entryString(entry, "type");
    if (type == "staticTexture") {
        asset.type = Common::STATIC_TEXTURE;
    } else if (type == "dynamicTexture") {
        asset.type = Common::DYNAMIC_TEXTURE;
        asset.once = entryBool(entry, "once");
        asset.width = entryInt(entry, "width");
        asset.height = entryInt(entry, "height");
        for (const Json::Value& variable : arrayMember(entry, "variables")) {
            asset.variables.push_back(variable.isConvertibleTo(Json::stringValue) &&
                                              !variable.isNull()
                                          ? variable.asString()
                                          : std::string());
        }
    }
    return asset;
}

} // namespace

Configuration::Configuration() {
    demo.release = true;
    demo.name = "demo";
    demo.group = "demogroup";
    demo.icon = "assets/pics/qz.png";
    demo.width = 800;
    demo.height = 600;
    demo.FPS = 60;
    tune.file = "tune.mp3";
    tune.BPM = 80.0;
    tune.frequency = 44000;
    sync.RPB = 8;
    sync.host = "localhost";
    shaders.vertex = "shaders/vertex.glsl";
    shaders.fragment = "shaders/fragment.glsl";
    shaders.majorVersion = 2;
    shaders.minorVersion = 1;
}

Configuration::~Configuration() = default;

bool Configuration::read(const std::string& path) {
    std::ifstream stream(Platform::filePath(path), std::ifstream::binary);
    if (!stream.is_open()) {
        return false;
    }

    // Whatever the reader managed to read is used, and the rest keeps its
    // defaults.
    const Json::Value root = readLenientJson(stream);

    const Json::Value& demoSection = section(root, "demo");
    const Json::Value& screen = section(root, "screen");
    const Json::Value& music = section(root, "music");
    const Json::Value& syncSection = section(root, "sync");
    const Json::Value& shaderSection = section(root, "shaders");

    readBool(demoSection, "release", demo.release);
    readString(demoSection, "name", demo.name);
    readString(demoSection, "group", demo.group);
    readString(demoSection, "icon", demo.icon);
    readInt(screen, "width", demo.width);
    readInt(screen, "height", demo.height);
    readInt(screen, "FPS", demo.FPS);
    readString(music, "file", tune.file);
    readDouble(music, "BPM", tune.BPM);
    readInt(music, "frequency", tune.frequency);
    readString(syncSection, "host", sync.host);
    readInt(syncSection, "RPB", sync.RPB);
    readString(shaderSection, "vertex", shaders.vertex);
    readString(shaderSection, "fragment", shaders.fragment);
    readInt(shaderSection, "majorVersion", shaders.majorVersion);
    readInt(shaderSection, "minorVersion", shaders.minorVersion);

    for (const Json::Value& entry : arrayMember(shaderSection, "uniforms")) {
        Common::TrackVariableBond bond;
        bond.track = entryString(entry, "track");
        bond.variable = entryString(entry, "variable");
        shaders.uniforms.push_back(bond);
    }
    for (const Json::Value& entry : arrayMember(shaderSection, "textures")) {
        shaders.textures.push_back(entryString(entry, "name"));
    }
    for (const Json::Value& entry : arrayMember(root, "tracks")) {
        Common::Track track = readTrack(entry);
        if (const char* fault = trackNameFault(track)) {
            refused.push_back("track \"" + printable(track.name) + "\" " + fault + ": skipped");
            continue;
        }
        tracks.push_back(std::move(track));
    }
    for (const Json::Value& entry : arrayMember(root, "assets")) {
        assets.push_back(readAsset(entry));
    }
    return true;
}

void Configuration::resolvePaths(const std::string& folder) {
    const auto resolve = [&folder](std::string& path) {
        if (!path.empty() && Platform::filePath(path).is_relative()) {
            path = (Platform::filePath(folder) / Platform::filePath(path)).u8string();
        }
    };
    resolve(demo.icon);
    resolve(tune.file);
    resolve(shaders.vertex);
    resolve(shaders.fragment);
    for (Common::Asset& asset : assets) {
        resolve(asset.file);
    }
}

} // namespace Tolvane
