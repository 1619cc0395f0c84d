#pragma once

// The editing session: what ties the document to the player over the link.
// It answers the player's track requests with the document's keys (a track
// the document lacks becomes a new column), sends every key change at once,
// follows the rows the player reports while it plays, and sends pause and
// seek commands. No GL here either; the window calls pump() every frame.
//
//     EditorLink link(options);          // Options::queueEvents set
//     Session session(doc, link);        // hooks doc.onChange
//     for (;;) { session.pump(); ... }   // then draw doc and session

#include "Document.h"
#include "EditorLink.h"

#include <string>
#include <vector>

namespace Tolvane::Editor {

class Session {
public:
    Session(Document& document, EditorLink& link);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Handles everything the player did since the last call. Returns true
    // when anything happened (the window then redraws).
    bool pump();

    bool connected() const { return connection != 0; }
    bool playing() const { return !paused; }
    // Pauses or plays the player (and the editor's own idea of it).
    void togglePause();
    // Moves the player to row (sent only while paused and connected: while
    // playing, the player leads and the cursor follows).
    void seek(int row);
    // Sends every requested track whole again (after the document was
    // replaced, as a restore does).
    void resendAll();

    // The last thing worth telling the user ("player connected", ...).
    const std::string& message() const { return status; }
    void setMessage(std::string text) { status = std::move(text); }

    // The SET_KEY messages for every key of track, as the track of that
    // index on the link, in ascending row order.
    static EditorLink::Bytes encodeTrack(uint32_t index, const sync_track& track);

private:
    void keyChanged(int track, int row);
    void answer(uint32_t index, const std::string& name);

    Document& doc;
    EditorLink& link;
    uint64_t connection = 0;
    std::vector<int> requested; // link index -> document track
    bool paused = false;
    std::string status;
};

} // namespace Tolvane::Editor
