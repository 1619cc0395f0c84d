#pragma once

// The one GPU program the demo draws with: the user's vertex and fragment
// shaders applied to a full-screen quad, fed every frame with the music time,
// the configured resolution, the values of the sync tracks bound to its
// uniforms, and its textures.
//
// Use: initialize (the quad) once a context is current; setSources;
// initializeTextures and initializeUniforms (the configured bindings);
// setCosmonaut and setTextureManager; initShader, whose message carries the
// GL's log when the build fails (setUp does all of that for a configured
// demo). Then render once a frame. To rebuild from new sources: cleanShader,
// setSources, initShader. Before the window goes away, releaseGraphics frees
// every GL object the shader holds.

#include "Common.h"
#include "Logger.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tolvane {

class Cosmonaut;
class TextureManager;

class Shader {
public:
    // A uniform fed by a track: "time", "resolution" or a sync track name.
    struct UniformVariable {
        int32_t location = -1;
        std::string track;
        std::string variable;
    };

    // A sampler fed by the texture of the same name.
    struct UniformTexture {
        int32_t location = -1;
        std::string name;
    };

    Shader();
    ~Shader();
    Shader(const Shader&) = delete;
    Shader& operator=(const Shader&) = delete;

    // Stores the configured screen size and uploads the quad.
    void initialize(uint32_t width, uint32_t height);
    void setSources(std::string vertex, std::string fragment);
    // Names the files the sources were read from. From then on a failed
    // build also writes the GL's whole log to stderr, each line behind the
    // path of the file at fault ("shaders/fragment.glsl: 0:6(19): error:
    // ..."; both paths, joined by " + ", for a link error), so that the
    // terminal shows every character, however long the log.
    void setSourcePaths(std::string vertexPath, std::string fragmentPath);

    // Reads the sources from these files and names them as setSourcePaths
    // does. A file that is not a readable regular file of at most 1 MiB
    // leaves the sources as they were and gives an error message naming the
    // file and the reason ("cannot read <path>: <reason>"), also written to
    // stderr.
    Logger::Message readSources(const std::string& vertexPath, const std::string& fragmentPath);
    // Sets the shader up for a configured demo and builds it: initialize
    // with the given size, the sources read from the configured files (as
    // readSources), the configured textures and uniforms, the sync driver and
    // the texture manager; then initShader. Returns the build's message, or
    // readSources' when a file cannot be read (then nothing is built). When
    // skippedTextures is given, it receives initializeTextures' message.
    Logger::Message setUp(const Common::Shaders& shaders, uint32_t width, uint32_t height,
                          Cosmonaut* cosmonaut, TextureManager* textureManager,
                          Logger::Message* skippedTextures = nullptr);

    // Builds the program from the current sources. On failure the message
    // carries the failing stage's or the link's info log, and the frame shows
    // only the clear colour until a build succeeds.
    Logger::Message initShader();
    // Compiles one stage (GL_VERTEX_SHADER or GL_FRAGMENT_SHADER).
    Logger::Message compileShader(uint32_t type);
    // Releases the program and both shader objects.
    void cleanShader();

    // Binds the uniform named variable to track.
    void initializeUniform(std::string variable, std::string track);
    void initializeUniforms(std::vector<Common::TrackVariableBond> bonds);
    // Adds a sampler fed by the texture of that name, on the next free unit.
    // Returns false, adding nothing, when the fragment stage has no unit left
    // (GL_MAX_TEXTURE_IMAGE_UNITS, asked of the current context).
    bool initializeTexture(std::string name);
    // Adds a sampler for each name, in order. Names past the unit limit are
    // skipped: the message then has error set and names them.
    Logger::Message initializeTextures(std::vector<std::string> names);
    // Looks up every location in the program and uploads the shader's
    // textures again; runs after every successful link.
    void refreshUniforms();

    // Draws one frame for the music position time, in seconds.
    void render(double time);

    void setCosmonaut(Cosmonaut* cosmonaut);
    void setTextureManager(TextureManager* textureManager);

    // Deletes the program, the shaders and the quad's buffers; call it while
    // the context is still current, before the window is destroyed.
    void releaseGraphics();

private:
    // Writes the info log of a failed shader or program object to stderr
    // behind path, when the source paths are known.
    void reportFailure(const std::string& path, uint32_t object, bool isProgram) const;

    uint32_t width = 0;
    uint32_t height = 0;
    std::string vertexSource;
    uint32_t vertexShader = 0;
    std::string fragmentSource;
    uint32_t fragmentShader = 0;
    std::string vertexPath;
    std::string fragmentPath;
    uint32_t program = 0;
    std::vector<std::unique_ptr<UniformVariable>> uniformVariables;
    std::vector<std::unique_ptr<UniformTexture>> uniformTextures;
    std::array<float, 12> vertices;
    std::array<uint32_t, 6> indices;
    uint32_t vertexBuffer = 0;
    uint32_t vertexArray = 0;
    uint32_t elementBuffer = 0;
    Cosmonaut* cosmonaut = nullptr;
    TextureManager* textureManager = nullptr;
    // The last build linked, so program can be made current.
    bool built = false;
    // Both shaders are attached to program.
    bool attached = false;
};

} // namespace Tolvane
