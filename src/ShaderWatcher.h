#pragma once

// Tells the frame loop when a shader file has been saved, so that editing
// mode can rebuild the program without a key press.
//
// It watches the folders that hold the files (inotify on Linux,
// ReadDirectoryChangesW on Windows), not the
// files themselves: many editors save by writing a new file and renaming it
// over the old one, and a watch on the old file would hear nothing from the
// second save on. A file counts as saved when a writer closes it or a file
// is renamed onto its name; a burst of such events (both files saved, or a
// save that writes twice) is reported once, after DEBOUNCE of quiet.
//
// Use: watch(paths) once, then poll() once a frame; poll never blocks.
// Windows reports writes, not a writer closing the file: there a save counts
// from its last write, and DEBOUNCE of quiet is what keeps a file from being
// read half written. Elsewhere watch returns false and poll never reports.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace Tolvane {

class ShaderWatcher {
public:
    // How long the watched files must stay quiet before a change is
    // reported. Saves of one burst come milliseconds apart; what is left of
    // 100 ms covers the frame loop's next poll and the frame that shows the
    // new program on a 60 Hz display.
    static constexpr std::chrono::milliseconds DEBOUNCE{60};

    ShaderWatcher();
    ~ShaderWatcher();
    ShaderWatcher(const ShaderWatcher&) = delete;
    ShaderWatcher& operator=(const ShaderWatcher&) = delete;

    // Starts watching the folders of the files at paths (relative to the
    // working directory or absolute). Returns false when not every folder can
    // be watched; the ones that can are watched all the same.
    bool watch(const std::vector<std::string>& paths);

    // Reads what happened since the last call without waiting. Returns true
    // once a watched file has been saved and all has been quiet since for
    // DEBOUNCE; then false until the next save.
    bool poll();

private:
    struct WatchedFile {
        int folder = -1;
        std::string name;
    };

    // Takes every event the system has queued; true when one concerns a
    // watched file.
    bool drainEvents();

    // The inotify queue; on Windows 1 once a folder is watched.
    int queue = -1;
    std::vector<WatchedFile> files;
#ifdef _WIN32
    // A watched folder with its change read in progress; files[i].folder
    // indexes these.
    struct Folder;
    std::vector<std::unique_ptr<Folder>> folders;
#endif
    bool pending = false;
    std::chrono::steady_clock::time_point due;
};

} // namespace Tolvane
