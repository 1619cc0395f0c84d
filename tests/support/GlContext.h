#pragma once

// A hidden window with a current OpenGL 3.3 core context and loaded entry
// points, for tests that draw with the real GL (under the test's virtual
// display). Reads back what was drawn with glReadPixels.

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace Tolvane::Testing {

class GlContext {
public:
    // Opens a width x height window, invisible unless visible is set.
    GlContext(int width = 64, int height = 64, bool visible = false);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    bool ok() const { return window != nullptr; }
    GLFWwindow* handle() const { return window; }

    // RGBA of the pixel at (x, y), y counted from the top of the framebuffer.
    std::array<uint8_t, 4> pixel(int x, int y) const;
    // The whole framebuffer, top row first, 4 bytes a pixel.
    std::vector<uint8_t> pixels() const;
    int width() const { return w; }
    int height() const { return h; }

private:
    GLFWwindow* window = nullptr;
    int w = 0;
    int h = 0;
};

} // namespace Tolvane::Testing
