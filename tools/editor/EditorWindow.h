#pragma once

// The editor's window: the tracker grid, the waveform, the curve of the
// current track, the status bar, the keys and the two questions (restore
// unsaved edits at start, save before closing). It reads the document and
// the session every frame and edits only through their operations.
//
//     EditorWindow window(doc, session, waveform, settings);
//     if (window.open()) window.run();   // until the window is closed

#include "Document.h"
#include "Session.h"
#include "Waveform.h"

#include <chrono>
#include <string>
#include <vector>

struct GLFWwindow;

namespace Tolvane::Editor {

struct WindowSettings {
    std::string group; // the demo's group and name, for the title
    std::string name;
    std::string recoveryDir;   // where the recovery copy goes
    bool offerRestore = false; // a recovery copy was found at start
    int width = 1100;
    int height = 720;
};

class EditorWindow {
public:
    EditorWindow(Document& document, Session& session, const Waveform& waveform,
                 WindowSettings settings);
    ~EditorWindow();
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // Opens the window; false with the reason in error.
    bool open(std::string& error);
    // Runs until the user closes the window (after the save question).
    void run();
    // Wakes run() from another thread (the link's, on news from the player).
    static void wake();

    // One frame in two halves: the editor's own work (keys, then the draw
    // lists of the whole window, walking only the visible rows) and the
    // GL's (drawing them and swapping buffers). run() calls both.
    void buildFrame();
    void present();

private:
    enum class Prompt {
        NONE,
        RESTORE,
        CLOSE
    };
    enum class CloseAnswer {
        SAVE,
        DISCARD,
        CANCEL
    };

    // A key press (or repeat) or a typed character, in arrival order.
    struct Input {
        int key;
        int mods;
        unsigned int character; // 0 for a key
    };

    void handleInput();
    void editKey(const Input& input);
    void controlKey(int key, bool shift);
    void typingKey(const Input& input);
    void promptKey(const Input& input);
    void answerRestore(bool restore);
    void answerClose(CloseAnswer answer);
    void moveTo(int track, int row, bool extend);
    void commitTyping();
    void saveAll();
    void keepRecovery();
    void updateTitle();

    void drawHeader(float x0, float width);
    void drawGrid(float x0, float top, float width, float height);
    void drawTrackColumn(int track, float x, float top, int firstRow, int lastRow);
    void drawWaveform(float x, float top, float height, int firstRow, int lastRow);
    void drawCurve(float x, float top, float width, float height, int firstRow, int lastRow);
    void drawStatus(float top);
    void drawPrompt();

    Document& doc;
    Session& session;
    const Waveform& wave;
    WindowSettings settings;
    GLFWwindow* window = nullptr;
    bool imguiReady = false;

    std::vector<Input> inputs;
    Prompt prompt = Prompt::NONE;
    bool typing = false;
    std::string typed;
    int typedTrack = 0;
    int typedRow = 0;
    int firstTrack = 0; // leftmost column shown
    float line = 15.0f; // pixel height of a row
    std::string title;
    unsigned long recoveryRevision = 0;
    bool recoveryWritten = false;
    std::chrono::steady_clock::time_point recoveryTime{};
    bool quit = false;
};

} // namespace Tolvane::Editor
