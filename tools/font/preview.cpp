// Draws the built-in font as it appears on screen and writes what was drawn
// to PNG files in the output directory:
//   font-charset.png      every character at scale 1, with sample sentences
//   font-charset-x4.png   the same, enlarged four times (nearest neighbour)
//   font-log.png          an 800x600 frame with a start-up banner and a real
//                         shader compiler error in the on-screen log
// Run it under an X display, e.g. tests/support/with-display.sh.

#include "Logger.h"
#include "text/overlay.h"

#include <GLFW/glfw3.h>
#include <lodepng.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> readFramebuffer(int width, int height) {
    std::vector<unsigned char> bottomUp(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<unsigned char> image(bottomUp.size());
    const size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        std::copy_n(bottomUp.begin() + static_cast<long>((height - 1 - y) * row), row,
                    image.begin() + static_cast<long>(y * row));
    }
    // The overlay writes its texels' alpha too; show the picture as seen.
    for (size_t i = 3; i < image.size(); i += 4) {
        image[i] = 255;
    }
    return image;
}

std::vector<unsigned char> enlarge(const std::vector<unsigned char>& image, int width, int height,
                                   int factor) {
    std::vector<unsigned char> big(image.size() * factor * factor);
    const int bigWidth = width * factor;
    for (int y = 0; y < height * factor; ++y) {
        for (int x = 0; x < bigWidth; ++x) {
            const size_t from = (static_cast<size_t>(y / factor) * width + x / factor) * 4;
            const size_t to = (static_cast<size_t>(y) * bigWidth + x) * 4;
            std::copy_n(image.begin() + static_cast<long>(from), 4,
                        big.begin() + static_cast<long>(to));
        }
    }
    return big;
}

bool save(const std::string& path, const std::vector<unsigned char>& image, int width, int height) {
    if (lodepng::encode(path, image, static_cast<unsigned>(width), static_cast<unsigned>(height)) !=
        0) {
        std::fprintf(stderr, "font_preview: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

// A picture to draw over: colour bands like a demo's frame would have.
void paintBackground(int width, int height) {
    glEnable(GL_SCISSOR_TEST);
    const float colours[][3] = {{0.85f, 0.35f, 0.2f}, {0.2f, 0.55f, 0.85f}, {0.9f, 0.85f, 0.3f},
                                {0.3f, 0.7f, 0.4f},   {0.6f, 0.3f, 0.7f},   {0.95f, 0.95f, 0.95f}};
    const int bands = static_cast<int>(sizeof(colours) / sizeof(colours[0]));
    for (int i = 0; i < bands; ++i) {
        glScissor(i * width / bands, 0, width / bands + 1, height);
        glClearColor(colours[i][0], colours[i][1], colours[i][2], 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);
}

// The info log of a fragment shader with a typical mistake in it.
std::string compilerError() {
    const char* source = "#version 330 core\n"
                         "out vec4 fragColor;\n"
                         "uniform float time;\n"
                         "void main()\n"
                         "{\n"
                         "    fragColor = vec4(colour_r, sin(time), 0.0, 1.0);\n"
                         "}\n";
    GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    glGetShaderInfoLog(shader, length, nullptr, log.data());
    glDeleteShader(shader);
    log.resize(log.find('\0'));
    while (!log.empty() && log.back() == '\n') {
        log.pop_back();
    }
    return log;
}

bool drawCharset(const std::string& directory, int width, int height) {
    const char* lines[] = {
        " abcdefghijklmnopqrstuvwxyz",
        " ABCDEFGHIJKLMNOPQRSTUVWXYZ",
        " 0123456789 .,!?-+/():;%&`*#=[]\"",
        "",
        " The quick brown fox jumps over the lazy dog.",
        " PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS! (1234567890)",
        " 0:12(5): error: syntax error, unexpected IDENTIFIER",
        " shading version: 4.50 - fragColor = texture(diffuse, uv) * 0.5;",
        " [INFO] opengl renderer  llvmpipe (LLVM 15.0.6, 256 bits)",
        " a+b=c; x*y%3 [ok] \"quoted\" `tick` #define &amp",
        " Il1| O0o gqpyj ,.;: rnm vw il1 ii ll 11 jj",
    };
    glViewport(0, 0, width, height);
    paintBackground(width, height);
    gltBeginDraw();
    gltColor(1.0f, 1.0f, 1.0f, 1.0f);
    float y = 4.0f;
    std::vector<GLTtext*> texts;
    for (const char* line : lines) {
        GLTtext* text = gltCreateText();
        gltSetText(text, line);
        gltDrawText2D(text, 4.0f, y, 1.0f);
        texts.push_back(text);
        y += gltGetLineHeight(1.0f) + 2.0f;
    }
    gltEndDraw();
    std::vector<unsigned char> image = readFramebuffer(width, height);
    for (GLTtext* text : texts) {
        gltDeleteText(text);
    }
    return save(directory + "/font-charset.png", image, width, height) &&
           save(directory + "/font-charset-x4.png", enlarge(image, width, height, 4), width * 4,
                height * 4);
}

bool drawLog(const std::string& directory, GLFWwindow* window, int width, int height) {
    glfwSetWindowSize(window, width, height);
    glViewport(0, 0, width, height);
    Tolvane::Logger logger;
    logger.initialize(25, 0.0f, static_cast<float>(height), true);
    logger.write(Tolvane::Logger::INFO, "tolvane 1.4");
    logger.write(Tolvane::Logger::INFO, std::string("opengl vendor:   ") +
                                            reinterpret_cast<const char*>(glGetString(GL_VENDOR)));
    logger.write(Tolvane::Logger::INFO,
                 std::string("opengl renderer  ") +
                     reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    logger.write(Tolvane::Logger::INFO, std::string("opengl version:  ") +
                                            reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    logger.write(Tolvane::Logger::INFO,
                 std::string("shading version: ") +
                     reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION)));
    logger.write(Tolvane::Logger::INFO, "context version  3.3");
    logger.write(Tolvane::Logger::ERROR, compilerError());
    paintBackground(width, height);
    logger.render();
    std::vector<unsigned char> image = readFramebuffer(width, height);
    logger.releaseGraphics();
    return save(directory + "/font-log.png", image, width, height) &&
           save(directory + "/font-log-x2.png", enlarge(image, width, height, 2), width * 2,
                height * 2);
}

} // namespace

int main(int argc, char** argv) {
    const std::string directory = argc > 1 ? argv[1] : ".";
    if (!glfwInit()) {
        std::fprintf(stderr, "font_preview: no display\n");
        return 1;
    }
    const int width = 640;
    const int height = 216;
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* window = glfwCreateWindow(800, 600, "font preview", nullptr, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "font_preview: no GL 3.3 window\n");
        glfwTerminate();
        return 1;
    }
    glfwMakeContextCurrent(window);
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK || !gltInit()) {
        std::fprintf(stderr, "font_preview: text renderer failed to start\n");
        glfwTerminate();
        return 1;
    }
    const bool ok = drawCharset(directory, width, height) && drawLog(directory, window, 800, 600);
    gltTerminate();
    glfwDestroyWindow(window);
    glfwTerminate();
    return ok ? 0 : 1;
}
