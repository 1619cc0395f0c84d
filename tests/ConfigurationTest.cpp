#include "Configuration.h"
#include "Harness.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

using namespace Tolvane;
using Tolvane::Testing::TempDir;

namespace {

// Reads text as a configuration document into a fresh object.
Configuration readText(const std::string& text, bool* result = nullptr) {
    TempDir dir;
    dir.write("configuration.json", text);
    Configuration configuration;
    const bool ok = configuration.read(dir.file("configuration.json"));
    if (result != nullptr) {
        *result = ok;
    }
    return configuration;
}

// Every scalar setting, one section a line, so that a test compares them
// all at once and a failure shows the difference.
std::string scalars(const Configuration& c) {
    std::ostringstream out;
    out << std::setprecision(17) << std::boolalpha;
    out << "demo: release " << c.demo.release << ", " << c.demo.name << " by " << c.demo.group
        << ", icon " << c.demo.icon << ", " << c.demo.width << "x" << c.demo.height << " at "
        << c.demo.FPS << " FPS\n";
    out << "tune: " << c.tune.file << ", " << c.tune.BPM << " BPM, " << c.tune.frequency << " Hz\n";
    out << "sync: " << c.sync.RPB << " rows a beat, host " << c.sync.host << "\n";
    out << "shaders: " << c.shaders.vertex << ", " << c.shaders.fragment << ", version "
        << c.shaders.majorVersion << "." << c.shaders.minorVersion << "\n";
    return out.str();
}

void expectDefaults(const Configuration& c) {
    EXPECT_EQ(scalars(c),
              "demo: release true, demo by demogroup, icon assets/pics/qz.png, 800x600 at 60 FPS\n"
              "tune: tune.mp3, 80 BPM, 44000 Hz\n"
              "sync: 8 rows a beat, host localhost\n"
              "shaders: shaders/vertex.glsl, shaders/fragment.glsl, version 2.1\n");
    EXPECT_TRUE(c.shaders.uniforms.empty());
    EXPECT_TRUE(c.shaders.textures.empty());
    EXPECT_TRUE(c.tracks.empty());
    EXPECT_TRUE(c.assets.empty());
}

} // namespace

TEST(Configuration, MissingFileKeepsEveryDefaultAndReportsFailure) {
    Configuration configuration;
    EXPECT_FALSE(configuration.read("/nonexistent/configuration.json"));
    expectDefaults(configuration);
}

TEST(Configuration, DocumentsOfTheWrongShapeKeepEveryDefault) {
    bool ok = false;
    expectDefaults(readText("{}", &ok));
    EXPECT_TRUE(ok);
    expectDefaults(readText("this is not json at all", &ok));
    EXPECT_TRUE(ok) << "read reports only whether the file could be opened";
    expectDefaults(readText("", &ok));
    expectDefaults(readText("[1, 2, 3]"));
    expectDefaults(readText("42"));
    expectDefaults(readText("\"text\""));
    expectDefaults(readText("null"));
    expectDefaults(readText("1e999"));
    expectDefaults(readText(std::string("\x00\xff\xfe{\"demo\"\x01", 10)));
    expectDefaults(
        readText(R"({ "demo": [false], "screen": "big", "shaders": [3, 3], "sync": 7 })"));
    // Nesting deep enough to exhaust a recursive parser's stack.
    expectDefaults(readText(std::string(200000, '[') + std::string(200000, ']')));
    std::string objects;
    for (int i = 0; i < 100000; ++i) {
        objects += "{\"a\":";
    }
    expectDefaults(readText(objects + "1" + std::string(100000, '}')));
}

TEST(Configuration, ReadsEveryScalarWithCommentsAccepted) {
    const Configuration c = readText(R"({
        // a line comment
        "demo": { "release": false, "name": "wave", "group": "crew", "icon": "icon.png" },
        /* a block comment */
        "screen": { "width": 1024, "height": 768, "FPS": 30 },
        "music": { "file": "song.ogg", "BPM": 120, "frequency": 48000 },
        "sync": { "host": "127.0.0.1", "RPB": 4 },
        "shaders": { "vertex": "v.glsl", "fragment": "f.glsl", "majorVersion": 3, "minorVersion": 3 },
        "unknown": { "anything": 1 }
    })");
    EXPECT_EQ(scalars(c), "demo: release false, wave by crew, icon icon.png, 1024x768 at 30 FPS\n"
                          "tune: song.ogg, 120 BPM, 48000 Hz\n"
                          "sync: 4 rows a beat, host 127.0.0.1\n"
                          "shaders: v.glsl, f.glsl, version 3.3\n");
}

TEST(Configuration, NullCountsAsAbsentAndFractionalBpmIsKept) {
    const Configuration c = readText(R"({
        "demo": { "release": null, "name": null },
        "screen": { "width": null, "height": 480 },
        "music": { "BPM": 93.5 },
        "tracks": null, "assets": null
    })");
    EXPECT_TRUE(c.demo.release);
    EXPECT_EQ(c.demo.name, "demo");
    EXPECT_EQ(c.demo.width, 800);
    EXPECT_EQ(c.demo.height, 480);
    EXPECT_DOUBLE_EQ(c.tune.BPM, 93.5);
    EXPECT_TRUE(c.tracks.empty());
    EXPECT_TRUE(c.assets.empty());
}

TEST(Configuration, ValuesOfTheWrongKindKeepTheirFieldAndNeverThrow) {
    Configuration c;
    EXPECT_NO_THROW(c = readText(R"({
        "demo": { "release": {"a": 1}, "name": [1, 2], "group": {} },
        "screen": { "width": {"x": 1}, "height": "tall", "FPS": 1e20 },
        "music": { "BPM": "fast", "frequency": [44100] },
        "sync": [ "not", "an", "object" ],
        "shaders": { "vertex": {"path": "v"}, "majorVersion": "three",
                     "uniforms": { "track": "time" }, "textures": 7 },
        "tracks": { "track": "x" },
        "assets": "none"
    })"));
    EXPECT_TRUE(c.demo.release);
    EXPECT_EQ(c.demo.name, "demo");
    EXPECT_EQ(c.demo.group, "demogroup");
    EXPECT_EQ(c.demo.width, 800);
    EXPECT_EQ(c.demo.height, 600);
    EXPECT_EQ(c.demo.FPS, 60);
    EXPECT_DOUBLE_EQ(c.tune.BPM, 80.0);
    EXPECT_EQ(c.tune.frequency, 44000);
    EXPECT_EQ(c.sync.RPB, 8);
    EXPECT_EQ(c.shaders.vertex, "shaders/vertex.glsl");
    EXPECT_EQ(c.shaders.majorVersion, 2);
    EXPECT_TRUE(c.shaders.uniforms.empty());
    EXPECT_TRUE(c.shaders.textures.empty());
    EXPECT_TRUE(c.tracks.empty());
    EXPECT_TRUE(c.assets.empty());

    // Versions too big to convert, and a document cut off inside them.
    for (const char* text :
         {R"({ "shaders": { "majorVersion": 1e300, "minorVersion": 99999999999999999999 } })",
          R"({ "demo": { "release": false }, "shaders": { "majorVer)"}) {
        const Configuration versions = readText(text);
        EXPECT_EQ(versions.shaders.majorVersion, 2) << text;
        EXPECT_EQ(versions.shaders.minorVersion, 1) << text;
    }
}

TEST(Configuration, ListsAppendInDocumentOrderWithMissingMembersEmpty) {
    const Configuration c = readText(R"({
        "shaders": {
            "uniforms": [ { "track": "time", "variable": "t" }, { "variable": "only" }, {} ],
            "textures": [ { "name": "noise" }, {}, { "name": "logo" } ]
        }
    })");
    ASSERT_EQ(c.shaders.uniforms.size(), 3u);
    EXPECT_EQ(c.shaders.uniforms[0].track, "time");
    EXPECT_EQ(c.shaders.uniforms[0].variable, "t");
    EXPECT_EQ(c.shaders.uniforms[1].track, "");
    EXPECT_EQ(c.shaders.uniforms[1].variable, "only");
    EXPECT_EQ(c.shaders.uniforms[2].track, "");
    EXPECT_EQ(c.shaders.textures, (std::vector<std::string>{"noise", "", "logo"}));
}

TEST(Configuration, TracksKeepUnknownTypesMarkedUnknown) {
    const Configuration c = readText(R"({
        "tracks": [ { "track": "fade", "type": "float1" }, { "track": "pos", "type": "float2" },
                    { "track": "col", "type": "float3" }, { "track": "odd", "type": "Float3" },
                    { "track": "none" } ]
    })");
    ASSERT_EQ(c.tracks.size(), 5u);
    EXPECT_EQ(c.tracks[0].name, "fade");
    EXPECT_EQ(c.tracks[0].type, Common::FLOAT1);
    EXPECT_EQ(c.tracks[1].type, Common::FLOAT2);
    EXPECT_EQ(c.tracks[2].type, Common::FLOAT3);
    EXPECT_EQ(c.tracks[3].name, "odd");
    EXPECT_EQ(c.tracks[3].type, Common::TRACK_TYPE_UNKNOWN);
    EXPECT_EQ(c.tracks[4].type, Common::TRACK_TYPE_UNKNOWN);
}

TEST(Configuration, AssetsReadDynamicFieldsOnlyForDynamicTextures) {
    const Configuration c = readText(R"({
        "assets": [
            { "name": "a", "file": "a.png", "type": "staticTexture",
              "once": true, "width": 5, "height": 6, "variables": ["v"] },
            { "name": "b", "type": "dynamicTexture", "once": true, "height": 64,
              "variables": ["x", "y"] },
            { "name": "c", "file": "c.png", "type": "movie", "once": true, "width": 9 },
            { "name": "d", "type": "dynamicTexture", "variables": null }
        ]
    })");
    ASSERT_EQ(c.assets.size(), 4u);
    EXPECT_EQ(c.assets[0].type, Common::STATIC_TEXTURE);
    EXPECT_EQ(c.assets[0].file, "a.png");
    EXPECT_FALSE(c.assets[0].once);
    EXPECT_EQ(c.assets[0].width, 0);
    EXPECT_TRUE(c.assets[0].variables.empty());

    EXPECT_EQ(c.assets[1].type, Common::DYNAMIC_TEXTURE);
    EXPECT_EQ(c.assets[1].file, "");
    EXPECT_TRUE(c.assets[1].once);
    EXPECT_EQ(c.assets[1].width, 0) << "a dynamic texture without width gets 0";
    EXPECT_EQ(c.assets[1].height, 64);
    EXPECT_EQ(c.assets[1].variables, (std::vector<std::string>{"x", "y"}));

    EXPECT_EQ(c.assets[2].name, "c");
    EXPECT_EQ(c.assets[2].type, Common::ASSET_TYPE_UNKNOWN);
    EXPECT_FALSE(c.assets[2].once);
    EXPECT_EQ(c.assets[2].width, 0);

    EXPECT_TRUE(c.assets[3].variables.empty());
}

TEST(Configuration, EmptyShaderPathIsStoredEmpty) {
    const Configuration c = readText(R"({ "shaders": { "vertex": "" } })");
    EXPECT_EQ(c.shaders.vertex, "");
    EXPECT_EQ(c.shaders.fragment, "shaders/fragment.glsl");
}

TEST(Configuration, ResolvingAgainstAFolderPrefixesRelativeFilePathsOnly) {
    Configuration c =
        readText(R"({ "demo": { "icon": "/abs/icon.png" }, "music": { "file": "../tune.ogg" },
        "shaders": { "vertex": "" },
        "assets": [ { "name": "a", "file": "pics/a.png", "type": "staticTexture" }, { "name": "b" } ] })");
    c.resolvePaths("my demo/");
    EXPECT_EQ(c.demo.icon, "/abs/icon.png");
    EXPECT_EQ(c.tune.file, "my demo/../tune.ogg");
    EXPECT_EQ(c.shaders.vertex, "") << "an empty path must still stop the player";
    EXPECT_EQ(c.shaders.fragment, "my demo/shaders/fragment.glsl");
    EXPECT_EQ(c.assets[0].file, "my demo/pics/a.png");
    EXPECT_EQ(c.assets[1].file, "");
    EXPECT_EQ(c.assets[0].name, "a") << "names are not paths";
}

TEST(Configuration, TracksWhoseFilesWouldLeaveTheFolderAreSkippedWithTheReason) {
    // A float3 track is judged by its longest sync track name ("name.x").
    const Configuration c = readText(R"({ "tracks": [
        { "track": "fade", "type": "float1" },
        { "track": "/../../outside/evil", "type": "float1" },
        { "track": "scene/../../up", "type": "float2" },
        { "track": "bell\u0007", "type": "float1" },
        { "track": ")" + std::string(243, 'n') +
                                     R"(", "type": "float3" },
        { "track": ")" + std::string(243, 'n') +
                                     R"(", "type": "float1" },
        { "track": "scene/part 1", "type": "float3" }
    ] })");
    ASSERT_EQ(c.tracks.size(), 3u);
    EXPECT_EQ(c.tracks[0].name, "fade");
    EXPECT_EQ(c.tracks[1].name, std::string(243, 'n'));
    EXPECT_EQ(c.tracks[2].name, "scene/part 1");
    EXPECT_EQ(c.refused,
              (std::vector<std::string>{
                  "track \"/../../outside/evil\" is an absolute path: skipped",
                  "track \"scene/../../up\" has a \"..\" component: skipped",
                  "track \"bell\\x07\" holds a control character: skipped",
                  "track \"" + std::string(243, 'n') + "\" is too long for a file name: skipped",
              }));
}
