#pragma once

// Helpers shared by the sync tests and benchmarks: the temporary directory
// and track file bytes of support/TestFiles.h (track paths are relative to
// the working directory: enter the directory), and waiting on the editor link.

#include "support/TestFiles.h"
#include "sync.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace Tolvane::Testing {

using Bytes = std::vector<uint8_t>;

// The parts one after the other, e.g. several messages sent as one batch.
inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline uint32_t floatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof(u));
    return u;
}

// Waits until the device's link has something to read (or is closed).
inline bool waitReadable(const sync_device* device, int timeoutMs = 5000) {
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
