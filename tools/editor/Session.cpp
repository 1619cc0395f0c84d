#include "Session.h"

namespace Tolvane::Editor {

Session::Session(Document& document, EditorLink& editorLink) : doc(document), link(editorLink) {
    doc.onChange = [this](int track, int row) { keyChanged(track, row); };
}

Session::~Session() {
    doc.onChange = nullptr;
}

bool Session::pump() {
    std::vector<EditorLink::Event> events = link.takeEvents();
    // The rows come as events; the link's own record of them is for tests.
    if (!events.empty())
        link.clearRowReports();
    for (const EditorLink::Event& event : events) {
        switch (event.kind) {
        case EditorLink::Event::CONNECTED:
            connection = event.connection;
            requested.clear();
            status = "player connected";
            // The player and the editor agree from the start: a paused
            // editor stops the player where its cursor is.
            link.post(EditorLink::encodePause(paused ? 1 : 0), connection);
            if (paused)
                link.post(EditorLink::encodeSetRow(doc.cursorRow()), connection);
            break;
        case EditorLink::Event::TRACK_REQUESTED:
            if (event.connection == connection)
                answer(uint32_t(event.value), event.text);
            break;
        case EditorLink::Event::ROW_REPORTED:
            if (event.connection == connection) {
                paused = false;
                doc.moveCursor(doc.cursorTrack(), event.value);
            }
            break;
        case EditorLink::Event::DISCONNECTED:
            if (event.connection == connection) {
                connection = 0;
                requested.clear();
            }
            status = "player disconnected: " + event.text;
            break;
        }
    }
    return !events.empty();
}

void Session::answer(uint32_t index, const std::string& name) {
    int track = doc.findTrack(name);
    if (track < 0) {
        track = doc.addTrack(name);
        status = "new track from the player: " + name;
    }
    if (requested.size() <= index)
        requested.resize(index + 1, -1);
    requested[index] = track;
    if (track >= 0)
        link.post(encodeTrack(index, doc.track(track)), connection);
}

void Session::keyChanged(int track, int row) {
    for (size_t index = 0; index < requested.size(); ++index) {
        if (requested[index] != track)
            continue;
        int key = doc.keyAt(track, row);
        if (key >= 0) {
            const track_key& k = doc.track(track).keys[key];
            link.post(EditorLink::encodeSetKey(uint32_t(index), row, k.value, uint8_t(k.type)),
                      connection);
        } else {
            link.post(EditorLink::encodeDeleteKey(uint32_t(index), row), connection);
        }
    }
}

void Session::togglePause() {
    paused = !paused;
    if (connected()) {
        link.post(EditorLink::encodePause(paused ? 1 : 0), connection);
        if (paused)
            link.post(EditorLink::encodeSetRow(doc.cursorRow()), connection);
    }
}

void Session::seek(int row) {
    if (paused && connected())
        link.post(EditorLink::encodeSetRow(row), connection);
}

void Session::resendAll() {
    // Keys the player holds but the document no longer has must go too:
    // the simplest sure way is to have the player ask again.
    if (connected())
        link.closeConnection();
}

EditorLink::Bytes Session::encodeTrack(uint32_t index, const sync_track& track) {
    EditorLink::Bytes out;
    out.reserve(14 * size_t(track.key_count));
    for (int i = 0; i < track.key_count; ++i)
        EditorLink::appendSetKey(out, index, track.keys[i].row, track.keys[i].value,
                                 uint8_t(track.keys[i].type));
    return out;
}

} // namespace Tolvane::Editor
