#include "ShaderWatcher.h"

#include <filesystem>

#ifdef __linux__
#include <cerrno>
#include <climits>
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace Tolvane {

ShaderWatcher::ShaderWatcher() = default;

ShaderWatcher::~ShaderWatcher() {
#ifdef __linux__
    if (queue >= 0) {
        close(queue);
    }
#endif
}

#ifdef __linux__

bool ShaderWatcher::watch(const std::vector<std::string>& paths) {
    if (queue < 0) {
        queue = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (queue < 0) {
            return false;
        }
    }
    // A write closed, or a file renamed onto the name: the file is whole.
    // Plain writes are not watched, so a file is never read half written.
    constexpr uint32_t SAVED = IN_CLOSE_WRITE | IN_MOVED_TO;
    bool all = true;
    for (const std::string& path : paths) {
        const std::filesystem::path file(path);
        const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
        const int descriptor = inotify_add_watch(queue, folder.c_str(), SAVED | IN_ONLYDIR);
        if (descriptor < 0) {
            all = false;
            continue;
        }
        // Two files in one folder share its watch: the system hands back the
        // same descriptor.
        files.push_back({descriptor, file.filename().string()});
    }
    return all;
}

bool ShaderWatcher::drainEvents() {
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    bool touched = false;
    for (;;) {
        const ssize_t length = read(queue, buffer, sizeof(buffer));
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length <= 0) {
            return touched;
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // An overflowing queue lost events: one of them may have been a save.
            if (event->mask & IN_Q_OVERFLOW) {
                touched = true;
                continue;
            }
            for (const WatchedFile& file : files) {
                touched = touched || (event->wd == file.folder && event->len > 0 && file.name == event->name);
            }
        }
    }
}

#else

bool ShaderWatcher::watch(const std::vector<std::string>&) {
    return false;
}

bool ShaderWatcher::drainEvents() {
    return false;
}

#endif

bool ShaderWatcher::poll() {
    if (queue < 0) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (drainEvents()) {
        pending = true;
        due = now + DEBOUNCE;
    }
    if (!pending || now < due) {
        return false;
    }
    pending = false;
    return true;
}

} // namespace Tolvane
