#include "Document.h"
#include "Cosmonaut.h"

#include "files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace Tolvane::Editor {

namespace {

// Inside a recovery folder: the track names, one a line, in track order.
constexpr const char* RECOVERY_INDEX = "tracks";

// The device seen with another base: the same tracks, their files elsewhere.
// Only the base differs, and nothing is freed through the copy.
sync_device withBase(const sync_device& device, std::string& base) {
    sync_device view = device;
    view.base = base.data();
    return view;
}

std::string recoveryBase(const std::string& dir) {
    return dir + "/" + Cosmonaut::TRACK_FILE_BASE;
}

bool sameKey(const track_key& a, const track_key& b) {
    return a.row == b.row && a.value == b.value && a.type == b.type;
}

} // namespace

// ---- Construction -------------------------------------------------------------

Document::Document() : device(sync_create_device(Cosmonaut::TRACK_FILE_BASE)) {}

Document::~Document() {
    sync_destroy_device(device);
}

// ---- Tracks -------------------------------------------------------------------

std::vector<std::string> Document::load(const std::vector<std::string>& names) {
    std::vector<std::string> refused;
    for (const std::string& name : names) {
        int index = addTrack(name);
        if (index < 0)
            continue;
        // An empty track from a file with something in it: ask whether the
        // library refused the file (a file holding no keys loads fine).
        std::error_code error;
        std::string path = trackPath(index);
        if (track(index).key_count == 0 && fs::exists(path, error) &&
            fs::file_size(path, error) > 0 && sync_load_track(device, mutableTrack(index)) != 0)
            refused.push_back(path);
    }
    return refused;
}

int Document::addTrack(const std::string& name) {
    int index = findTrack(name);
    if (index >= 0)
        return index;
    if (!device || !sync_get_track(device, name.c_str()))
        return -1;
    return device->track_count - 1;
}

int Document::findTrack(const std::string& name) const {
    for (int i = 0; i < trackCount(); ++i)
        if (name == device->tracks[i]->name)
            return i;
    return -1;
}

int Document::trackCount() const {
    return device ? device->track_count : 0;
}

const sync_track& Document::track(int index) const {
    return *device->tracks[index];
}

sync_track* Document::mutableTrack(int index) {
    return device->tracks[index];
}

std::string Document::trackPath(int index) const {
    return sync_track_path(device->base, track(index).name);
}

int Document::keyAt(int track, int row) const {
    int index = sync_find_key(&this->track(track), row);
    return index >= 0 ? index : -1;
}

int Document::keyAtOrAbove(int track, int row) const {
    int index = sync_find_key(&this->track(track), row);
    return index >= 0 ? index : ~index - 1;
}

int Document::lastKeyRow() const {
    int last = 0;
    for (int i = 0; i < trackCount(); ++i)
        if (track(i).key_count > 0)
            last = std::max(last, track(i).keys[track(i).key_count - 1].row);
    return last;
}

// ---- Edits --------------------------------------------------------------------

// Changes one key in the track and tells the observer.
void Document::put(int track, int row, bool present, const track_key& key) {
    ++changes;
    if (present)
        sync_set_key(mutableTrack(track), key);
    else
        sync_del_key(mutableTrack(track), row);
    if (onChange)
        onChange(track, row);
}

// Applies a change and adds it to the step, remembering what was there.
void Document::record(Step& step, int track, int row, bool present, const track_key& key) {
    Change change{track, row, false, {}, present, key};
    int index = keyAt(track, row);
    if (index >= 0) {
        change.before = true;
        change.beforeKey = this->track(track).keys[index];
    }
    if (change.before == present && (!present || sameKey(change.beforeKey, key)))
        return;
    put(track, row, present, key);
    step.push_back(change);
}

void Document::commit(Step step) {
    if (step.empty())
        return;
    history.resize(done);
    if (savedAt > long(done))
        savedAt = -1;
    history.push_back(std::move(step));
    done = history.size();
}

void Document::clearInto(Step& step, const Block& block) {
    for (int t = std::max(block.firstTrack, 0); t <= std::min(block.lastTrack, trackCount() - 1);
         ++t) {
        std::vector<int> rows;
        const sync_track& tr = track(t);
        for (int i = std::max(keyAtOrAbove(t, block.firstRow), 0); i < tr.key_count; ++i) {
            if (tr.keys[i].row > block.lastRow)
                break;
            if (tr.keys[i].row >= block.firstRow)
                rows.push_back(tr.keys[i].row);
        }
        for (int row : rows)
            record(step, t, row, false, {});
    }
}

void Document::setKey(int track, int row, float value) {
    const sync_track& tr = this->track(track);
    int index = keyAtOrAbove(track, row);
    key_type type = index >= 0 ? tr.keys[index].type : KEY_STEP;
    Step step;
    record(step, track, row, true, track_key{row, value, type});
    commit(std::move(step));
}

bool Document::deleteKey(int track, int row) {
    if (keyAt(track, row) < 0)
        return false;
    Step step;
    record(step, track, row, false, {});
    commit(std::move(step));
    return true;
}

bool Document::cycleInterpolation(int track, int row) {
    int index = keyAtOrAbove(track, row);
    if (index < 0)
        return false;
    track_key key = this->track(track).keys[index];
    key.type = key_type((int(key.type) + 1) % KEY_TYPE_COUNT);
    Step step;
    record(step, track, key.row, true, key);
    commit(std::move(step));
    return true;
}

bool Document::clearBlock(const Block& block) {
    Step step;
    clearInto(step, block);
    bool any = !step.empty();
    commit(std::move(step));
    return any;
}

void Document::copy(const Block& block) {
    if (block.empty())
        return;
    clip = Clipboard{};
    clip.tracks = block.lastTrack - block.firstTrack + 1;
    clip.rows = block.lastRow - block.firstRow + 1;
    for (int t = block.firstTrack; t <= block.lastTrack && t < trackCount(); ++t) {
        const sync_track& tr = track(t);
        for (int i = std::max(keyAtOrAbove(t, block.firstRow), 0); i < tr.key_count; ++i) {
            const track_key& key = tr.keys[i];
            if (key.row > block.lastRow)
                break;
            if (key.row >= block.firstRow)
                clip.entries.push_back(
                    {t - block.firstTrack, key.row - block.firstRow, key.value, key.type});
        }
    }
}

void Document::cut(const Block& block) {
    copy(block);
    clearBlock(block);
}

bool Document::paste(int track, int row) {
    if (clip.tracks == 0)
        return false;
    Step step;
    clearInto(step, Block{track, track + clip.tracks - 1, row, row + clip.rows - 1});
    for (const Clipboard::Entry& entry : clip.entries)
        if (track + entry.track < trackCount())
            record(step, track + entry.track, row + entry.row, true,
                   track_key{row + entry.row, entry.value, entry.type});
    commit(std::move(step));
    return true;
}

bool Document::undo() {
    if (done == 0)
        return false;
    const Step& step = history[--done];
    for (auto change = step.rbegin(); change != step.rend(); ++change)
        put(change->track, change->row, change->before, change->beforeKey);
    return true;
}

bool Document::redo() {
    if (done == history.size())
        return false;
    for (const Change& change : history[done++])
        put(change.track, change.row, change.after, change.afterKey);
    return true;
}

// ---- Saving -------------------------------------------------------------------

bool Document::modified() const {
    return restored || savedAt != long(done);
}

bool Document::save() {
    if (!device || sync_save_tracks(device) != 0)
        return false;
    markSaved();
    return true;
}

void Document::markSaved() {
    savedAt = long(done);
    restored = false;
}

bool Document::writeRecovery(const std::string& dir) const {
    std::error_code error;
    fs::create_directories(dir, error);
    std::string base = recoveryBase(dir);
    sync_device view = withBase(*device, base);
    if (sync_save_tracks(&view) != 0)
        return false;
    // The index last, replaced whole, so that it never names a track whose
    // file is not there yet.
    std::string index = dir + "/" + RECOVERY_INDEX;
    {
        std::ofstream out(index + ".tmp", std::ios::binary | std::ios::trunc);
        for (int i = 0; i < trackCount(); ++i)
            out << track(i).name << '\n';
        if (!out.flush())
            return false;
    }
    // (A plain rename on Windows refuses to replace an existing file.)
    return sync_replace_file((index + ".tmp").c_str(), index.c_str()) == 0;
}

bool Document::recoveryExists(const std::string& dir) {
    std::error_code error;
    return fs::exists(dir + "/" + RECOVERY_INDEX, error);
}

bool Document::restoreRecovery(const std::string& dir) {
    std::ifstream in(dir + "/" + RECOVERY_INDEX, std::ios::binary);
    if (!in)
        return false;
    std::string base = recoveryBase(dir);
    sync_device view = withBase(*device, base);
    std::string name;
    bool all = true;
    while (std::getline(in, name)) {
        int index = addTrack(name);
        if (index < 0) {
            all = false;
            continue;
        }
        view.tracks = device->tracks;
        view.track_count = device->track_count;
        all = sync_load_track(&view, mutableTrack(index)) == 0 && all;
    }
    history.clear();
    done = 0;
    savedAt = -1;
    restored = true;
    ++changes;
    return all;
}

void Document::removeRecovery(const std::string& dir) {
    std::error_code error;
    fs::remove_all(dir, error);
}

// ---- Cursor and selection ---------------------------------------------------------

void Document::moveCursor(int track, int row, bool extend) {
    if (extend && !selecting) {
        selecting = true;
        anchorTrack = curTrack;
        anchorRow = curRow;
    } else if (!extend) {
        selecting = false;
    }
    curTrack = std::clamp(track, 0, std::max(trackCount() - 1, 0));
    curRow = std::max(row, 0);
}

Block Document::selection() const {
    if (!selecting)
        return Block{};
    return Block{std::min(anchorTrack, curTrack), std::max(anchorTrack, curTrack),
                 std::min(anchorRow, curRow), std::max(anchorRow, curRow)};
}

Block Document::selectionOrCursor() const {
    return selecting ? selection() : Block{curTrack, curTrack, curRow, curRow};
}

// ---- Rows and time ------------------------------------------------------------------

void Document::setTiming(double beatsPerMinute, int rowsPerBeat) {
    bpm = beatsPerMinute;
    rpb = rowsPerBeat;
}

double Document::rowRate() const {
    return bpm / 60.0 * rpb;
}

double Document::secondsAt(int row) const {
    double rate = rowRate();
    return rate > 0.0 ? row / rate : 0.0;
}

int Document::rowAt(double seconds) const {
    // The same float row the player computes, so both agree on the row.
    float row = float(rowRate() * seconds);
    return int(std::floor(double(row)));
}

std::string Document::timeText(int row) const {
    long ms = std::lround(secondsAt(row) * 1000.0);
    char text[32];
    std::snprintf(text, sizeof(text), "%02ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
    return text;
}

} // namespace Tolvane::Editor
