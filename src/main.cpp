// The player's entry point: reads the demo description, opens the window and
// its OpenGL context, starts the components in a fixed order, runs the frame
// loop until the window is asked to close, and shuts everything down. The
// keyboard controls and the playback callbacks the editor drives live here.

#include "Configuration.h"
#include "Cosmonaut.h"
#include "Helpers.h"
#include "Logger.h"
#include "Music.h"
#include "Shader.h"
#include "TextureManager.h"
#include "sync.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <lodepng.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

using namespace Tolvane;

// The components, constructed before main runs in this order and destroyed
// in the reverse order after it returns.
Configuration configurations;
Music music;
Cosmonaut cosmonaut;
Shader shader;
Logger logger;
TextureManager textureManager;

GLFWwindow* window = nullptr;
bool fullscreen = false;
const char* const VERSION = "1.4";

// The longest window side asked of the window system: X11 keeps window sizes
// in 16 bits, and no graphics card draws a larger framebuffer.
constexpr int MAX_WINDOW_SIDE = 32767;

// Writes the window library's errors to standard output.
void logError(int code, const char* description) {
    std::printf("glfw error: %d %s", code, description);
    std::fflush(stdout);
}

// Follows the framebuffer's size with the viewport.
void framebufferSizeCallback(GLFWwindow*, int width, int height) { glViewport(0, 0, width, height); }

// Rebuilds the shader program from its files, logging a build error.
void rebuildShader() {
    shader.cleanShader();
    const std::string fragment = Helpers::readFile(configurations.shaders.fragment);
    const std::string vertex = Helpers::readFile(configurations.shaders.vertex);
    shader.setSources(vertex, fragment);
    Logger::Message message;
    message = shader.initShader();
    if (message.error) {
        logger.write(Logger::ERROR, message.text);
    }
}

// Acts on key presses: C, F, R and S in editing mode, Escape in both modes.
void handleKeyboard(GLFWwindow* target, int key, int, int action, int) {
    if (action != GLFW_PRESS) {
        return;
    }
    if (key == GLFW_KEY_ESCAPE) {
        glfwSetWindowShouldClose(target, 1);
        return;
    }
    if (configurations.demo.release) {
        return;
    }
    switch (key) {
    case GLFW_KEY_C:
        logger.toggleEnable();
        break;
    case GLFW_KEY_F:
        if (fullscreen) {
            glfwRestoreWindow(target);
        } else {
            glfwMaximizeWindow(target);
        }
        fullscreen = !fullscreen;
        break;
    case GLFW_KEY_R:
        rebuildShader();
        break;
    case GLFW_KEY_S:
        music.silence();
        break;
    default:
        break;
    }
}

// The editor's pause (flag 1) and play (any other flag).
void musicPause(void*, int flag) {
    if (flag == 1) {
        music.pause();
    } else {
        music.play();
    }
}

// The editor's seek: data points at the row rate in rows per second.
void musicSetRow(void* data, int row) {
    const double rowRate = *static_cast<const double*>(data);
    music.seek(static_cast<double>(row) / rowRate);
}

// Tells the editor whether the music plays.
int musicPlaying(void*) { return music.isPlaying() ? 1 : 0; }

// Gives the window the PNG icon when the file decodes; otherwise keeps the default.
void setIcon(const std::string& path) {
    std::vector<unsigned char> pixels;
    unsigned width = 0;
    unsigned height = 0;
    if (lodepng::decode(pixels, width, height, path, LCT_RGBA, 8) != 0) {
        return;
    }
    GLFWimage icon;
    icon.width = static_cast<int>(width);
    icon.height = static_cast<int>(height);
    icon.pixels = pixels.data();
    glfwSetWindowIcon(window, 1, &icon);
}

// Writes the start-up banner to the log.
void writeBanner() {
    const auto glString = [](GLenum name) {
        const GLubyte* text = glGetString(name);
        return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
    };
    const Common::Shaders& shaders = configurations.shaders;
    logger.write(Logger::INFO, std::string("tolvane version: ") + VERSION);
    logger.write(Logger::INFO, "opengl vendor:   " + glString(GL_VENDOR));
    logger.write(Logger::INFO, "opengl renderer  " + glString(GL_RENDERER));
    logger.write(Logger::INFO, "opengl version:  " + glString(GL_VERSION));
    logger.write(Logger::INFO, "shading version: " + glString(GL_SHADING_LANGUAGE_VERSION));
    logger.write(Logger::INFO, "context version  " + std::to_string(shaders.majorVersion) + "." +
                                   std::to_string(shaders.minorVersion));
    logger.write(Logger::INFO, "audio version:   " + std::to_string(Music::backendVersion()));
}

// Runs frames until the window is asked to close.
void mainLoop() {
    while (!glfwWindowShouldClose(window)) {
        const double t = music.position();
        cosmonaut.update(t);
        shader.render(t);
        logger.render();
        glfwSwapBuffers(window);
        glfwPollEvents();
        if (configurations.demo.release && music.hasMusicEnded()) {
            glfwSetWindowShouldClose(window, 1);
        }
    }
}

// Releases the window and the components that need explicit release. The GL
// objects of the shader, the textures and the log go first, while the
// window's context is still current.
void cleanUp() {
    shader.releaseGraphics();
    textureManager.releaseGraphics();
    logger.releaseGraphics();
    glfwDestroyWindow(window);
    window = nullptr;
    cosmonaut.cleanUp();
    music.cleanUp();
    glfwTerminate();
}

int main(int argc, char** argv) {
    std::string path = "configuration.json";
    if (argc > 1) {
        path = argv[1];
    }
    configurations.read(path);
#ifdef SIGXFSZ
    // A save beyond the file-size limit then fails like any failed write
    // instead of killing the player with the edits it holds.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    const Common::Demo& demo = configurations.demo;
    const Common::Shaders& shaders = configurations.shaders;
    if (shaders.vertex.empty() || shaders.fragment.empty()) {
        std::printf("provide vertex and fragment shaders in configuration file");
        return 1;
    }

    if (!glfwInit()) {
        std::printf("glfwInit failed");
        return -1;
    }
    glfwSetErrorCallback(logError);

    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, shaders.majorVersion);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, shaders.minorVersion);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);

    const std::string title = demo.group + " : " + demo.name;
    GLFWmonitor* monitor = demo.release ? glfwGetPrimaryMonitor() : nullptr;
    // The window library reports a zero size itself but stops the program on
    // a negative one, and passes sizes beyond the window system's on.
    if (demo.width <= 0 || demo.height <= 0 || demo.width > MAX_WINDOW_SIDE || demo.height > MAX_WINDOW_SIDE) {
        const std::string size = std::to_string(demo.width) + "x" + std::to_string(demo.height);
        logError(GLFW_INVALID_VALUE, ("Invalid window size " + size).c_str());
        std::printf("window creation failed");
        glfwTerminate();
        return -1;
    }
    window = glfwCreateWindow(demo.width, demo.height, title.c_str(), monitor, nullptr);
    if (window == nullptr) {
        std::printf("window creation failed");
        glfwTerminate();
        return -1;
    }

    setIcon(demo.icon);
    if (demo.release) {
        glfwSetInputMode(window, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
    }
    glfwSetKeyCallback(window, handleKeyboard);
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);

    // Core-profile contexts need the loader to look up every entry point.
    glewExperimental = GL_TRUE;
    const GLenum glewStatus = glewInit();
    if (glewStatus != GLEW_OK) {
        std::printf("glew error: %s", reinterpret_cast<const char*>(glewGetErrorString(glewStatus)));
        glfwDestroyWindow(window);
        window = nullptr;
        glfwTerminate();
        return -1;
    }

    glViewport(0, 0, demo.width, demo.height);
    glfwSetFramebufferSizeCallback(window, framebufferSizeCallback);

    logger.initialize(25, 0.0f, static_cast<float>(demo.height), !demo.release);
    writeBanner();

    textureManager.setTextures(configurations.assets);
    textureManager.initializeTextures();

    // A release-mode demo without its tune can only end by Escape: say why.
    if (!music.initialize(configurations.tune.frequency, configurations.tune.file) && demo.release) {
        std::fprintf(stderr, "no music: %s; the demo runs until Escape is pressed\n", music.failure().c_str());
    }

    // The playback callbacks the editor drives; the table outlives the loop.
    sync_cb callbacks;
    callbacks.pause = musicPause;
    callbacks.set_row = musicSetRow;
    callbacks.is_playing = musicPlaying;
    cosmonaut.initialize(configurations.tune.BPM, configurations.sync.RPB);
    if (!demo.release) {
        cosmonaut.connectPlayer(configurations.sync.host);
    }
    cosmonaut.setFunctions(&callbacks);
    cosmonaut.setTracks(configurations.tracks);

    shader.initialize(static_cast<uint32_t>(demo.width), static_cast<uint32_t>(demo.height));
    const std::string fragment = Helpers::readFile(shaders.fragment);
    const std::string vertex = Helpers::readFile(shaders.vertex);
    shader.setSources(vertex, fragment);
    shader.initializeTextures(shaders.textures);
    shader.initializeUniforms(shaders.uniforms);
    shader.setCosmonaut(&cosmonaut);
    shader.setTextureManager(&textureManager);
    Logger::Message message;
    message = shader.initShader();
    if (message.error) {
        logger.write(Logger::ERROR, message.text);
    }

    music.play();
    mainLoop();
    cleanUp();
    return 0;
}
