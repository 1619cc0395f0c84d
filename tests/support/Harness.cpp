#include "Harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <lodepng.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace Tolvane::Testing {

namespace {

void sleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

// Xlib reports errors through a handler that exits by default; a window that
// goes away between two calls must not end the test.
int ignoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

// The first item of a window's CARDINAL property; none when the window does
// not have the property or it holds no 32-bit item.
std::optional<long> cardinalProperty(Display* display, Window window, const char* name) {
    Atom atom = XInternAtom(display, name, True);
    if (atom == None) {
        return std::nullopt;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<long> value;
    if (XGetWindowProperty(display, window, atom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr && count == 1 && format == 32) {
        value = *reinterpret_cast<long*>(data);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return value;
}

// Depth-first search for a viewable window owned by pid (reparenting window
// managers put client windows below frames).
Window findWindowOf(Display* display, Window root, long pid) {
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) {
        return 0;
    }
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        XWindowAttributes attributes;
        if (cardinalProperty(display, children[i], "_NET_WM_PID") == pid &&
            XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable) {
            found = children[i];
        } else {
            found = findWindowOf(display, children[i], pid);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

} // namespace

std::array<uint8_t, 4> Image::at(int x, int y) const {
    const size_t offset = (static_cast<size_t>(y) * width + x) * 4;
    return {rgba[offset], rgba[offset + 1], rgba[offset + 2], rgba[offset + 3]};
}

bool Image::savePng(const std::string& path) const {
    return lodepng::encode(path, rgba, static_cast<unsigned>(width),
                           static_cast<unsigned>(height)) == 0;
}

std::string passThroughVertexShader() {
    return "#version 330 core\n"
           "layout(location = 0) in vec3 position;\n"
           "void main() { gl_Position = vec4(position, 1.0); }\n";
}

std::string placeVertexShader() {
    return "#version 330 core\n"
           "layout(location = 0) in vec3 position;\n"
           "out vec2 place;\n"
           "void main() { place = position.xy * 0.5 + 0.5; gl_Position = vec4(position, 1.0); }\n";
}

std::string solidFragmentShader(float r, float g, float b) {
    std::ostringstream text;
    text << "#version 330 core\n"
         << "out vec4 colour;\n"
         << "void main() { colour = vec4(" << r << ", " << g << ", " << b << ", 1.0); }\n";
    return text.str();
}

bool writeTone(const TempDir& dir, const std::string& relative, double seconds) {
    const std::string target = dir.file(relative);
    fs::create_directories(fs::path(target).parent_path());
    const bool mp3 = relative.size() > 4 && relative.compare(relative.size() - 4, 4, ".mp3") == 0;
    const std::string wave = mp3 ? target + ".wav" : target;
    std::ostringstream command;
    command << "sox -q -n -r 44100 -c 2 -b 16 '" << wave << "' synth " << seconds
            << " sine 440 vol 0.5";
    if (std::system(command.str().c_str()) != 0) {
        return false;
    }
    if (mp3) {
        const std::string encode = "lame --quiet -b 128 '" + wave + "' '" + target + "'";
        const bool encoded = std::system(encode.c_str()) == 0;
        fs::remove(wave);
        return encoded;
    }
    return true;
}

std::string withoutMusicNotice(const std::string& standardError) {
    const std::string start = "no music: ";
    const std::string end = "; the demo runs until Escape is pressed\n";
    const size_t at = standardError.find(start);
    const size_t stop = at == std::string::npos ? at : standardError.find(end, at);
    if (stop == std::string::npos)
        return standardError;
    return standardError.substr(0, at) + standardError.substr(stop + end.size());
}

const char* const NO_EDITOR_HOST = "127.0.0.3";
const char* const EDITOR_HOST = "127.0.0.1";

std::string basicConfiguration(bool release, int width, int height, const std::string& extra,
                               const std::string& editorHost) {
    std::ostringstream text;
    text << "{\n"
         << "  \"sync\": { \"host\": \"" << editorHost << "\" },\n"
         << "  \"demo\": { \"release\": " << (release ? "true" : "false") << " },\n"
         << "  \"screen\": { \"width\": " << width << ", \"height\": " << height << " },\n"
         << "  \"shaders\": { \"vertex\": \"shaders/vertex.glsl\", \"fragment\": "
            "\"shaders/fragment.glsl\",\n"
         << "               \"majorVersion\": 3, \"minorVersion\": 3 }" << extra << "\n"
         << "}\n";
    return text.str();
}

Player::Player() = default;

Player::~Player() {
    if (child > 0 && !exited) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    if (connection != nullptr) {
        XCloseDisplay(connection);
    }
}

Display* Player::display() {
    if (connection == nullptr) {
        XSetErrorHandler(ignoreXErrors);
        connection = XOpenDisplay(nullptr);
    }
    return connection;
}

bool Player::start(const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment) {
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string key = text.substr(0, text.find('='));
        const bool unset = std::find(unsetNames.begin(), unsetNames.end(), key) != unsetNames.end();
        if (environment.count(key) == 0 && !unset) {
            environmentTexts.push_back(text);
        }
    }
    for (const auto& [key, value] : environment) {
        environmentTexts.push_back(key + "=" + value);
    }
    std::vector<char*> argv;
    for (std::string& text : argumentTexts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& text : environmentTexts) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    const std::string outPath = logDir.file("stdout");
    const std::string errPath = logDir.file("stderr");

    child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || chdir((runDir.empty() ? workDir.path() : runDir).c_str()) != 0) {
            _exit(127);
        }
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        // Nothing else of the test reaches the player: an inherited socket
        // (a test editor's listener, the X connection) would outlive the
        // test's own close and answer the player's connection attempts.
        if (close_range(3, ~0u, 0) != 0) {
            for (long fd = sysconf(_SC_OPEN_MAX) - 1; fd > 2; --fd) {
                close(static_cast<int>(fd));
            }
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return true;
}

void Player::unsetEnvironment(const std::string& name) {
    unsetNames.push_back(name);
}

void Player::useProgram(const std::string& path, const std::string& directory) {
    program = path;
    runDir = directory;
}

bool Player::running() {
    if (exited || child <= 0) {
        return false;
    }
    int status = 0;
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
        exited = true;
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

WindowId Player::waitForWindow(std::chrono::milliseconds timeout) {
    Display* connection = display();
    if (connection == nullptr) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline && running()) {
        playerWindow = findWindowOf(connection, DefaultRootWindow(connection), child);
        if (playerWindow != 0) {
            return playerWindow;
        }
        sleepFor(std::chrono::milliseconds(20));
    }
    return 0;
}

std::string Player::title() {
    Display* connection = display();
    XTextProperty property;
    std::string text;
    if (playerWindow != 0 && XGetWMName(connection, playerWindow, &property) &&
        property.value != nullptr) {
        text.assign(reinterpret_cast<char*>(property.value), property.nitems);
        XFree(property.value);
    }
    return text;
}

WindowGeometry Player::geometry() {
    Display* connection = display();
    WindowGeometry result;
    XWindowAttributes attributes;
    if (playerWindow != 0 && XGetWindowAttributes(connection, playerWindow, &attributes)) {
        Window ignored = 0;
        XTranslateCoordinates(connection, playerWindow, DefaultRootWindow(connection), 0, 0,
                              &result.x, &result.y, &ignored);
        result.width = attributes.width;
        result.height = attributes.height;
    }
    return result;
}

bool Player::hasIcon() {
    return playerWindow != 0 &&
           cardinalProperty(display(), playerWindow, "_NET_WM_ICON").has_value();
}

bool Player::cursorHidden() {
    Display* connection = display();
    if (playerWindow == 0) {
        return false;
    }
    const WindowGeometry area = geometry();
    XWarpPointer(connection, None, DefaultRootWindow(connection), 0, 0, 0, 0,
                 area.x + area.width / 2, area.y + area.height / 2);
    XSync(connection, False);
    sleepFor(std::chrono::milliseconds(100));
    XFixesCursorImage* cursor = XFixesGetCursorImage(connection);
    if (cursor == nullptr) {
        return false;
    }
    bool invisible = true;
    for (unsigned long i = 0; i < static_cast<unsigned long>(cursor->width) * cursor->height; ++i) {
        if ((cursor->pixels[i] >> 24) != 0) {
            invisible = false;
        }
    }
    XFree(cursor);
    return invisible;
}

Image Player::capture() {
    Display* connection = display();
    Image image;
    const WindowGeometry area = geometry();
    if (playerWindow == 0 || area.width <= 0 || area.height <= 0) {
        return image;
    }
    XImage* picture = XGetImage(connection, playerWindow, 0, 0, static_cast<unsigned>(area.width),
                                static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (picture == nullptr) {
        return image;
    }
    image.width = area.width;
    image.height = area.height;
    image.rgba.resize(static_cast<size_t>(area.width) * area.height * 4);
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            const unsigned long value = XGetPixel(picture, x, y);
            uint8_t* out = &image.rgba[(static_cast<size_t>(y) * area.width + x) * 4];
            out[0] = static_cast<uint8_t>((value & picture->red_mask) >> 16);
            out[1] = static_cast<uint8_t>((value & picture->green_mask) >> 8);
            out[2] = static_cast<uint8_t>(value & picture->blue_mask);
            out[3] = 255;
        }
    }
    XDestroyImage(picture);
    return image;
}

Image Player::waitForImage(const std::function<bool(const Image&)>& predicate,
                           std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Image image;
    do {
        image = capture();
        if (!image.empty() && predicate(image)) {
            return image;
        }
        sleepFor(std::chrono::milliseconds(30));
    } while (std::chrono::steady_clock::now() < deadline && running());
    return image;
}

void Player::focus() {
    Display* connection = display();
    XRaiseWindow(connection, playerWindow);
    XSetInputFocus(connection, playerWindow, RevertToParent, CurrentTime);
    XSync(connection, False);
}

void Player::keyDown(unsigned long keysym) {
    Display* connection = display();
    focus();
    XTestFakeKeyEvent(connection, XKeysymToKeycode(connection, keysym), True, CurrentTime);
    XSync(connection, False);
}

void Player::keyUp(unsigned long keysym) {
    Display* connection = display();
    XTestFakeKeyEvent(connection, XKeysymToKeycode(connection, keysym), False, CurrentTime);
    XSync(connection, False);
}

void Player::pressKey(unsigned long keysym) {
    keyDown(keysym);
    sleepFor(std::chrono::milliseconds(30));
    keyUp(keysym);
}

void Player::resize(int width, int height) {
    Display* connection = display();
    XResizeWindow(connection, playerWindow, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    XSync(connection, False);
}

void Player::move(int x, int y) {
    Display* connection = display();
    XMoveWindow(connection, playerWindow, x, y);
    XSync(connection, False);
}

void Player::requestClose() {
    Display* connection = display();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = playerWindow;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, playerWindow, False, NoEventMask, &event);
    XSync(connection, False);
}

int Player::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < deadline) {
        sleepFor(std::chrono::milliseconds(10));
    }
    if (running()) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        exited = true;
        return -1;
    }
    return exitStatus;
}

std::string Player::standardOutput() const {
    return readWholeFile(logDir.file("stdout"));
}

std::string Player::standardError() const {
    return readWholeFile(logDir.file("stderr"));
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        sleepFor(std::chrono::milliseconds(20));
    }
    return true;
}

int keyPressesWhileHeld(unsigned long keysym, std::chrono::milliseconds hold) {
    XSetErrorHandler(ignoreXErrors);
    Display* connection = XOpenDisplay(nullptr);
    if (connection == nullptr) {
        return 0;
    }
    const Window probe =
        XCreateSimpleWindow(connection, DefaultRootWindow(connection), 0, 0, 32, 32, 0, 0, 0);
    XSelectInput(connection, probe, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapRaised(connection, probe);
    XEvent event;
    do {
        XNextEvent(connection, &event);
    } while (event.type != MapNotify);
    XSetInputFocus(connection, probe, RevertToParent, CurrentTime);
    XSync(connection, False);
    const KeyCode code = XKeysymToKeycode(connection, keysym);
    XTestFakeKeyEvent(connection, code, True, CurrentTime);
    XSync(connection, False);
    sleepFor(hold);
    XTestFakeKeyEvent(connection, code, False, CurrentTime);
    XSync(connection, False);
    sleepFor(std::chrono::milliseconds(100));
    int presses = 0;
    while (XPending(connection) > 0) {
        XNextEvent(connection, &event);
        if (event.type == KeyPress) {
            ++presses;
        }
    }
    XDestroyWindow(connection, probe);
    XCloseDisplay(connection);
    return presses;
}

int runToExit(Player& player, const std::vector<std::string>& arguments,
              std::chrono::milliseconds timeout) {
    if (!player.start(arguments)) {
        return -1;
    }
    return player.waitForExit(timeout);
}

} // namespace Tolvane::Testing
