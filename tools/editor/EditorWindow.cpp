// Index of this file:
// [SECTION] Colours and sizes
// [SECTION] Window life
// [SECTION] Keys
// [SECTION] Saving and recovery
// [SECTION] Drawing: header, grid, waveform, curve, status, prompts

#include "EditorWindow.h"

#include <GLFW/glfw3.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Tolvane::Editor {

// ---------------------------------------------------------------------------
// [SECTION] Colours and sizes
// ---------------------------------------------------------------------------

namespace {

constexpr float WAVE_WIDTH = 70.0f;
constexpr float ROW_NUMBER_WIDTH = 44.0f;
constexpr float COLUMN_WIDTH = 84.0f;
constexpr float CURVE_WIDTH = 190.0f;
constexpr int PAGE_ROWS = 16;
constexpr int BEATS_PER_BAR = 4;
constexpr auto RECOVERY_INTERVAL = std::chrono::seconds(10);

const ImU32 BACKGROUND = IM_COL32(20, 22, 28, 255);
const ImU32 PANEL = IM_COL32(28, 31, 39, 255);
const ImU32 TEXT = IM_COL32(225, 228, 235, 255);
const ImU32 DIM_TEXT = IM_COL32(120, 126, 140, 255);
const ImU32 BEAT_LINE = IM_COL32(60, 66, 80, 255);
const ImU32 BAR_LINE = IM_COL32(110, 118, 140, 255);
const ImU32 CURSOR_ROW = IM_COL32(255, 255, 255, 22);
const ImU32 CURSOR_CELL = IM_COL32(255, 210, 80, 255);
const ImU32 SELECTION = IM_COL32(80, 140, 255, 70);
const ImU32 WAVE = IM_COL32(70, 190, 200, 255);

// One colour per interpolation: step, linear, smooth, ramp.
ImU32 typeColour(int type, int alpha = 255) {
    switch (type) {
    case KEY_LINEAR:
        return IM_COL32(90, 205, 120, alpha);
    case KEY_SMOOTH:
        return IM_COL32(235, 170, 60, alpha);
    case KEY_RAMP:
        return IM_COL32(215, 95, 210, alpha);
    default:
        return IM_COL32(120, 140, 175, alpha);
    }
}

const char* typeName(int type) {
    static const char* const NAMES[] = {"step", "linear", "smooth", "ramp"};
    return type >= 0 && type < KEY_TYPE_COUNT ? NAMES[type] : "?";
}

EditorWindow* owner(GLFWwindow* window) {
    return static_cast<EditorWindow*>(glfwGetWindowUserPointer(window));
}

bool typedChar(ImWchar c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '.';
}

} // namespace

// ---------------------------------------------------------------------------
// [SECTION] Window life
// ---------------------------------------------------------------------------

EditorWindow::EditorWindow(Document& document, Session& editing, const Waveform& waveform,
                           WindowSettings s)
    : doc(document), session(editing), wave(waveform), settings(std::move(s)) {
    if (settings.offerRestore)
        prompt = Prompt::RESTORE;
}

EditorWindow::~EditorWindow() {
    if (imguiReady) {
        ImGui_ImplOpenGL3_Shutdown();
        ImGui_ImplGlfw_Shutdown();
        ImGui::DestroyContext();
    }
    if (window)
        glfwDestroyWindow(window);
    glfwTerminate();
}

bool EditorWindow::open(std::string& error) {
    if (!glfwInit()) {
        error = "cannot open a window (no display?)";
        return false;
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    window = glfwCreateWindow(settings.width, settings.height, "Tolvane editor", nullptr, nullptr);
    if (!window) {
        error = "cannot open a window with OpenGL 3.3";
        return false;
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);
    // Keys are queued as they come, not read as held-down state once a frame:
    // a quick tap between two slow frames still counts, in order.
    glfwSetWindowUserPointer(window, this);
    glfwSetKeyCallback(window, [](GLFWwindow* w, int key, int, int action, int mods) {
        if (action != GLFW_RELEASE)
            owner(w)->inputs.push_back(Input{key, mods, 0});
    });
    glfwSetCharCallback(window, [](GLFWwindow* w, unsigned int c) {
        owner(w)->inputs.push_back(Input{0, 0, c});
    });

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    ImGui::StyleColorsDark();
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init("#version 330 core");
    imguiReady = true;
    updateTitle();
    return true;
}

void EditorWindow::wake() {
    glfwPostEmptyEvent();
}

void EditorWindow::run() {
    while (!quit) {
        // Idle until a key, the player or the recovery timer needs us.
        glfwWaitEventsTimeout(0.5);
        if (glfwWindowShouldClose(window)) {
            glfwSetWindowShouldClose(window, GLFW_FALSE);
            if (doc.modified())
                prompt = Prompt::CLOSE;
            else
                quit = true;
        }
        session.pump();
        buildFrame();
        present();
        keepRecovery();
        updateTitle();
    }
}

void EditorWindow::buildFrame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    line = std::floor(ImGui::GetTextLineHeight()) + 4.0f;

    handleInput();

    ImGuiIO& io = ImGui::GetIO();
    float width = io.DisplaySize.x;
    float height = io.DisplaySize.y;
    float status = line + 8.0f;
    float header = line + 10.0f;
    ImDrawList* draw = ImGui::GetBackgroundDrawList();
    draw->AddRectFilled(ImVec2(0, 0), ImVec2(width, height), BACKGROUND);
    float gridX = WAVE_WIDTH + ROW_NUMBER_WIDTH;
    float curveX = std::max(gridX + COLUMN_WIDTH, width - CURVE_WIDTH);
    drawHeader(gridX, curveX - gridX);
    drawGrid(gridX, header, curveX - gridX, height - header - status);
    drawStatus(height - status);
    if (prompt != Prompt::NONE)
        drawPrompt();

    ImGui::Render();
}

void EditorWindow::present() {
    int fbWidth = 0, fbHeight = 0;
    glfwGetFramebufferSize(window, &fbWidth, &fbHeight);
    glViewport(0, 0, fbWidth, fbHeight);
    glClearColor(0.08f, 0.086f, 0.11f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window);
}

void EditorWindow::updateTitle() {
    std::string text = "Tolvane editor - " + settings.group + " : " + settings.name + " - " +
                       (session.connected() ? "connected" : "waiting for the player");
    if (doc.modified())
        text += " *";
    if (text != title) {
        title = text;
        glfwSetWindowTitle(window, title.c_str());
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Keys
// ---------------------------------------------------------------------------

void EditorWindow::moveTo(int track, int row, bool extend) {
    doc.moveCursor(track, row, extend);
    session.seek(doc.cursorRow());
}

void EditorWindow::handleInput() {
    std::vector<Input> events;
    events.swap(inputs);
    for (const Input& input : events) {
        if (prompt != Prompt::NONE)
            promptKey(input);
        else if (typing)
            typingKey(input);
        else
            editKey(input);
    }
}

void EditorWindow::editKey(const Input& input) {
    bool shift = (input.mods & GLFW_MOD_SHIFT) != 0;
    int track = doc.cursorTrack();
    int row = doc.cursorRow();

    if (input.character != 0) {
        if (typedChar(input.character) && doc.trackCount() > 0) {
            typing = true;
            typed = char(input.character);
            typedTrack = track;
            typedRow = row;
        }
        return;
    }
    if (input.mods & GLFW_MOD_CONTROL) {
        controlKey(input.key, shift);
        return;
    }
    switch (input.key) {
    case GLFW_KEY_UP:
        return moveTo(track, row - 1, shift);
    case GLFW_KEY_DOWN:
        return moveTo(track, row + 1, shift);
    case GLFW_KEY_PAGE_UP:
        return moveTo(track, row - PAGE_ROWS, shift);
    case GLFW_KEY_PAGE_DOWN:
        return moveTo(track, row + PAGE_ROWS, shift);
    case GLFW_KEY_HOME:
        return moveTo(track, 0, shift);
    case GLFW_KEY_END:
        return moveTo(track, doc.lastKeyRow(), shift);
    case GLFW_KEY_LEFT:
        return moveTo(track - 1, row, shift);
    case GLFW_KEY_RIGHT:
        return moveTo(track + 1, row, shift);
    case GLFW_KEY_SPACE:
        return session.togglePause();
    case GLFW_KEY_I:
        if (doc.trackCount() > 0 && !doc.cycleInterpolation(track, row))
            session.setMessage("no key at or above the cursor");
        return;
    case GLFW_KEY_DELETE:
        if (doc.trackCount() > 0)
            doc.deleteKey(track, row);
        return;
    default:
        return;
    }
}

void EditorWindow::controlKey(int key, bool shift) {
    if (key == GLFW_KEY_Z && shift)
        session.setMessage(doc.redo() ? "redone" : "nothing to redo");
    else if (key == GLFW_KEY_Z)
        session.setMessage(doc.undo() ? "undone" : "nothing to undo");
    else if (key == GLFW_KEY_C)
        doc.copy(doc.selectionOrCursor());
    else if (key == GLFW_KEY_X)
        doc.cut(doc.selectionOrCursor());
    else if (key == GLFW_KEY_V)
        session.setMessage(
            doc.paste(doc.cursorTrack(), doc.cursorRow()) ? "pasted" : "the clipboard is empty");
    else if (key == GLFW_KEY_S)
        saveAll();
}

void EditorWindow::typingKey(const Input& input) {
    if (input.character != 0) {
        if (typedChar(input.character))
            typed += char(input.character);
    } else if (input.key == GLFW_KEY_BACKSPACE && !typed.empty()) {
        typed.pop_back();
    } else if (input.key == GLFW_KEY_ENTER || input.key == GLFW_KEY_KP_ENTER) {
        commitTyping();
    } else if (input.key == GLFW_KEY_ESCAPE) {
        typing = false;
    }
}

void EditorWindow::commitTyping() {
    typing = false;
    char* end = nullptr;
    float value = std::strtof(typed.c_str(), &end);
    if (typed.empty() || *end != '\0' || !std::isfinite(value)) {
        session.setMessage("not a number: " + typed);
        return;
    }
    // The key goes where typing began, even if the playing player has
    // moved the cursor on since.
    doc.setKey(typedTrack, typedRow, value);
}

void EditorWindow::promptKey(const Input& input) {
    bool enter = input.key == GLFW_KEY_ENTER || input.key == GLFW_KEY_KP_ENTER;
    if (input.character != 0 || (input.mods & GLFW_MOD_CONTROL))
        return;
    if (prompt == Prompt::RESTORE) {
        if (enter)
            answerRestore(true);
        else if (input.key == GLFW_KEY_ESCAPE)
            answerRestore(false);
    } else if (enter || input.key == GLFW_KEY_S) {
        answerClose(CloseAnswer::SAVE);
    } else if (input.key == GLFW_KEY_D) {
        answerClose(CloseAnswer::DISCARD);
    } else if (input.key == GLFW_KEY_ESCAPE) {
        answerClose(CloseAnswer::CANCEL);
    }
}

void EditorWindow::answerRestore(bool restore) {
    prompt = Prompt::NONE;
    if (!restore) {
        Document::removeRecovery(settings.recoveryDir);
        session.setMessage("unsaved edits discarded");
        return;
    }
    bool whole = doc.restoreRecovery(settings.recoveryDir);
    session.setMessage(whole ? "unsaved edits restored" : "unsaved edits restored in part");
    session.resendAll();
}

void EditorWindow::answerClose(CloseAnswer answer) {
    prompt = Prompt::NONE;
    if (answer == CloseAnswer::SAVE) {
        saveAll();
        quit = !doc.modified();
    } else if (answer == CloseAnswer::DISCARD) {
        Document::removeRecovery(settings.recoveryDir);
        quit = true;
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Saving and recovery
// ---------------------------------------------------------------------------

void EditorWindow::saveAll() {
    if (doc.save()) {
        Document::removeRecovery(settings.recoveryDir);
        recoveryWritten = false;
        session.setMessage("saved " + std::to_string(doc.trackCount()) + " track files");
    } else {
        session.setMessage("save failed: a track file could not be written (" +
                           std::string(std::strerror(errno)) + ")");
    }
}

void EditorWindow::keepRecovery() {
    // A restore offer still open keeps the old copy as it is.
    if (prompt == Prompt::RESTORE)
        return;
    if (!doc.modified()) {
        if (recoveryWritten)
            Document::removeRecovery(settings.recoveryDir);
        recoveryWritten = false;
        return;
    }
    auto now = std::chrono::steady_clock::now();
    bool due = !recoveryWritten || now - recoveryTime >= RECOVERY_INTERVAL;
    if (!due || (recoveryWritten && doc.revision() == recoveryRevision))
        return;
    if (doc.writeRecovery(settings.recoveryDir)) {
        recoveryWritten = true;
        recoveryRevision = doc.revision();
        recoveryTime = now;
    } else {
        session.setMessage("cannot write the recovery copy " + settings.recoveryDir);
        recoveryTime = now;
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Drawing: header, grid, waveform, curve, status, prompts
// ---------------------------------------------------------------------------

void EditorWindow::drawHeader(float x0, float width) {
    ImDrawList* draw = ImGui::GetBackgroundDrawList();
    float height = line + 10.0f;
    draw->AddRectFilled(ImVec2(0, 0), ImVec2(ImGui::GetIO().DisplaySize.x, height), PANEL);
    draw->AddText(ImVec2(6, 5), DIM_TEXT, "wave");
    draw->AddText(ImVec2(WAVE_WIDTH + 4, 5), DIM_TEXT, "row");

    // Keep the cursor's column in view.
    int columns = std::max(1, int(width / COLUMN_WIDTH));
    int cursor = doc.cursorTrack();
    if (cursor < firstTrack)
        firstTrack = cursor;
    if (cursor >= firstTrack + columns)
        firstTrack = cursor - columns + 1;
    for (int t = firstTrack; t < doc.trackCount() && t < firstTrack + columns; ++t) {
        float x = x0 + float(t - firstTrack) * COLUMN_WIDTH;
        if (t == cursor)
            draw->AddRectFilled(ImVec2(x, 0), ImVec2(x + COLUMN_WIDTH - 1, height),
                                IM_COL32(60, 68, 90, 255));
        draw->PushClipRect(ImVec2(x, 0), ImVec2(x + COLUMN_WIDTH - 4, height), true);
        draw->AddText(ImVec2(x + 4, 5), t == cursor ? CURSOR_CELL : TEXT, doc.track(t).name);
        draw->PopClipRect();
    }
    if (doc.trackCount() == 0)
        draw->AddText(ImVec2(x0 + 4, 5), DIM_TEXT, "no tracks");
}

void EditorWindow::drawGrid(float x0, float top, float width, float height) {
    ImDrawList* draw = ImGui::GetBackgroundDrawList();
    int visible = std::max(1, int(height / line));
    // The cursor row stays in the middle; rows run down past it.
    int firstRow = doc.cursorRow() - visible / 2;
    int lastRow = firstRow + visible - 1;
    float rightEdge = x0 + width;
    float cursorY = top + float(doc.cursorRow() - firstRow) * line;
    int rpb = std::max(1, doc.rowsPerBeat());

    draw->PushClipRect(ImVec2(0, top), ImVec2(ImGui::GetIO().DisplaySize.x, top + height), true);
    for (int row = std::max(firstRow, 0); row <= lastRow; ++row) {
        float y = top + float(row - firstRow) * line;
        bool beat = row % rpb == 0;
        bool bar = row % (rpb * BEATS_PER_BAR) == 0;
        if (beat)
            draw->AddLine(ImVec2(WAVE_WIDTH, y), ImVec2(rightEdge, y), bar ? BAR_LINE : BEAT_LINE,
                          bar ? 2.0f : 1.0f);
        char number[16];
        std::snprintf(number, sizeof(number), "%04d", row);
        draw->AddText(ImVec2(WAVE_WIDTH + 4, y + 1), beat ? TEXT : DIM_TEXT, number);
    }
    drawWaveform(0, top, height, firstRow, lastRow);

    int columns = std::max(1, int(width / COLUMN_WIDTH));
    for (int t = firstTrack; t < doc.trackCount() && t < firstTrack + columns; ++t)
        drawTrackColumn(t, x0 + float(t - firstTrack) * COLUMN_WIDTH, top, firstRow, lastRow);

    Block selected = doc.selection();
    if (!selected.empty()) {
        float sx0 = x0 + float(std::max(selected.firstTrack - firstTrack, 0)) * COLUMN_WIDTH;
        float sx1 = x0 + float(selected.lastTrack - firstTrack + 1) * COLUMN_WIDTH;
        float sy0 = top + float(selected.firstRow - firstRow) * line;
        float sy1 = top + float(selected.lastRow - firstRow + 1) * line;
        draw->AddRectFilled(ImVec2(sx0, sy0), ImVec2(std::min(sx1, rightEdge), sy1), SELECTION);
    }
    draw->AddRectFilled(ImVec2(WAVE_WIDTH, cursorY), ImVec2(rightEdge, cursorY + line), CURSOR_ROW);
    if (doc.trackCount() > 0) {
        float cx = x0 + float(doc.cursorTrack() - firstTrack) * COLUMN_WIDTH;
        if (typing) {
            float tx = x0 + float(typedTrack - firstTrack) * COLUMN_WIDTH;
            float ty = top + float(typedRow - firstRow) * line;
            draw->AddRectFilled(ImVec2(tx, ty), ImVec2(tx + COLUMN_WIDTH - 1, ty + line),
                                IM_COL32(50, 44, 20, 255));
            draw->AddText(ImVec2(tx + 6, ty + 1), CURSOR_CELL, (typed + "_").c_str());
        }
        draw->AddRect(ImVec2(cx, cursorY), ImVec2(cx + COLUMN_WIDTH - 1, cursorY + line),
                      CURSOR_CELL, 0.0f, 0, 2.0f);
    }
    draw->PopClipRect();
    drawCurve(rightEdge, top, ImGui::GetIO().DisplaySize.x - rightEdge, height, firstRow, lastRow);
}

// Walks only the visible rows: the key on or above the first one is found by
// binary search, then the keys follow in order.
void EditorWindow::drawTrackColumn(int track, float x, float top, int firstRow, int lastRow) {
    ImDrawList* draw = ImGui::GetBackgroundDrawList();
    const sync_track& tr = doc.track(track);
    int start = std::max(firstRow, 0);
    int key = doc.keyAtOrAbove(track, start);
    draw->AddLine(ImVec2(x + COLUMN_WIDTH - 1, top),
                  ImVec2(x + COLUMN_WIDTH - 1, top + float(lastRow - firstRow + 1) * line),
                  IM_COL32(40, 44, 54, 255));
    for (int row = start; row <= lastRow; ++row) {
        while (key + 1 < tr.key_count && tr.keys[key + 1].row <= row)
            ++key;
        float y = top + float(row - firstRow) * line;
        if (key >= 0 && tr.keys[key].row == row) {
            const track_key& k = tr.keys[key];
            draw->AddRectFilled(ImVec2(x + 1, y + 1), ImVec2(x + COLUMN_WIDTH - 2, y + line - 1),
                                typeColour(k.type, 70));
            draw->AddRectFilled(ImVec2(x + 1, y + 1), ImVec2(x + 4, y + line - 1),
                                typeColour(k.type));
            char text[32];
            std::snprintf(text, sizeof(text), "%9.3f", double(k.value));
            draw->AddText(ImVec2(x + 8, y + 1), TEXT, text);
        } else if (key >= 0 && key + 1 < tr.key_count) {
            int type = tr.keys[key].type;
            draw->AddRectFilled(ImVec2(x + 1, y), ImVec2(x + 4, y + line), typeColour(type));
            draw->AddRectFilled(ImVec2(x + 4, y), ImVec2(x + COLUMN_WIDTH - 2, y + line),
                                typeColour(type, 16));
        }
    }
}

void EditorWindow::drawWaveform(float x, float top, float height, int firstRow, int lastRow) {
    ImDrawList* draw = ImGui::GetBackgroundDrawList();
    draw->AddRectFilled(ImVec2(x, top), ImVec2(x + WAVE_WIDTH - 2, top + height), PANEL);
    float mid = x + WAVE_WIDTH / 2.0f - 1.0f;
    float half = WAVE_WIDTH / 2.0f - 4.0f;
    for (int row = std::max(firstRow, 0); row <= lastRow && row < wave.rows(); ++row) {
        float y = top + float(row - firstRow) * line;
        draw->AddRectFilled(
            ImVec2(mid + wave.low(row) * half, y + 1),
            ImVec2(mid + std::max(wave.high(row) * half, wave.low(row) * half + 1.0f),
                   y + line - 1),
            WAVE);
    }
    if (wave.rows() == 0)
        draw->AddText(ImVec2(x + 6, top + 4), DIM_TEXT, "no tune");
}

void EditorWindow::drawCurve(float x, float top, float width, float height, int firstRow,
                             int lastRow) {
    ImDrawList* draw = ImGui::GetBackgroundDrawList();
    draw->AddRectFilled(ImVec2(x + 2, top), ImVec2(x + width, top + height), PANEL);
    if (doc.trackCount() == 0 || width < 40.0f)
        return;
    const sync_track& tr = doc.track(doc.cursorTrack());
    constexpr int STEPS = 4; // samples a row
    int start = std::max(firstRow, 0);
    std::vector<float> values;
    for (int s = start * STEPS; s <= lastRow * STEPS; ++s)
        values.push_back(float(sync_get_val(&tr, double(s) / STEPS)));
    if (values.empty())
        return;
    auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    float low = *lo, high = *hi;
    if (high - low < 1e-6f) {
        low -= 1.0f;
        high += 1.0f;
    }
    float left = x + 12.0f, right = x + width - 12.0f;
    auto px = [&](float v) { return left + (v - low) / (high - low) * (right - left); };
    char text[64];
    std::snprintf(text, sizeof(text), "%.3f", double(low));
    draw->AddText(ImVec2(left, top + 2), DIM_TEXT, text);
    std::snprintf(text, sizeof(text), "%.3f", double(high));
    draw->AddText(ImVec2(right - ImGui::CalcTextSize(text).x, top + 2), DIM_TEXT, text);
    draw->AddLine(ImVec2(left, top), ImVec2(left, top + height), BEAT_LINE);
    draw->AddLine(ImVec2(right, top), ImVec2(right, top + height), BEAT_LINE);

    draw->PushClipRect(ImVec2(x, top), ImVec2(x + width, top + height), true);
    int key = doc.keyAtOrAbove(doc.cursorTrack(), start);
    for (size_t i = 1; i < values.size(); ++i) {
        double row = double(start * STEPS + int(i) - 1) / STEPS;
        while (key + 1 < tr.key_count && tr.keys[key + 1].row <= row)
            ++key;
        ImU32 colour = key >= 0 ? typeColour(tr.keys[key].type) : typeColour(KEY_STEP);
        float y0 = top + float(row - firstRow) * line + line / 2;
        draw->AddLine(ImVec2(px(values[i - 1]), y0), ImVec2(px(values[i]), y0 + line / STEPS),
                      colour, 2.0f);
    }
    for (int i = std::max(doc.keyAtOrAbove(doc.cursorTrack(), start), 0); i < tr.key_count; ++i) {
        if (tr.keys[i].row > lastRow)
            break;
        if (tr.keys[i].row < start)
            continue;
        float y = top + float(tr.keys[i].row - firstRow) * line + line / 2;
        draw->AddCircleFilled(ImVec2(px(tr.keys[i].value), y), 3.5f, TEXT);
    }
    draw->PopClipRect();
}

void EditorWindow::drawStatus(float top) {
    ImDrawList* draw = ImGui::GetBackgroundDrawList();
    ImVec2 size = ImGui::GetIO().DisplaySize;
    draw->AddRectFilled(ImVec2(0, top), size, PANEL);
    std::string text = std::string(session.connected() ? "connected" : "waiting for the player") +
                       "   row " + std::to_string(doc.cursorRow()) + "   " +
                       doc.timeText(doc.cursorRow()) + "   " +
                       (session.playing() ? "playing" : "paused");
    if (doc.trackCount() > 0) {
        int key = doc.keyAtOrAbove(doc.cursorTrack(), doc.cursorRow());
        if (key >= 0)
            text += std::string("   ") + typeName(doc.track(doc.cursorTrack()).keys[key].type);
    }
    text += "   " + session.message();
    draw->AddText(ImVec2(8, top + 4), session.connected() ? TEXT : CURSOR_CELL, text.c_str());
}

void EditorWindow::drawPrompt() {
    ImVec2 size = ImGui::GetIO().DisplaySize;
    ImGui::GetForegroundDrawList()->AddRectFilled(ImVec2(0, 0), size, IM_COL32(0, 0, 0, 120));
    ImGui::SetNextWindowPos(ImVec2(size.x / 2, size.y / 2), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::Begin("##prompt", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
                     ImGuiWindowFlags_NoSavedSettings);
    if (prompt == Prompt::RESTORE) {
        ImGui::Text("Unsaved edits of an earlier session were found:");
        ImGui::TextDisabled("%s", settings.recoveryDir.c_str());
        if (ImGui::Button("Restore (Enter)"))
            answerRestore(true);
        ImGui::SameLine();
        if (ImGui::Button("Discard (Escape)"))
            answerRestore(false);
    } else {
        ImGui::Text("There are unsaved edits.");
        if (ImGui::Button("Save (S)"))
            answerClose(CloseAnswer::SAVE);
        ImGui::SameLine();
        if (ImGui::Button("Discard (D)"))
            answerClose(CloseAnswer::DISCARD);
        ImGui::SameLine();
        if (ImGui::Button("Cancel (Escape)"))
            answerClose(CloseAnswer::CANCEL);
    }
    ImGui::End();
}

} // namespace Tolvane::Editor
