// Fuzzes the editor link: the input is the byte stream an editor sends after
// the greeting. A real loopback TCP listener in this process plays the
// editor; the device connects to it with sync_tcp_connect and pumps the
// stream through sync_update with real playback callbacks.
//
// The harness reads the stream as the protocol defines it and predicts what
// the device must do: the keys of every track, the seeks and pauses it calls
// back, the row reports and track requests the editor receives, the track
// files written on a save, and the exact message at which a bad command
// drops the link. The stream is delivered in slices that end after each
// seek, pause and save, with an update per slice, so that the row reports
// between them are exercised too; with the last slice the editor closes the
// connection and the device must notice.

#include "FuzzSupport.h"
#include "sync.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

using namespace Tolvane::Fuzz;

namespace {

// The tracks of the device, in creation order (= index on the link). The
// first is created before the link comes up, the others while it is up; the
// names exercise the file name encoding and a subdirectory on save.
const char* const TRACK_NAMES[] = {"cam.x", "fx:glow", "scene/part 1"};
const char* const TRACK_FILES[] = {"sync_cam.x.track", "sync_fx-3Aglow.track",
                                   "sync_scene/part-201.track"};
constexpr int TRACK_COUNT = 3;

// The device's base and the paths of the track files, set up once.
std::string base;
std::string trackFiles[TRACK_COUNT];

// Sends all of the bytes on a blocking socket.
void sendAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        FUZZ_CHECK(n > 0);
        data += n;
        size -= size_t(n);
    }
}

// Receives exactly size bytes within a second, or fails the run.
void recvAll(int fd, uint8_t* data, size_t size) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (size > 0) {
        FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, 100);
        if (ready < 0 && errno == EINTR)
            continue;
        FUZZ_CHECK(ready >= 0);
        if (ready == 0)
            continue;
        ssize_t n = recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        FUZZ_CHECK(n > 0);
        data += n;
        size -= size_t(n);
    }
}

// The signal that interrupts the device's socket calls.
const int INTERRUPT = SIGRTMIN + 3;

void onInterrupt(int) {}

// The player runs with signal handlers of the libraries it uses, and a
// signal can land in any blocking socket call of the link. A timer sends
// one to the fuzzing thread every 200 microseconds, with a handler that
// does not restart calls, so that every call the device makes must cope
// with being interrupted.
void startInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART
    FUZZ_CHECK(sigaction(INTERRUPT, &action, nullptr) == 0);

    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = INTERRUPT;
    timer_t timer;
    FUZZ_CHECK(timer_create(CLOCK_MONOTONIC, &event, &timer) == 0);
    itimerspec period{};
    period.it_interval.tv_nsec = 200000;
    period.it_value.tv_nsec = 200000;
    FUZZ_CHECK(timer_settime(timer, 0, &period, nullptr) == 0);
}

// The editor's end of the link: a listener on an ephemeral loopback port,
// kept for the whole fuzzing session. Its thread accepts each connection,
// checks the greeting, answers it and hands the socket to the fuzzing
// thread, which then writes the input itself.
class Editor {
public:
    Editor() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        FUZZ_CHECK(listener >= 0);
        int one = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        FUZZ_CHECK(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0);
        FUZZ_CHECK(listen(listener, 16) == 0);
        socklen_t len = sizeof(addr);
        FUZZ_CHECK(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
        boundPort = ntohs(addr.sin_port);
        // The editor's thread is no target of the interrupting signal.
        sigset_t blocked, previous;
        sigemptyset(&blocked);
        sigaddset(&blocked, INTERRUPT);
        pthread_sigmask(SIG_BLOCK, &blocked, &previous);
        std::thread(&Editor::serve, this).detach();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

    unsigned short port() const { return boundPort; }

    // The next greeted connection.
    int take() {
        std::unique_lock<std::mutex> lock(mutex);
        FUZZ_CHECK(
            ready.wait_for(lock, std::chrono::seconds(5), [this] { return !accepted.empty(); }));
        int fd = accepted.front();
        accepted.pop_front();
        return fd;
    }

private:
    void serve() {
        static const char greeting[] = "hello, synctracker!";
        static const char reply[] = "hello, demo!";
        for (;;) {
            int fd = accept(listener, nullptr, nullptr);
            if (fd < 0)
                continue;
            // Each slice must reach the device at once, not wait for the
            // acknowledgement of the one before.
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            // A device that does not greet is dropped; its own side reports
            // the failed connect.
            uint8_t got[sizeof(greeting) - 1];
            size_t have = 0;
            while (have < sizeof(got)) {
                ssize_t n = recv(fd, got + have, sizeof(got) - have, 0);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                have += size_t(n);
            }
            if (have < sizeof(got) || std::memcmp(got, greeting, sizeof(got)) != 0) {
                close(fd);
                continue;
            }
            sendAll(fd, reinterpret_cast<const uint8_t*>(reply), sizeof(reply) - 1);
            std::lock_guard<std::mutex> lock(mutex);
            accepted.push_back(fd);
            ready.notify_one();
        }
    }

    int listener = -1;
    unsigned short boundPort = 0;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<int> accepted;
};

Editor* editor = nullptr;

// The music as the editor drives it through the callbacks: what the device
// called, in order, and whether it plays (the player pauses on flag 1 only).
struct Player {
    bool playing = true;
    Bytes calls; // 'P' + flag, or 'R' + row big-endian
};

void onPause(void* user, int flag) {
    Player* player = static_cast<Player*>(user);
    FUZZ_CHECK(flag >= 0 && flag <= 255);
    player->playing = flag != 1;
    player->calls.push_back('P');
    player->calls.push_back(uint8_t(flag));
}

void onSetRow(void* user, int row) {
    Player* player = static_cast<Player*>(user);
    player->calls.push_back('R');
    for (int shift = 24; shift >= 0; shift -= 8)
        player->calls.push_back(uint8_t(uint32_t(row) >> shift));
}

int isPlaying(void* user) {
    return static_cast<Player*>(user)->playing ? 1 : 0;
}

const sync_cb CALLBACKS = {onPause, onSetRow, isPlaying};

void putBe32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

Bytes trackRequest(const char* name) {
    Bytes out{GET_TRACK};
    putBe32(out, uint32_t(std::strlen(name)));
    out.insert(out.end(), name, name + std::strlen(name));
    return out;
}

// What the device must have done, worked out from the stream alone.
struct Model {
    std::map<int32_t, Key> keys[TRACK_COUNT];
    std::optional<Bytes> saved[TRACK_COUNT]; // the files as of the last save
    Bytes calls;                             // as Player::calls
    Bytes toEditor;                          // every byte the editor receives
    bool playing = true;
    int32_t lastReported = -1;

    std::vector<Key> trackKeys(int track) const {
        std::vector<Key> out;
        for (const auto& entry : keys[track])
            out.push_back(entry.second);
        return out;
    }

    Bytes fileBytes(int track) const {
        Bytes out;
        putLe32(out, uint32_t(keys[track].size()));
        for (const auto& entry : keys[track]) {
            putLe32(out, uint32_t(entry.second.row));
            putLe32(out, entry.second.valueBits);
            out.push_back(entry.second.type);
        }
        return out;
    }
};

// Size of the fields after each command code the device understands.
int fieldSize(uint8_t code) {
    switch (code) {
    case SET_KEY:
        return 13;
    case DELETE_KEY:
        return 8;
    case SET_ROW:
        return 4;
    case PAUSE:
        return 1;
    case SAVE_TRACKS:
        return 0;
    default:
        return -1;
    }
}

// Reads the next slice of the stream from pos and applies it to the model:
// whole messages up to and including the first seek, pause or save. Returns
// whether the link survives the slice; a slice that drops it (an unknown
// code, a bad key, or a message cut short by the end of the stream) ends
// with the byte at which the device stops reading.
bool nextSlice(const uint8_t* data, size_t size, size_t& pos, Model& model,
               std::optional<int32_t>& seek) {
    while (pos < size) {
        const uint8_t code = data[pos];
        const int fields = fieldSize(code);
        if (fields < 0) {
            pos += 1;
            return false;
        }
        if (size - pos - 1 < size_t(fields)) {
            pos = size;
            return false;
        }
        const uint8_t* f = data + pos + 1;
        pos += 1 + size_t(fields);
        switch (code) {
        case SET_KEY: {
            const uint32_t track = getBe32(f);
            if (f[12] >= KEY_TYPE_COUNT || track >= uint32_t(TRACK_COUNT))
                return false;
            const Key key{int32_t(getBe32(f + 4)), getBe32(f + 8), f[12]};
            model.keys[track][key.row] = key;
            break;
        }
        case DELETE_KEY: {
            const uint32_t track = getBe32(f);
            if (track >= uint32_t(TRACK_COUNT))
                return false;
            model.keys[track].erase(int32_t(getBe32(f + 4))); // no key there: ignored
            break;
        }
        case SET_ROW:
            seek = int32_t(getBe32(f));
            model.calls.push_back('R');
            model.calls.insert(model.calls.end(), f, f + 4);
            return true;
        case PAUSE:
            model.playing = f[0] != 1;
            model.calls.push_back('P');
            model.calls.push_back(f[0]);
            return true;
        case SAVE_TRACKS:
            for (int t = 0; t < TRACK_COUNT; ++t)
                model.saved[t] = model.fileBytes(t);
            return true;
        }
    }
    return true;
}

// Waits until the device's socket holds at least count unread bytes, so
// that the next update sees the whole slice.
void waitForBytes(const sync_device* device, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        int pending = 0;
        FUZZ_CHECK(ioctl(device->link, FIONREAD, &pending) == 0);
        if (size_t(pending) >= count)
            return;
        FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
        std::this_thread::yield();
    }
}

// The editor got the three track requests and then exactly the row
// reports, and nothing else.
void expectReceived(int fd, const Bytes& expected) {
    Bytes received(expected.size());
    recvAll(fd, received.data(), received.size());
    FUZZ_CHECK(received == expected);
    uint8_t extra;
    FUZZ_CHECK(recv(fd, &extra, 1, MSG_DONTWAIT) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

void expectTracks(const sync_device* device, const Model& model) {
    FUZZ_CHECK(device->track_count == TRACK_COUNT);
    for (int t = 0; t < TRACK_COUNT; ++t) {
        expectWellFormed(device->tracks[t]);
        expectKeys(device->tracks[t], model.trackKeys(t));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path dir = makeScratchDir("editor_link");
    base = deviceBase(dir);
    for (int t = 0; t < TRACK_COUNT; ++t)
        trackFiles[t] = (dir / TRACK_FILES[t]).string();
    sync_device* device = sync_create_device(base.c_str());
    FUZZ_CHECK(device != nullptr && base == device->base);
    for (int t = 0; t < TRACK_COUNT; ++t)
        FUZZ_CHECK(sync_track_path(device->base, TRACK_NAMES[t]) == base + (TRACK_FILES[t] + 4));
    sync_destroy_device(device);
    editor = new Editor();
    startInterrupts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const std::string& file : trackFiles)
        std::remove(file.c_str());

    sync_device* device = sync_create_device(base.c_str());
    FUZZ_CHECK(device != nullptr);
    FUZZ_CHECK(sync_get_track(device, TRACK_NAMES[0]) != nullptr);
    // Every slice is applied by one update, however long its saves take.
    device->update_budget_ms = 0;
    int linked = sync_tcp_connect(device, "127.0.0.1", editor->port());
    while (linked != 0 && device->pending != SYNC_INVALID_SOCKET)
        linked = sync_tcp_connect(device, "127.0.0.1", editor->port());
    FUZZ_CHECK(linked == 0);
    const int fd = editor->take();
    // The device's requests and reports reach the editor as they are sent,
    // not after the acknowledgement of the one before.
    int nodelay = 0;
    socklen_t nodelaySize = sizeof(nodelay);
    FUZZ_CHECK(getsockopt(device->link, IPPROTO_TCP, TCP_NODELAY, &nodelay, &nodelaySize) == 0 &&
               nodelay != 0);
    for (int t = 1; t < TRACK_COUNT; ++t)
        FUZZ_CHECK(sync_get_track(device, TRACK_NAMES[t]) != nullptr);

    Model model;
    for (const char* name : TRACK_NAMES) {
        const Bytes request = trackRequest(name);
        model.toEditor.insert(model.toEditor.end(), request.begin(), request.end());
    }

    Player player;
    int32_t row = 0;
    size_t pos = 0;
    for (bool linked = true; linked;) {
        const size_t begin = pos;
        std::optional<int32_t> seek;
        const bool survives = nextSlice(data, size, pos, model, seek);
        const bool last = !survives || pos == size;
        if (last) {
            // The device sends nothing more: its link ends in this update.
            // The editor takes everything and closes the connection before
            // the device does, so that the device's end never lingers in
            // TIME_WAIT (a long run would use up the ephemeral ports).
            expectReceived(fd, model.toEditor);
            sendAll(fd, data + begin, pos - begin);
            close(fd);
        } else {
            sendAll(fd, data + begin, pos - begin);
            waitForBytes(device, pos - begin);
        }

        const int result = sync_update(device, row, &CALLBACKS, &player);
        if (last) {
            // The bad command, the cut message or the editor's close drops
            // the link at once; the tracks keep their keys.
            FUZZ_CHECK(result == -1);
            FUZZ_CHECK(device->link == SYNC_INVALID_SOCKET);
            linked = false;
        } else {
            FUZZ_CHECK(result == 0);
            if (model.playing && row != model.lastReported) {
                model.toEditor.push_back(SET_ROW);
                putBe32(model.toEditor, uint32_t(row));
                model.lastReported = row;
            }
        }
        FUZZ_CHECK(device->last_row == model.lastReported);
        FUZZ_CHECK(player.playing == model.playing);
        FUZZ_CHECK(player.calls == model.calls);
        expectTracks(device, model);

        // The music moves on: to the row sought, else one row while playing.
        if (seek)
            row = *seek;
        else if (player.playing)
            row = int32_t(uint32_t(row) + 1);
    }
    FUZZ_CHECK(sync_update(device, row, &CALLBACKS, &player) == -1);

    for (int t = 0; t < TRACK_COUNT; ++t)
        expectSamples(device->tracks[t]);
    for (int t = 0; t < TRACK_COUNT; ++t)
        if (model.saved[t])
            FUZZ_CHECK(readFile(trackFiles[t]) == *model.saved[t]);
        else
            FUZZ_CHECK(access(trackFiles[t].c_str(), F_OK) != 0);

    sync_destroy_device(device);
    return 0;
}
