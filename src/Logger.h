#pragma once

// The on-screen log: the most recent messages of the run, drawn over the
// picture in the bottom-left corner, newest at the bottom, while enabled.

#include <list>
#include <string>

struct GLTtext;

namespace Tolvane {

class Logger {
public:
    enum LOG_LEVEL : int {
        INFO = 0,
        ERROR = 1,
    };

    // The outcome of building the shader program: error set and the GL's
    // info log as text when compiling or linking failed.
    struct Message {
        bool error = false;
        std::string text;

        Message() = default;
        ~Message() = default;
        Message(const Message&) = default;
        Message& operator=(Message&& other) noexcept {
            error = other.error;
            text = std::move(other.text);
            return *this;
        }
    };

    Logger();
    // Frees the texts; their GL objects too while a context is current.
    ~Logger();

    // Starts the text renderer in the current GL context; keeps at most
    // capacity messages, the newest drawn on the line just above (x, y) in
    // pixels, older ones above it.
    void initialize(int capacity, float x, float y, bool enabled);
    // Adds a message, prefixed by its level, dropping the oldest when full;
    // ignored before initialize.
    void write(LOG_LEVEL level, std::string text);
    // Draws the kept messages over the picture, when enabled.
    void render();
    // Whether render draws.
    bool isEnabled();
    // Switches drawing on or off; messages are kept either way.
    void toggleEnable();

    // Releases the text objects and the text renderer while a GL context is
    // still current; the destructor then has no GL work left to do.
    void releaseGraphics();

private:
    std::list<GLTtext*> texts;
    int capacity = 0;
    float x = 0.0f;
    float y = 0.0f;
    bool enabled = false;
    // initialize has started the text renderer and it has not been released.
    bool rendererStarted = false;
};

} // namespace Tolvane
