#include "Helpers.h"

#include "Platform.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace Tolvane::Helpers {

namespace {

// Closes a file descriptor when the read is over, whichever way it ends.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

// Reads up to limit + 1 bytes: one more than allowed tells a file that grew
// past the limit since it was measured.
bool readAll(int fd, std::string& contents, std::string& error, std::size_t limit) {
    char block[65536];
    while (contents.size() <= limit) {
        const ssize_t n = read(fd, block, std::min(sizeof block, limit + 1 - contents.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0) {
            return true;
        }
        contents.append(block, static_cast<std::size_t>(n));
    }
    error = "larger than " + std::to_string(limit) + " bytes";
    return false;
}

} // namespace

bool readFile(const std::string& path, std::string& contents, std::string& error,
              std::size_t limit) {
    contents.clear();
    error.clear();
    // Non-blocking, so that opening a FIFO with no writer returns at once;
    // it is refused below like every file that is not a regular one.
    const Descriptor file{Platform::openForReading(path)};
    if (file.fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (fstat(file.fd, &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? "a directory, not a file" : "not a regular file";
        return false;
    }
    if (static_cast<unsigned long long>(status.st_size) > limit) {
        error = "larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    if (!readAll(file.fd, contents, error, limit)) {
        contents.clear();
        return false;
    }
    return true;
}

std::string readFile(std::string path) {
    std::string contents;
    std::string error;
    readFile(path, contents, error);
    return contents;
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
