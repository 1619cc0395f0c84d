#pragma once

// Helpers shared by the sync tests: a scratch working directory (track paths
// are relative to it), raw track file bytes, and waiting on the editor link.

#include "TempDir.h"
#include "sync.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace Tolvane::Testing {

using Bytes = std::vector<uint8_t>;

// Makes a fresh directory under the system's temporary directory the
// working directory for its lifetime, then returns and removes it.
class ScratchDir {
public:
    ScratchDir()
    {
        old = std::filesystem::current_path();
        dir = makeTempDirectory("tolvane-sync-");
        if (!dir.empty())
            std::filesystem::current_path(dir);
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::current_path(old, ignored);
        if (!dir.empty())
            std::filesystem::remove_all(dir, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool ok() const { return !dir.empty(); }
    const std::filesystem::path& path() const { return dir; }

    // Names of every entry below the directory, relative, sorted.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::recursive_directory_iterator(dir))
            names.push_back(std::filesystem::relative(e.path(), dir).string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path old;
    std::filesystem::path dir;
};

inline void putLe32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

inline uint32_t floatBits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof(u));
    return u;
}

// The bytes of a track file holding count and then the given keys
// (row, value, type byte), little-endian.
struct FileKey {
    int32_t row;
    float value;
    uint8_t type;
};

inline Bytes trackFileBytes(int32_t count, const std::vector<FileKey>& keys)
{
    Bytes out;
    putLe32(out, uint32_t(count));
    for (const FileKey& k : keys) {
        putLe32(out, uint32_t(k.row));
        putLe32(out, floatBits(k.value));
        out.push_back(k.type);
    }
    return out;
}

inline Bytes trackFileBytes(const std::vector<FileKey>& keys)
{
    return trackFileBytes(int32_t(keys.size()), keys);
}

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits until the device's link has something to read (or is closed).
inline bool waitReadable(const sync_device* device, int timeoutMs = 5000)
{
    if (device->link == SYNC_INVALID_SOCKET)
        return false;
#ifdef _WIN32
    WSAPOLLFD pfd{static_cast<SOCKET>(device->link), POLLIN, 0};
    return WSAPoll(&pfd, 1, timeoutMs) > 0;
#else
    pollfd pfd{device->link, POLLIN, 0};
    return poll(&pfd, 1, timeoutMs) > 0;
#endif
}

} // namespace Tolvane::Testing
