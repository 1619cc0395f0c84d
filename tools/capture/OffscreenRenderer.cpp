#include "OffscreenRenderer.h"
#include "Platform.h"

#include "sync.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace Tolvane::Capture {

namespace {

// The window library's description of its last error, or fallback.
std::string windowSystemError(const char* fallback) {
    const char* description = nullptr;
    glfwGetError(&description);
    return description != nullptr ? description : fallback;
}

// Whether a shader file can be read, with a reason in error when not.
bool checkSourceFile(const std::string& path, const char* stage, std::string& error) {
    std::error_code code;
    if (std::filesystem::is_regular_file(Platform::filePath(path), code)) {
        return true;
    }
    error = std::string("cannot read the ") + stage + " shader \"" + path +
            "\" (paths in the configuration are relative to the working directory)";
    return false;
}

} // namespace

OffscreenRenderer::OffscreenRenderer() = default;

OffscreenRenderer::~OffscreenRenderer() {
    close();
}

bool OffscreenRenderer::open(const Configuration& configuration, int width, int height,
                             std::string& error, std::vector<std::string>& warnings) {
    const Common::Shaders& shaders = configuration.shaders;
    if (shaders.vertex.empty() || shaders.fragment.empty()) {
        error = "provide vertex and fragment shaders in configuration file";
        return false;
    }
    if (!checkSourceFile(shaders.vertex, "vertex", error) ||
        !checkSourceFile(shaders.fragment, "fragment", error)) {
        return false;
    }

    if (!glfwInit()) {
        error = "cannot start the window system: " + windowSystemError("no reason given") +
                " (a display is needed, a virtual one such as Xvfb will do)";
        return false;
    }
    windowSystemUp = true;
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, shaders.majorVersion);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, shaders.minorVersion);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    // The window only carries the context; frames go to the framebuffer
    // object, so its own surface stays tiny.
    window = glfwCreateWindow(16, 16, "tolvane-capture", nullptr, nullptr);
    if (window == nullptr) {
        error = "cannot open an OpenGL " + std::to_string(shaders.majorVersion) + "." +
                std::to_string(shaders.minorVersion) +
                " core context: " + windowSystemError("no reason given");
        return false;
    }
    glfwMakeContextCurrent(window);
    glewExperimental = GL_TRUE;
    const GLenum glewStatus = glewInit();
    if (glewStatus != GLEW_OK) {
        error = std::string("cannot load the OpenGL entry points: ") +
                reinterpret_cast<const char*>(glewGetErrorString(glewStatus));
        return false;
    }
    glLoaded = true;
    // The loader may leave an error behind on core contexts.
    while (glGetError() != GL_NO_ERROR) {
    }

    frameWidth = width;
    frameHeight = height;
    if (!createFramebuffer(error)) {
        return false;
    }

    textureManager.setTextures(configuration.assets);
    textureManager.initializeTextures();
    checkTextures(configuration, warnings);

    // No editor link and no playback callbacks: the tracks come from their
    // files and nothing can seek or pause the capture.
    cosmonaut.initialize(configuration.tune.BPM, configuration.sync.RPB);
    cosmonautUp = true;
    cosmonaut.setFunctions(nullptr);
    cosmonaut.setTracks(configuration.tracks);
    checkTracks(configuration, warnings);

    const Logger::Message message =
        shader.setUp(shaders, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                     &cosmonaut, &textureManager);
    if (message.error) {
        // A capture of the clear colour is of no use to anyone. The shader
        // has written the GL's whole log to stderr, line by line.
        error = "the shader program does not build (the GL's log is above)";
        return false;
    }
    return true;
}

bool OffscreenRenderer::createFramebuffer(std::string& error) {
    GLint maxRenderbuffer = 0;
    GLint maxViewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxViewport);
    const int maxWidth = std::min(maxRenderbuffer, maxViewport[0]);
    const int maxHeight = std::min(maxRenderbuffer, maxViewport[1]);
    if (frameWidth > maxWidth || frameHeight > maxHeight) {
        sizeTooLarge = true;
        error = "bad size " + std::to_string(frameWidth) + "x" + std::to_string(frameHeight) +
                ": this OpenGL draws at most " + std::to_string(maxWidth) + "x" +
                std::to_string(maxHeight);
        return false;
    }

    glGenRenderbuffers(1, &colourBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, colourBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, frameWidth, frameHeight);
    const bool outOfMemory = glGetError() == GL_OUT_OF_MEMORY;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffer);
    if (outOfMemory || glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        sizeTooLarge = true;
        error = "bad size " + std::to_string(frameWidth) + "x" + std::to_string(frameHeight) +
                ": OpenGL cannot make a framebuffer that large";
        return false;
    }
    glViewport(0, 0, frameWidth, frameHeight);
    bottomUp.resize(static_cast<size_t>(frameWidth) * frameHeight * 4);
    return true;
}

void OffscreenRenderer::checkTracks(const Configuration& configuration,
                                    std::vector<std::string>& warnings) {
    for (const Common::Track& track : configuration.tracks) {
        const Common::Gateway gateway = cosmonaut.getTrack(track.name);
        const std::vector<std::string> names = Cosmonaut::syncTrackNames(track);
        for (size_t c = 0; c < names.size(); ++c) {
            const std::string path = sync_track_path(Cosmonaut::TRACK_FILE_BASE, names[c].c_str());
            std::error_code code;
            if (!std::filesystem::exists(Platform::filePath(path), code)) {
                warnings.push_back("no track file \"" + path +
                                   "\" in the working directory: track \"" + names[c] +
                                   "\" reads 0");
            } else if (gateway.tracks[c] != nullptr && gateway.tracks[c]->key_count == 0 &&
                       std::filesystem::file_size(Platform::filePath(path), code) > 4) {
                // Files that hold keys but loaded none were refused whole.
                warnings.push_back("track file \"" + path + "\" is damaged: track \"" + names[c] +
                                   "\" reads 0");
            }
        }
    }
}

void OffscreenRenderer::checkTextures(const Configuration& configuration,
                                      std::vector<std::string>& warnings) {
    for (const std::string& name : configuration.shaders.textures) {
        if (textureManager.getTexture(name) == nullptr) {
            warnings.push_back(
                "texture \"" + name +
                "\" has no asset of that name or its image does not decode: it samples black");
        }
    }
}

void OffscreenRenderer::render(double seconds) {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, frameWidth, frameHeight);
    cosmonaut.update(seconds);
    shader.render(seconds);
}

void OffscreenRenderer::readBack(std::vector<uint8_t>& pixels) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frameWidth, frameHeight, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    // GL rows run bottom-up; pictures run top-down.
    const size_t stride = static_cast<size_t>(frameWidth) * 4;
    pixels.resize(bottomUp.size());
    for (int y = 0; y < frameHeight; ++y) {
        std::memcpy(&pixels[static_cast<size_t>(y) * stride],
                    &bottomUp[static_cast<size_t>(frameHeight - 1 - y) * stride], stride);
    }
}

void OffscreenRenderer::close() {
    if (glLoaded) {
        shader.releaseGraphics();
        textureManager.releaseGraphics();
        if (framebuffer != 0) {
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            glDeleteFramebuffers(1, &framebuffer);
            framebuffer = 0;
        }
        if (colourBuffer != 0) {
            glDeleteRenderbuffers(1, &colourBuffer);
            colourBuffer = 0;
        }
        glLoaded = false;
    }
    if (window != nullptr) {
        glfwDestroyWindow(window);
        window = nullptr;
    }
    if (cosmonautUp) {
        cosmonaut.cleanUp();
        cosmonautUp = false;
    }
    if (windowSystemUp) {
        glfwTerminate();
        windowSystemUp = false;
    }
}

} // namespace Tolvane::Capture
