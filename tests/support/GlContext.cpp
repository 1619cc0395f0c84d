#include "GlContext.h"

#include <dlfcn.h>
#include <link.h>

#include <string>

namespace Tolvane::Testing {

namespace {

// The GL driver is unloaded when the window library terminates, and the leak
// checker can then no longer name the driver's own lifetime allocations in
// order to suppress them. Keep every loaded driver module resident.
void pinGlDriver() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            const std::string path = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (path.find("/dri/") != std::string::npos) {
                dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            }
            return 0;
        },
        nullptr);
}

} // namespace

GlContext::GlContext(int width, int height, bool visible) : w(width), h(height) {
    if (!glfwInit()) {
        return;
    }
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_VISIBLE, visible ? GLFW_TRUE : GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    window = glfwCreateWindow(width, height, "test", nullptr, nullptr);
    if (window == nullptr) {
        glfwTerminate();
        return;
    }
    glfwMakeContextCurrent(window);
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK) {
        glfwDestroyWindow(window);
        window = nullptr;
        glfwTerminate();
        return;
    }
    pinGlDriver();
    glfwGetFramebufferSize(window, &w, &h);
    glViewport(0, 0, w, h);
}

GlContext::~GlContext() {
    if (window != nullptr) {
        glfwDestroyWindow(window);
        glfwTerminate();
    }
}

std::array<uint8_t, 4> GlContext::pixel(int x, int y) const {
    std::array<uint8_t, 4> rgba{};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, h - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

std::vector<uint8_t> GlContext::pixels() const {
    std::vector<uint8_t> bottomUp(static_cast<size_t>(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<uint8_t> topDown(bottomUp.size());
    const size_t row = static_cast<size_t>(w) * 4;
    for (int y = 0; y < h; ++y) {
        std::copy_n(bottomUp.begin() + static_cast<long>((h - 1 - y) * row), row,
                    topDown.begin() + static_cast<long>(y * row));
    }
    return topDown;
}

} // namespace Tolvane::Testing
