#pragma once

// Plain records describing a demo, shared by the configuration reader and the
// components it feeds. They carry no behaviour; Configuration sets defaults.

#include <cstdint>
#include <string>
#include <vector>

struct sync_track;

namespace Tolvane::Common {

enum TRACK_TYPE : int32_t {
    FLOAT1 = 0,
    FLOAT2 = 1,
    FLOAT3 = 2,
    // Carried by a track entry whose "type" was not one of the known names.
    // The sync driver creates no sync track for it and the uniform pass
    // uploads nothing for it.
    TRACK_TYPE_UNKNOWN = -1,
};

enum ASSET_TYPE : int32_t {
    STATIC_TEXTURE = 0,
    DYNAMIC_TEXTURE = 1,
    // Carried by an asset entry whose "type" was not one of the known names;
    // the texture manager skips it.
    ASSET_TYPE_UNKNOWN = -1,
};

struct Demo {
    bool release = false;
    std::string name;
    std::string group;
    std::string icon;
    int32_t width = 0;
    int32_t height = 0;
    int32_t FPS = 0;
};

struct Tune {
    std::string file;
    double BPM = 0.0;
    int32_t frequency = 0;
};

struct Sync {
    int32_t RPB = 0;
    std::string host;
};

struct TrackVariableBond {
    std::string variable;
    std::string track;
};

struct Shaders {
    std::string vertex;
    std::string fragment;
    int32_t majorVersion = 0;
    int32_t minorVersion = 0;
    std::vector<TrackVariableBond> uniforms;
    std::vector<std::string> textures;
};

struct Track {
    TRACK_TYPE type = TRACK_TYPE_UNKNOWN;
    std::string name;
};

struct Asset {
    ASSET_TYPE type = ASSET_TYPE_UNKNOWN;
    std::string file;
    std::string name;
    std::vector<std::string> variables;
    bool once = false;
    int32_t width = 0;
    int32_t height = 0;
};

// The sampled state of one configured track: up to three sync tracks (x, y,
// z) and their values at the current row. Value-initialised it is all zeros.
struct Gateway {
    sync_track* tracks[3];
    double values[3];
    TRACK_TYPE type;
};

} // namespace Tolvane::Common
