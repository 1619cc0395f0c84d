#include "ShaderWatcher.h"

#include <filesystem>

#ifdef __linux__
#include <cerrno>
#include <climits>
#include <sys/inotify.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <windows.h>
#endif

namespace Tolvane {

#ifdef _WIN32

struct ShaderWatcher::Folder {
    std::filesystem::path path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    alignas(DWORD) char buffer[16384];

    ~Folder() {
        if (overlapped.hEvent != nullptr) {
            // The system writes into buffer until the read is over.
            DWORD ignored = 0;
            if (CancelIoEx(handle, &overlapped) || GetLastError() != ERROR_NOT_FOUND) {
                GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
            }
            CloseHandle(overlapped.hEvent);
        }
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }

    // Asks for the next batch of changes in the folder, without waiting.
    bool read() {
        ResetEvent(overlapped.hEvent);
        return ReadDirectoryChangesW(handle, buffer, sizeof buffer, FALSE,
                                     FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                         FILE_NOTIFY_CHANGE_SIZE,
                                     nullptr, &overlapped, nullptr) != 0;
    }
};

#endif

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
                touched = touched ||
                          (event->wd == file.folder && event->len > 0 && file.name == event->name);
            }
        }
    }
}

#elif defined(_WIN32)

bool ShaderWatcher::watch(const std::vector<std::string>& paths) {
    bool all = true;
    for (const std::string& path : paths) {
        const std::filesystem::path file = std::filesystem::u8path(path);
        const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
        int index = -1;
        for (size_t i = 0; i < folders.size(); ++i) {
            std::error_code code;
            if (std::filesystem::equivalent(folders[i]->path, folder, code)) {
                index = static_cast<int>(i);
            }
        }
        if (index < 0) {
            auto watched = std::make_unique<Folder>();
            watched->path = folder;
            watched->handle = CreateFileW(
                folder.c_str(), FILE_LIST_DIRECTORY,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
            if (watched->handle == INVALID_HANDLE_VALUE) {
                all = false;
                continue;
            }
            watched->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (watched->overlapped.hEvent == nullptr || !watched->read()) {
                all = false;
                continue;
            }
            index = static_cast<int>(folders.size());
            folders.push_back(std::move(watched));
        }
        files.push_back({index, file.filename().u8string()});
        queue = 1;
    }
    return all;
}

bool ShaderWatcher::drainEvents() {
    bool touched = false;
    for (size_t i = 0; i < folders.size(); ++i) {
        Folder& folder = *folders[i];
        DWORD length = 0;
        if (!GetOverlappedResult(folder.handle, &folder.overlapped, &length, FALSE)) {
            continue; // nothing yet (or the folder is gone)
        }
        // An empty batch means the system's buffer overflowed and lost
        // changes: one of them may have been a save.
        touched = touched || length == 0;
        for (DWORD offset = 0; offset < length;) {
            const auto* change =
                reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(folder.buffer + offset);
            const std::wstring wide(change->FileName, change->FileNameLength / sizeof(WCHAR));
            const std::string name = std::filesystem::path(wide).u8string();
            if (change->Action != FILE_ACTION_REMOVED &&
                change->Action != FILE_ACTION_RENAMED_OLD_NAME) {
                for (const WatchedFile& file : files) {
                    touched = touched || (file.folder == static_cast<int>(i) && file.name == name);
                }
            }
            if (change->NextEntryOffset == 0) {
                break;
            }
            offset += change->NextEntryOffset;
        }
        folder.read();
    }
    return touched;
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
