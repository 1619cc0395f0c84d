// The player's entry point: reads the demo description, opens the window and
// its OpenGL context, starts the components in a fixed order, runs the frame
// loop until the window is asked to close, and shuts everything down.

#include "Configuration.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <lodepng.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace Tolvane;

// The components, constructed before main runs and destroyed after it returns.
Configuration configurations;

GLFWwindow* window = nullptr;
bool fullscreen = false;
const char* const VERSION = "1.4";

// Writes the window library's errors to standard output.
void logError(int code, const char* description) {
    std::printf("glfw error: %d %s", code, description);
    std::fflush(stdout);
}

// Follows the framebuffer's size with the viewport.
void framebufferSizeCallback(GLFWwindow*, int width, int height) { glViewport(0, 0, width, height); }

// Acts on key presses: Escape closes the window in both modes.
void handleKeyboard(GLFWwindow* target, int key, int, int action, int) {
    if (action != GLFW_PRESS) {
        return;
    }
    if (key == GLFW_KEY_ESCAPE) {
        glfwSetWindowShouldClose(target, 1);
    }
}

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

// Runs frames until the window is asked to close.
void mainLoop() {
    while (!glfwWindowShouldClose(window)) {
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glfwSwapBuffers(window);
        glfwPollEvents();
    }
}

// Releases the window and the components that need explicit release.
void cleanUp() {
    glfwDestroyWindow(window);
    window = nullptr;
    glfwTerminate();
}

int main(int argc, char** argv) {
    std::string path = "configuration.json";
    if (argc > 1) {
        path = argv[1];
    }
    configurations.read(path);

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

    // Logger and banner, textures, music, sync driver and shader follow here.

    mainLoop();
    cleanUp();
    return 0;
}
