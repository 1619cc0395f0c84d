#include "Shader.h"

#include "Cosmonaut.h"
#include "Helpers.h"
#include "Texture.h"
#include "TextureManager.h"

#include <GL/glew.h>

#include <cstdio>
#include <cstring>

namespace Tolvane {

namespace {

// Info logs are read into a fixed buffer: at most 1023 characters of a log
// reach the message.
constexpr GLsizei LOG_SIZE = 1024;

// The object's info log, whole, up to its first NUL.
std::string wholeLog(GLuint object, bool isProgram) {
    GLint length = 0;
    if (isProgram) {
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    } else {
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    }
    if (length <= 0) {
        return std::string();
    }
    std::string log(static_cast<size_t>(length), '\0');
    if (isProgram) {
        glGetProgramInfoLog(object, length, nullptr, &log[0]);
    } else {
        glGetShaderInfoLog(object, length, nullptr, &log[0]);
    }
    log.resize(std::strlen(log.c_str()));
    return log;
}

} // namespace

Shader::Shader()
    : vertices{
          1.0f,  1.0f,  0.0f, // top right
          1.0f,  -1.0f, 0.0f, // bottom right
          -1.0f, -1.0f, 0.0f, // bottom left
          -1.0f, 1.0f,  0.0f, // top left
      },
      indices{0, 1, 3, 1, 2, 3} {
}

Shader::~Shader() {
    // The globals outlive the window; with no context left the GL has freed
    // these objects along with it.
    if ((program != 0 || vertexArray != 0) && Helpers::hasCurrentContext()) {
        releaseGraphics();
    }
}

void Shader::initialize(uint32_t width, uint32_t height) {
    this->width = width;
    this->height = height;

    glGenVertexArrays(1, &vertexArray);
    glGenBuffers(1, &vertexBuffer);
    glGenBuffers(1, &elementBuffer);

    glBindVertexArray(vertexArray);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(vertices), vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, elementBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof(indices), indices.data(), GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 3 * sizeof(float), nullptr);
    glEnableVertexAttribArray(0);

    // The element buffer stays recorded in the vertex array: binding the
    // vertex array alone is enough to draw.
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
}

void Shader::setSources(std::string vertex, std::string fragment) {
    vertexSource = std::move(vertex);
    fragmentSource = std::move(fragment);
}

void Shader::setSourcePaths(std::string vertexPath, std::string fragmentPath) {
    this->vertexPath = std::move(vertexPath);
    this->fragmentPath = std::move(fragmentPath);
}

Logger::Message Shader::readSources(const std::string& vertexPath,
                                    const std::string& fragmentPath) {
    std::string sources[2];
    const std::string* paths[2] = {&vertexPath, &fragmentPath};
    for (int i = 0; i < 2; ++i) {
        std::string error;
        if (!Helpers::readFile(*paths[i], sources[i], error)) {
            Logger::Message failed;
            failed.error = true;
            failed.text = "cannot read " + *paths[i] + ": " + error;
            // Beside the log, on the terminal, as a failed build's log is.
            std::fprintf(stderr, "%s\n", failed.text.c_str());
            std::fflush(stderr);
            return failed;
        }
    }
    setSources(sources[0], sources[1]);
    setSourcePaths(vertexPath, fragmentPath);
    return Logger::Message();
}

Logger::Message Shader::setUp(const Common::Shaders& shaders, uint32_t width, uint32_t height,
                              Cosmonaut* cosmonaut, TextureManager* textureManager,
                              Logger::Message* skippedTextures) {
    initialize(width, height);
    Logger::Message skipped = initializeTextures(shaders.textures);
    if (skippedTextures) {
        *skippedTextures = std::move(skipped);
    }
    initializeUniforms(shaders.uniforms);
    setCosmonaut(cosmonaut);
    setTextureManager(textureManager);
    const Logger::Message read = readSources(shaders.vertex, shaders.fragment);
    return read.error ? read : initShader();
}

void Shader::reportFailure(const std::string& path, uint32_t object, bool isProgram) const {
    if (vertexPath.empty() && fragmentPath.empty()) {
        return;
    }
    const std::string log = wholeLog(object, isProgram);
    std::string lines;
    size_t start = 0;
    do {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        lines += path + ": " + log.substr(start, end - start) + "\n";
        start = end + 1;
    } while (start < log.size());
    std::fputs(lines.c_str(), stderr);
    std::fflush(stderr);
}

Logger::Message Shader::initShader() {
    Logger::Message result;

    // A build always starts from fresh objects; release any left from a
    // build that was not cleaned.
    if (program != 0) {
        cleanShader();
    }

    program = glCreateProgram();
    vertexShader = glCreateShader(GL_VERTEX_SHADER);
    fragmentShader = glCreateShader(GL_FRAGMENT_SHADER);

    result = compileShader(GL_VERTEX_SHADER);
    if (result.error) {
        return result;
    }
    result = compileShader(GL_FRAGMENT_SHADER);
    if (result.error) {
        return result;
    }

    glAttachShader(program, vertexShader);
    glAttachShader(program, fragmentShader);
    attached = true;
    glLinkProgram(program);

    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status != GL_FALSE) {
        built = true;
        refreshUniforms();
        return result;
    }

    char log[LOG_SIZE] = {};
    glGetProgramInfoLog(program, LOG_SIZE, nullptr, log);
    result.error = true;
    result.text = log;
    reportFailure(vertexPath + " + " + fragmentPath, program, true);
    return result;
}

Logger::Message Shader::compileShader(uint32_t type) {
    Logger::Message result;

    const GLuint shader = glCreateShader(type);
    const std::string& source = type == GL_VERTEX_SHADER ? vertexSource : fragmentSource;
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);

    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != GL_FALSE) {
        // The compiled object replaces the stage's placeholder.
        uint32_t& stage = type == GL_VERTEX_SHADER ? vertexShader : fragmentShader;
        glDeleteShader(stage);
        stage = shader;
        return result;
    }

    char log[LOG_SIZE] = {};
    glGetShaderInfoLog(shader, LOG_SIZE, nullptr, log);
    result.error = true;
    result.text = log;
    reportFailure(type == GL_VERTEX_SHADER ? vertexPath : fragmentPath, shader, false);
    glDeleteShader(shader);
    return result;
}

void Shader::cleanShader() {
    if (attached) {
        glDetachShader(program, vertexShader);
        glDetachShader(program, fragmentShader);
        attached = false;
    }
    // Deleting name 0 is ignored by the GL.
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);
    glDeleteProgram(program);
    // Forget the names: a second clean must not delete objects that have
    // since been given the same names.
    vertexShader = 0;
    fragmentShader = 0;
    program = 0;
    built = false;
}

void Shader::initializeUniform(std::string variable, std::string track) {
    auto uniform = std::make_unique<UniformVariable>();
    uniform->track = std::move(track);
    uniform->variable = std::move(variable);
    uniformVariables.push_back(std::move(uniform));
}

void Shader::initializeUniforms(std::vector<Common::TrackVariableBond> bonds) {
    for (Common::TrackVariableBond& bond : bonds) {
        initializeUniform(std::move(bond.variable), std::move(bond.track));
    }
}

bool Shader::initializeTexture(std::string name) {
    // Binding past the limit would leave the sampler on whatever image the
    // last valid unit holds. Without a context the query answers nothing and
    // nothing is limited.
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &units);
    if (units > 0 && uniformTextures.size() >= static_cast<size_t>(units)) {
        return false;
    }
    auto texture = std::make_unique<UniformTexture>();
    texture->name = std::move(name);
    uniformTextures.push_back(std::move(texture));
    return true;
}

Logger::Message Shader::initializeTextures(std::vector<std::string> names) {
    Logger::Message result;
    std::string skipped;
    for (const std::string& name : names) {
        if (!initializeTexture(name)) {
            skipped += (skipped.empty() ? "" : ", ") + name;
        }
    }
    if (!skipped.empty()) {
        result.error = true;
        result.text = "textures past the GL's " + std::to_string(uniformTextures.size()) +
                      " texture units skipped: " + skipped;
    }
    return result;
}

void Shader::refreshUniforms() {
    for (const auto& uniform : uniformVariables) {
        uniform->location = glGetUniformLocation(program, uniform->variable.c_str());
    }
    for (const auto& texture : uniformTextures) {
        if (textureManager != nullptr) {
            textureManager->initializeTexture(texture->name);
        }
        texture->location = glGetUniformLocation(program, texture->name.c_str());
    }
}

void Shader::render(double time) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    // A failed build leaves nothing that can be made current: the frame is
    // the clear colour alone.
    if (!built) {
        return;
    }

    glUseProgram(program);

    for (const auto& uniform : uniformVariables) {
        if (uniform->track == "time") {
            glUniform1f(uniform->location, static_cast<float>(time));
        } else if (uniform->track == "resolution") {
            glUniform2f(uniform->location, static_cast<float>(width), static_cast<float>(height));
        } else if (cosmonaut != nullptr) {
            const Common::Gateway gateway = cosmonaut->getTrack(uniform->track);
            const double* values = gateway.values;
            switch (gateway.type) {
            case Common::FLOAT1:
                glUniform1f(uniform->location, static_cast<float>(values[0]));
                break;
            case Common::FLOAT2:
                glUniform2f(uniform->location, static_cast<float>(values[0]),
                            static_cast<float>(values[1]));
                break;
            case Common::FLOAT3:
                glUniform3f(uniform->location, static_cast<float>(values[0]),
                            static_cast<float>(values[1]), static_cast<float>(values[2]));
                break;
            default:
                break;
            }
        }
    }

    GLint unit = 0;
    for (const auto& sampler : uniformTextures) {
        // A name with no texture (no such asset, or an image that did not
        // decode) samples texture 0.
        const Texture* texture =
            textureManager != nullptr ? textureManager->getTexture(sampler->name) : nullptr;
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        glBindTexture(GL_TEXTURE_2D, texture != nullptr ? texture->id : 0);
        glUniform1i(sampler->location, unit);
        ++unit;
    }

    glBindVertexArray(vertexArray);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
    glUseProgram(0);
}

void Shader::setCosmonaut(Cosmonaut* cosmonaut) {
    this->cosmonaut = cosmonaut;
}

void Shader::setTextureManager(TextureManager* textureManager) {
    this->textureManager = textureManager;
}

void Shader::releaseGraphics() {
    cleanShader();
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteBuffers(1, &vertexBuffer);
    glDeleteBuffers(1, &elementBuffer);
    vertexArray = 0;
    vertexBuffer = 0;
    elementBuffer = 0;
}

} // namespace Tolvane
