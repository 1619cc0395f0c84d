#include "Helpers.h"

#include "Platform.h"

#include <GLFW/glfw3.h>

#include <fstream>
#include <iterator>

namespace Tolvane::Helpers {

std::string readFile(std::string path) {
    std::ifstream stream(Platform::filePath(path));
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

bool hasCurrentContext() {
    // Outside the window library's lifetime the query raises "not
    // initialized" through the error callback; silence the callback around
    // it, since not having a context is the answer we are asking for.
    GLFWerrorfun previous = glfwSetErrorCallback(nullptr);
    const bool current = glfwGetCurrentContext() != nullptr;
    glfwSetErrorCallback(previous);
    return current;
}

} // namespace Tolvane::Helpers
