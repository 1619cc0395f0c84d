// The player's entry point: reads the demo description, opens the window and
// its OpenGL context, starts the components in a fixed order, runs the frame
// loop until the window is asked to close, and shuts everything down. The
// keyboard controls and the playback callbacks the editor drives live here.

#include "Configuration.h"
#include "Cosmonaut.h"
#include "Helpers.h"
#include "Logger.h"
#include "Music.h"
#include "Platform.h"
#include "Shader.h"
#include "ShaderWatcher.h"
#include "TextureManager.h"
#include "sync.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
// Editing mode rebuilds the shader when its files are saved.
ShaderWatcher shaderWatcher;
const char* const VERSION = TOLVANE_VERSION;

const char* const USAGE =
    "Usage: tolvane [CONFIGURATION | FOLDER]\n"
    "       tolvane --help | --version\n"
    "\n"
    "Plays a demo: its tune, and a full-screen fragment shader whose uniforms\n"
    "follow keyframed sync tracks.\n"
    "\n"
    "  CONFIGURATION  the demo's JSON file (default: configuration.json); paths\n"
    "                 in it are relative to the working directory\n"
    "  FOLDER         a demo folder: its configuration.json is read and paths in\n"
    "                 it, track files too, are relative to the folder\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Keys: Escape quits. In editing mode (\"release\": false) also C (log),\n"
    "F (maximise), R (rebuild the shaders) and S (silence); the shaders are\n"
    "rebuilt on their own when their files are saved.\n"
    "\n"
    "See tolvane(1) for the configuration keys and exit statuses.\n";

// The longest window side asked of the window system: X11 keeps window sizes
// in 16 bits, and no graphics card draws a larger framebuffer.
constexpr int MAX_WINDOW_SIDE = 32767;
// The longest icon side: an X server refuses a request over 16 MiB (an icon
// of 2048 pixels square, 4 bytes a pixel) and the program ends on it.
constexpr uint32_t MAX_ICON_SIDE = 1024;

// Writes the window library's errors to standard output.
void logError(int code, const char* description) {
    std::printf("glfw error: %d %s", code, description);
    std::fflush(stdout);
}

// Follows the framebuffer's size with the viewport.
void framebufferSizeCallback(GLFWwindow*, int width, int height) {
    glViewport(0, 0, width, height);
}

// Rebuilds the shader program from these sources, logging a build error.
void rebuildShader(const std::string& vertex, const std::string& fragment) {
    shader.cleanShader();
    shader.setSources(vertex, fragment);
    const Logger::Message message = shader.initShader();
    if (message.error) {
        logger.write(Logger::ERROR, message.text);
    }
}

// Rebuilds the shader program from its files as they are now (the R key),
// logging a file that cannot be read or a build error.
void rebuildShader() {
    shader.cleanShader();
    Logger::Message message =
        shader.readSources(configurations.shaders.vertex, configurations.shaders.fragment);
    if (!message.error) {
        message = shader.initShader();
    }
    if (message.error) {
        logger.write(Logger::ERROR, message.text);
    }
}

// Rebuilds after a shader file was saved. A file that reads empty or not at
// all is taken for a save still under way: the next save event tries again,
// and nothing is logged meanwhile.
void rebuildOnSave() {
    std::string fragment;
    std::string vertex;
    std::string error;
    if (Helpers::readFile(configurations.shaders.fragment, fragment, error) && !fragment.empty() &&
        Helpers::readFile(configurations.shaders.vertex, vertex, error) && !vertex.empty()) {
        rebuildShader(vertex, fragment);
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
int musicPlaying(void*) {
    return music.isPlaying() ? 1 : 0;
}

// Gives the window the PNG icon when the file decodes; otherwise keeps the default.
void setIcon(const std::string& path) {
    std::vector<unsigned char> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    if (!TextureManager::decodeImage(path, pixels, width, height, MAX_ICON_SIDE)) {
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

// Says what the configuration reader left out: on the console in release
// mode, where the log is hidden, else in the log.
void reportRefusedEntries() {
    for (const std::string& reason : configurations.refused) {
        if (configurations.demo.release) {
            std::fprintf(stderr, "%s\n", reason.c_str());
        } else {
            logger.write(Logger::ERROR, reason);
        }
    }
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
        if (shaderWatcher.poll()) {
            rebuildOnSave();
        }
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

// Undoes what openWindow has done so far: the one way out of its failures.
void terminateWindow() {
    if (window != nullptr) {
        glfwDestroyWindow(window);
        window = nullptr;
    }
    glfwTerminate();
}

// Starts the window library and opens the window with its OpenGL context
// and entry points. On failure writes why to standard output, undoes it all
// and returns false.
bool openWindow() {
    const Common::Demo& demo = configurations.demo;
    const Common::Shaders& shaders = configurations.shaders;
    if (!glfwInit()) {
        std::printf("glfwInit failed");
        terminateWindow();
        return false;
    }
    glfwSetErrorCallback(logError);

    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, shaders.majorVersion);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, shaders.minorVersion);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);

    const std::string title = demo.group + " : " + demo.name;
    GLFWmonitor* monitor = demo.release ? glfwGetPrimaryMonitor() : nullptr;
    // The window library reports a zero size itself but stops the program on
    // a negative one, and passes sizes beyond the window system's on.
    if (demo.width <= 0 || demo.height <= 0 || demo.width > MAX_WINDOW_SIDE ||
        demo.height > MAX_WINDOW_SIDE) {
        const std::string size = std::to_string(demo.width) + "x" + std::to_string(demo.height);
        logError(GLFW_INVALID_VALUE, ("Invalid window size " + size).c_str());
    } else {
        window = glfwCreateWindow(demo.width, demo.height, title.c_str(), monitor, nullptr);
    }
    if (window == nullptr) {
        std::printf("window creation failed");
        terminateWindow();
        return false;
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
        std::printf("glew error: %s",
                    reinterpret_cast<const char*>(glewGetErrorString(glewStatus)));
        terminateWindow();
        return false;
    }

    glViewport(0, 0, demo.width, demo.height);
    glfwSetFramebufferSizeCallback(window, framebufferSizeCallback);
    return true;
}

// Starts the components in their fixed order, up to a built (or logged)
// shader program. callbacks must outlive the frame loop.
void startComponents(sync_cb& callbacks, const std::string& demoFolder) {
    const Common::Demo& demo = configurations.demo;
    const Common::Shaders& shaders = configurations.shaders;
    logger.initialize(25, 0.0f, static_cast<float>(demo.height), !demo.release);
    writeBanner();
    reportRefusedEntries();

    textureManager.setTextures(configurations.assets);
    textureManager.initializeTextures();

    // A release-mode demo without its tune can only end by Escape: say why.
    if (!music.initialize(configurations.tune.frequency, configurations.tune.file) &&
        demo.release) {
        std::fprintf(stderr, "no music: %s; the demo runs until Escape is pressed\n",
                     music.failure().c_str());
    }

    callbacks.pause = musicPause;
    callbacks.set_row = musicSetRow;
    callbacks.is_playing = musicPlaying;
    cosmonaut.initialize(configurations.tune.BPM, configurations.sync.RPB, demoFolder);
    if (!demo.release) {
        cosmonaut.connectPlayer(configurations.sync.host);
    }
    cosmonaut.setFunctions(&callbacks);
    cosmonaut.setTracks(configurations.tracks);

    Logger::Message skipped;
    const Logger::Message message =
        shader.setUp(shaders, static_cast<uint32_t>(demo.width), static_cast<uint32_t>(demo.height),
                     &cosmonaut, &textureManager, &skipped);
    if (skipped.error) {
        logger.write(Logger::ERROR, skipped.text);
    }
    if (message.error) {
        logger.write(Logger::ERROR, message.text);
    }
    if (!demo.release) {
        shaderWatcher.watch({shaders.vertex, shaders.fragment});
    }
}

// Reads the demo named on the command line: a configuration file (paths in
// it relative to the working directory), or a folder holding
// configuration.json (paths relative to the folder). Returns the folder, or
// the empty string for a file.
std::string readDemo(const std::vector<std::string>& arguments) {
    const std::string argument = arguments.size() > 1 ? arguments[1] : "configuration.json";
    std::error_code error;
    if (!std::filesystem::is_directory(Platform::filePath(argument), error)) {
        configurations.read(argument);
        return std::string();
    }
    configurations.read((Platform::filePath(argument) / "configuration.json").u8string());
    configurations.resolvePaths(argument);
    return argument;
}

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = Platform::arguments(argc, argv);
    if (arguments.size() > 1 && arguments[1] == "--help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (arguments.size() > 1 && arguments[1] == "--version") {
        std::printf("tolvane %s\n", VERSION);
        return 0;
    }
    const std::string demoFolder = readDemo(arguments);
#ifdef SIGXFSZ
    // A save beyond the file-size limit then fails like any failed write
    // instead of killing the player with the edits it holds.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    const Common::Shaders& shaders = configurations.shaders;
    if (shaders.vertex.empty() || shaders.fragment.empty()) {
        std::printf("provide vertex and fragment shaders in configuration file");
        return 1;
    }
    if (!openWindow()) {
        return -1;
    }

    // The playback callbacks the editor drives; the table outlives the loop.
    sync_cb callbacks;
    startComponents(callbacks, demoFolder);
    music.play();
    mainLoop();
    cleanUp();
    return 0;
}
