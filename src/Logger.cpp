#include "Logger.h"

#include "Helpers.h"
#include "text/overlay.h"

#include <utility>

namespace Tolvane {

namespace {

// Distance between the tops of two log lines, in pixels.
constexpr float LINE_SPACING = 15.0f;

const char* prefixOf(Logger::LOG_LEVEL level) {
    switch (level) {
    case Logger::INFO:
        return "[INFO] ";
    case Logger::ERROR:
        return "[ERROR] ";
    }
    return "";
}

} // namespace

Logger::Logger() = default;

Logger::~Logger() {
    if (texts.empty() && !rendererStarted) {
        return;
    }
    // The log normally outlives the window; GL objects are released only if
    // a context is still current, the memory is freed in any case.
    if (Helpers::hasCurrentContext()) {
        releaseGraphics();
        return;
    }
    for (GLTtext* text : texts) {
        gltAbandonText(text);
    }
    texts.clear();
    gltAbandon();
    rendererStarted = false;
}

void Logger::initialize(int capacity, float x, float y, bool enabled) {
    this->capacity = capacity;
    this->x = x;
    this->y = y;
    this->enabled = enabled;
    // A renderer that fails to build leaves the log recording but blank.
    gltInit();
    rendererStarted = true;
}

void Logger::write(LOG_LEVEL level, std::string text) {
    // Nothing is kept before initialize has set a capacity (and with it a
    // GL context to create text objects in).
    if (capacity < 1) {
        return;
    }
    std::string message = prefixOf(level) + std::move(text);
    while (static_cast<int>(texts.size()) >= capacity) {
        gltDeleteText(texts.back());
        texts.pop_back();
    }
    GLTtext* entry = gltCreateText();
    gltSetText(entry, message.c_str());
    texts.push_front(entry);
}

void Logger::render() {
    if (!enabled) {
        return;
    }
    gltBeginDraw();
    gltColor(1.0f, 1.0f, 1.0f, 1.0f);
    float lineY = y - LINE_SPACING;
    for (GLTtext* text : texts) {
        gltDrawText2D(text, x, lineY, 1.0f);
        lineY -= LINE_SPACING;
    }
    gltEndDraw();
}

bool Logger::isEnabled() {
    return enabled;
}

void Logger::toggleEnable() {
    enabled = !enabled;
}

void Logger::releaseGraphics() {
    for (GLTtext* text : texts) {
        gltDeleteText(text);
    }
    texts.clear();
    gltTerminate();
    rendererStarted = false;
}

} // namespace Tolvane
