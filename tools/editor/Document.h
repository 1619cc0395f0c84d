#pragma once

// The editor's document: the sync tracks and their keys, the cursor and the
// block selection, undo and redo, the clipboard, and the mapping between
// rows and music time. It knows nothing of windows or sockets, so it can be
// tested on its own.
//
// The keys live in a sync device of the sync library (base "sync"), so the
// tracks load, evaluate and save with the very code the player uses:
//
//     Document doc;
//     doc.setTiming(bpm, rowsPerBeat);
//     problems = doc.load({"fade", "camera.x"});   // reads sync_fade.track ...
//     doc.onChange = [](int track, int row) { ... };  // tell the player
//     doc.setKey(0, 16, 1.5f);                      // one undoable step
//     doc.undo();
//     doc.save();                                    // writes every track file
//
// Every edit goes through a named operation that records one undo step and
// calls onChange for each (track, row) whose key changed.

#include "sync.h"

#include <functional>
#include <string>
#include <vector>

namespace Tolvane::Editor {

// A rectangle of the grid: tracks and rows, both ends included.
struct Block {
    int firstTrack = 0;
    int lastTrack = -1;
    int firstRow = 0;
    int lastRow = -1;

    bool empty() const { return lastTrack < firstTrack || lastRow < firstRow; }
    bool contains(int track, int row) const {
        return track >= firstTrack && track <= lastTrack && row >= firstRow && row <= lastRow;
    }
};

// Keys copied from a block, their places relative to its top left corner.
struct Clipboard {
    struct Entry {
        int track;
        int row;
        float value;
        key_type type;
    };
    int tracks = 0;
    int rows = 0;
    std::vector<Entry> entries;
};

class Document {
public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // ---- Tracks ---------------------------------------------------------------

    // Creates the tracks of these names in order and loads each from its
    // track file. Returns the names of the track files that were refused as
    // malformed: those tracks start empty and the files stay untouched.
    std::vector<std::string> load(const std::vector<std::string>& names);
    // Adds a track (loaded from its file when there is one); returns its
    // index, or the index of the track of that name when there is one.
    int addTrack(const std::string& name);
    int findTrack(const std::string& name) const;
    int trackCount() const;
    const sync_track& track(int index) const;
    // The track file of a track ("sync_" + encoded name + ".track").
    std::string trackPath(int index) const;

    // Index of the key on row, or -1.
    int keyAt(int track, int row) const;
    // Index of the last key on or above row, or -1.
    int keyAtOrAbove(int track, int row) const;
    // The last row that holds a key on any track; 0 when there are none.
    int lastKeyRow() const;

    // ---- Edits (each one undo step) ----------------------------------------------

    // Sets the value on row. A new key takes the interpolation of the key
    // above it on the track (step when there is none); an existing key keeps
    // its own.
    void setKey(int track, int row, float value);
    // Deletes the key on row; false when there is none.
    bool deleteKey(int track, int row);
    // Cycles the interpolation of the key on or above row: step, linear,
    // smooth, ramp, step. False when there is no such key.
    bool cycleInterpolation(int track, int row);
    // Deletes every key in the block; false when it held none.
    bool clearBlock(const Block& block);

    // Copies the keys of the block (the clipboard keeps its size too).
    void copy(const Block& block);
    // Copies, then clears the block.
    void cut(const Block& block);
    // Puts the clipboard with its top left corner at (track, row): the rows
    // it covers on each of its tracks are cleared first, then its keys are
    // set. Tracks past the last one are left out. False when the clipboard
    // is empty.
    bool paste(int track, int row);
    const Clipboard& clipboard() const { return clip; }

    bool undo();
    bool redo();
    bool canUndo() const { return done > 0; }
    bool canRedo() const { return done < history.size(); }

    // Called after each key change, with the track and row of the key.
    std::function<void(int track, int row)> onChange;

    // ---- Saving --------------------------------------------------------------

    // Grows with every key change (to tell whether anything changed since).
    unsigned long revision() const { return changes; }
    // Whether there are edits not yet saved.
    bool modified() const;
    // Writes every track file (each written beside the old one and renamed
    // over it). False, and still modified, when a file could not be written.
    bool save();
    // Forgets that there are unsaved edits (after the user discarded them).
    void markSaved();

    // The recovery copy: every track written in the track-file format into
    // the folder dir (created when missing), with the list of track names.
    bool writeRecovery(const std::string& dir) const;
    static bool recoveryExists(const std::string& dir);
    // Replaces the keys of the tracks found in the recovery copy (adding the
    // tracks that are missing); the document is then modified and its undo
    // history empty. False when the copy cannot be read.
    bool restoreRecovery(const std::string& dir);
    static void removeRecovery(const std::string& dir);

    // ---- Cursor and selection -----------------------------------------------

    int cursorTrack() const { return curTrack; }
    int cursorRow() const { return curRow; }
    // Moves the cursor (clamped to the tracks and to row 0 and up). With
    // extend the block selection grows from where the cursor was; without
    // it the selection goes away.
    void moveCursor(int track, int row, bool extend = false);
    // The selected block, empty when nothing is selected.
    Block selection() const;
    // The selection, or the cursor's cell when nothing is selected.
    Block selectionOrCursor() const;

    // ---- Rows and time ----------------------------------------------------------

    void setTiming(double bpm, int rowsPerBeat);
    int rowsPerBeat() const { return rpb; }
    // Rows a second: BPM / 60 x rows per beat.
    double rowRate() const;
    double secondsAt(int row) const;
    // The row that is playing at seconds (the whole row it lies on).
    int rowAt(double seconds) const;
    // "mm:ss.mmm" for the start of row.
    std::string timeText(int row) const;

private:
    struct Change {
        int track;
        int row;
        bool before;
        track_key beforeKey;
        bool after;
        track_key afterKey;
    };
    using Step = std::vector<Change>;

    sync_track* mutableTrack(int index);
    void put(int track, int row, bool present, const track_key& key);
    void record(Step& step, int track, int row, bool present, const track_key& key);
    void commit(Step step);
    void clearInto(Step& step, const Block& block);

    sync_device* device = nullptr;
    std::vector<Step> history;
    size_t done = 0;  // steps applied: history[0, done)
    long savedAt = 0; // value of done at the last save; -1: never again
    bool restored = false;
    unsigned long changes = 0;
    Clipboard clip;
    int curTrack = 0;
    int curRow = 0;
    bool selecting = false;
    int anchorTrack = 0;
    int anchorRow = 0;
    double bpm = 80.0;
    int rpb = 8;
};

} // namespace Tolvane::Editor
