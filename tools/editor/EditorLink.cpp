#include "EditorLink.h"

#include "sockets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Tolvane::Editor {

namespace {

const std::string PLAYER_GREETING = "hello, synctracker!";
const std::string EDITOR_GREETING = "hello, demo!";

void putBe32(EditorLink::Bytes& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

uint32_t getBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// A non-blocking UDP socket on the loopback interface, connected to itself.
sync_socket makeWakeSocket() {
    sync_socket s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == SYNC_INVALID_SOCKET)
        return s;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        sync_socket_set_nonblocking(s) != 0) {
        sync_socket_close(s);
        return SYNC_INVALID_SOCKET;
    }
    return s;
}

std::string hexByte(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02x", b);
    return text;
}

} // namespace

// ---- Construction ---------------------------------------------------------

EditorLink::EditorLink(uint16_t port)
    : EditorLink(Options{port, "hello, demo!", {}, "127.0.0.1", false, {}}) {}

EditorLink::EditorLink(Options opts) : options(std::move(opts)) {
    if (sync_socket_startup() != 0) {
        bindError = "the socket library did not start";
        return;
    }
    wakeSocket = makeWakeSocket();
    if (wakeSocket == SYNC_INVALID_SOCKET) {
        bindError = "cannot make the wake-up socket";
        return;
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int resolved =
        getaddrinfo(options.host.c_str(), std::to_string(options.port).c_str(), &hints, &found);
    if (resolved != 0) {
        bindError = "cannot resolve " + options.host + ": " + gai_strerror(resolved);
        return;
    }
    sync_socket s = socket(found->ai_family, SOCK_STREAM, 0);
    if (s == SYNC_INVALID_SOCKET) {
        bindError = std::strerror(errno);
        freeaddrinfo(found);
        return;
    }
#ifndef _WIN32
    // (On Windows this option would let a second listener take the port.)
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
#endif
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    if (bind(s, found->ai_addr, static_cast<socklen_t>(found->ai_addrlen)) != 0 ||
        listen(s, 16) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        sync_socket_set_nonblocking(s) != 0) {
        bindError = std::strerror(errno);
        freeaddrinfo(found);
        sync_socket_close(s);
        return;
    }
    freeaddrinfo(found);
    listenFd = s;
    boundPort = addr.ss_family == AF_INET6
                    ? ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port)
                    : ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    thread = std::thread(&EditorLink::run, this);
}

EditorLink::~EditorLink() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake();
    if (thread.joinable())
        thread.join();
    if (client.fd != SYNC_INVALID_SOCKET)
        sync_socket_close(client.fd);
    if (listenFd != SYNC_INVALID_SOCKET)
        sync_socket_close(listenFd);
    if (wakeSocket != SYNC_INVALID_SOCKET)
        sync_socket_close(wakeSocket);
}

bool EditorLink::listening() const {
    return listenFd != SYNC_INVALID_SOCKET;
}

std::string EditorLink::listenError() const {
    return bindError;
}

uint16_t EditorLink::port() const {
    return boundPort;
}

// ---- The editor's thread ----------------------------------------------------

void EditorLink::run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        sync_pollfd fds[3] = {};
        fds[0] = {listenFd, POLLIN, 0};
        fds[1] = {wakeSocket, POLLIN, 0};
        unsigned long count = 2;
        uint64_t polledId = client.id;
        if (client.fd != SYNC_INVALID_SOCKET) {
            short events = POLLIN;
            if (client.outPos < client.out.size())
                events |= POLLOUT;
            fds[2] = {client.fd, events, 0};
            count = 3;
        }

        lock.unlock();
        int ready = sync_poll(fds, count, 100);
        lock.lock();
        if (ready < 0)
            continue;

        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (recv(wakeSocket, drain, sizeof(drain), 0) > 0) {
            }
        }
        if (closeRequested) {
            closeRequested = false;
            if (client.fd != SYNC_INVALID_SOCKET)
                dropClient("connection closed by the editor");
        }
        if (count == 3 && client.fd != SYNC_INVALID_SOCKET && client.id == polledId) {
            if (fds[2].revents & (POLLIN | POLLHUP | POLLERR))
                readClient();
            if (client.fd != SYNC_INVALID_SOCKET && client.id == polledId &&
                (fds[2].revents & POLLOUT))
                writeClient();
        }
        if (fds[0].revents & POLLIN)
            acceptClient();
        changed.notify_all();
    }
}

void EditorLink::acceptClient() {
    sync_socket fd = accept(listenFd, nullptr, nullptr);
    if (fd == SYNC_INVALID_SOCKET)
        return;
    sync_socket_set_nonblocking(fd);
    // Every message is small and wanted at once: no waiting to fill packets.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
    if (client.fd != SYNC_INVALID_SOCKET)
        dropClient("connection replaced by a new one");
    client = Connection{};
    client.fd = fd;
    client.id = nextId++;
    ++connections;
    greeting.clear();
    received.clear();
    requests.clear();
    logEvent("connection " + std::to_string(connections) + " accepted");
}

void EditorLink::readClient() {
    uint8_t buffer[65536];
    for (;;) {
        const auto n = recv(client.fd, reinterpret_cast<char*>(buffer), sizeof(buffer), 0);
        if (n > 0) {
            client.in.insert(client.in.end(), buffer, buffer + n);
            received.insert(received.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && sync_socket_interrupted())
            continue;
        if (n < 0 && sync_socket_would_block())
            break;
        // Parse what came before the end of the stream, then close.
        parseInput();
        if (client.fd != SYNC_INVALID_SOCKET)
            dropClient(n == 0 ? "connection closed by the player" : "receive failed");
        return;
    }
    parseInput();
}

void EditorLink::parseInput() {
    size_t pos = 0;
    Bytes& in = client.in;

    if (!client.answered) {
        if (in.size() < PLAYER_GREETING.size())
            return;
        greeting.assign(in.begin(), in.begin() + PLAYER_GREETING.size());
        pos = PLAYER_GREETING.size();
        logEvent("greeting \"" + greeting + "\"");
        if (greeting != PLAYER_GREETING) {
            errors.push_back("bad greeting \"" + greeting + "\"");
            dropClient("bad greeting");
            return;
        }
        const std::string& reply = options.greetingReply;
        client.out.insert(client.out.end(), reply.begin(), reply.end());
        client.replyLeft = reply.size();
        client.answered = true;
        client.greeted = reply == EDITOR_GREETING;
        logEvent("answered \"" + reply + "\"");
        if (client.greeted)
            pushEvent(Event::CONNECTED);
    }

    while (pos < in.size()) {
        uint8_t cmd = in[pos];
        size_t left = in.size() - pos;
        if (cmd == GET_TRACK) {
            if (left < 5)
                break;
            uint32_t len = getBe32(&in[pos + 1]);
            if (len > MAX_NAME_LENGTH) {
                errors.push_back("track name length " + std::to_string(len));
                dropClient("track request of " + std::to_string(len) +
                           " bytes refused (the longest name is " +
                           std::to_string(MAX_NAME_LENGTH) + ")");
                return;
            }
            if (left < 5 + size_t(len))
                break;
            std::string name(in.begin() + pos + 5, in.begin() + pos + 5 + len);
            pos += 5 + len;
            requests.push_back(name);
            logEvent("track " + std::to_string(requests.size() - 1) + " requested: " + name);
            pushEvent(Event::TRACK_REQUESTED, name, int32_t(requests.size() - 1));
        } else if (cmd == SET_ROW) {
            if (left < 5)
                break;
            int32_t row = int32_t(getBe32(&in[pos + 1]));
            pos += 5;
            rows.push_back(row);
            logEvent("row " + std::to_string(row));
            pushEvent(Event::ROW_REPORTED, {}, row);
        } else {
            errors.push_back("unexpected byte " + hexByte(cmd));
            dropClient("unexpected byte " + hexByte(cmd));
            return;
        }
    }
    in.erase(in.begin(), in.begin() + pos);
}

void EditorLink::writeClient() {
    while (client.outPos < client.out.size()) {
        const auto n =
            send(client.fd, reinterpret_cast<const char*>(client.out.data() + client.outPos),
                 static_cast<int>(client.out.size() - client.outPos), SYNC_SEND_FLAGS);
        if (n < 0 && sync_socket_interrupted())
            continue;
        if (n < 0 && sync_socket_would_block())
            break;
        if (n <= 0) {
            dropClient("send failed");
            return;
        }
        client.outPos += size_t(n);
        size_t fromReply = std::min(client.replyLeft, size_t(n));
        client.replyLeft -= fromReply;
        client.sent += uint64_t(n) - fromReply;
    }
    if (client.outPos == client.out.size()) {
        client.out.clear();
        client.outPos = 0;
    }
}

void EditorLink::dropClient(const std::string& why) {
    if (client.fd != SYNC_INVALID_SOCKET) {
        sync_socket_close(client.fd);
        pushEvent(Event::DISCONNECTED, why);
    }
    client = Connection{};
    logEvent(why);
    changed.notify_all();
}

void EditorLink::wake() {
    if (wakeSocket != SYNC_INVALID_SOCKET) {
        char byte = 1;
        send(wakeSocket, &byte, 1, 0);
    }
}

void EditorLink::pushEvent(Event::Kind kind, std::string text, int32_t value) {
    if (!options.queueEvents)
        return;
    events.push_back(Event{kind, client.id, std::move(text), value});
    if (options.notify)
        options.notify();
}

std::vector<EditorLink::Event> EditorLink::takeEvents() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Event> taken;
    taken.swap(events);
    return taken;
}

void EditorLink::logEvent(const std::string& text) {
    if (options.log)
        options.log(text);
}

template <class Pred>
bool EditorLink::waitFor(Timeout timeout, Pred pred) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, pred);
}

// ---- Connections --------------------------------------------------------------

void EditorLink::setGreetingReply(std::string reply) {
    std::lock_guard<std::mutex> lock(mutex);
    options.greetingReply = std::move(reply);
}

bool EditorLink::waitForClient(Timeout timeout) {
    return waitFor(timeout, [this] { return client.fd != SYNC_INVALID_SOCKET && client.greeted; });
}

bool EditorLink::waitForConnections(int n, Timeout timeout) {
    return waitFor(timeout, [this, n] { return connections >= n; });
}

bool EditorLink::waitForDisconnect(Timeout timeout) {
    return waitFor(timeout, [this] { return client.fd == SYNC_INVALID_SOCKET; });
}

int EditorLink::connectionCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return connections;
}

bool EditorLink::connected() const {
    std::lock_guard<std::mutex> lock(mutex);
    return client.fd != SYNC_INVALID_SOCKET && client.greeted;
}

std::string EditorLink::lastGreeting() const {
    std::lock_guard<std::mutex> lock(mutex);
    return greeting;
}

void EditorLink::closeConnection() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (client.fd == SYNC_INVALID_SOCKET || thread.get_id() == std::thread::id())
            return;
        closeRequested = true;
    }
    wake();
    waitFor(DEFAULT_TIMEOUT, [this] { return !closeRequested; });
}

// ---- What the player sent -----------------------------------------------------

std::vector<std::string> EditorLink::trackRequests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
}

bool EditorLink::waitForTrackRequests(size_t n, Timeout timeout) {
    return waitFor(timeout, [this, n] { return requests.size() >= n; });
}

std::vector<int32_t> EditorLink::rowReports() const {
    std::lock_guard<std::mutex> lock(mutex);
    return rows;
}

void EditorLink::clearRowReports() {
    std::lock_guard<std::mutex> lock(mutex);
    rows.clear();
}

bool EditorLink::waitForRowReport(const std::function<bool(int32_t)>& predicate, Timeout timeout) {
    return waitFor(timeout, [this, &predicate] {
        for (int32_t row : rows)
            if (predicate(row))
                return true;
        return false;
    });
}

bool EditorLink::waitForRowReport(int32_t row, Timeout timeout) {
    return waitForRowReport([row](int32_t r) { return r == row; }, timeout);
}

EditorLink::Bytes EditorLink::receivedBytes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

std::vector<std::string> EditorLink::protocolErrors() const {
    std::lock_guard<std::mutex> lock(mutex);
    return errors;
}

// ---- Sending to the player ------------------------------------------------------

bool EditorLink::queue(const Bytes& bytes, uint64_t* id, uint64_t* target, uint64_t only) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (client.fd == SYNC_INVALID_SOCKET || !client.greeted || (only != 0 && client.id != only))
            return false;
        client.out.insert(client.out.end(), bytes.begin(), bytes.end());
        client.queued += bytes.size();
        *id = client.id;
        *target = client.queued;
    }
    wake();
    return true;
}

bool EditorLink::waitSent(uint64_t id, uint64_t target, Timeout timeout) {
    waitFor(timeout, [this, id, target] { return client.id != id || client.sent >= target; });
    std::lock_guard<std::mutex> lock(mutex);
    return client.id == id && client.sent >= target;
}

bool EditorLink::sendRaw(const Bytes& bytes, Timeout timeout) {
    uint64_t id = 0, target = 0;
    return queue(bytes, &id, &target) && waitSent(id, target, timeout);
}

bool EditorLink::sendPartially(const Bytes& message, size_t count, Timeout timeout) {
    count = std::min(count, message.size());
    return sendRaw(Bytes(message.begin(), message.begin() + count), timeout);
}

bool EditorLink::post(const Bytes& bytes) {
    uint64_t id = 0, target = 0;
    return queue(bytes, &id, &target);
}

bool EditorLink::post(const Bytes& bytes, uint64_t connection) {
    uint64_t id = 0, target = 0;
    return connection != 0 && queue(bytes, &id, &target, connection);
}

bool EditorLink::waitUntilSent(Timeout timeout) {
    uint64_t id = 0, target = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (client.fd == SYNC_INVALID_SOCKET)
            return false;
        id = client.id;
        target = client.queued;
    }
    return waitSent(id, target, timeout);
}

bool EditorLink::setKey(uint32_t track, int32_t row, float value, uint8_t type, Timeout timeout) {
    return sendRaw(encodeSetKey(track, row, value, type), timeout);
}

bool EditorLink::deleteKey(uint32_t track, int32_t row, Timeout timeout) {
    return sendRaw(encodeDeleteKey(track, row), timeout);
}

bool EditorLink::setRow(int32_t row, Timeout timeout) {
    return sendRaw(encodeSetRow(row), timeout);
}

bool EditorLink::pause(uint8_t flag, Timeout timeout) {
    return sendRaw(encodePause(flag), timeout);
}

bool EditorLink::saveTracks(Timeout timeout) {
    return sendRaw(encodeSaveTracks(), timeout);
}

// ---- Encoding ---------------------------------------------------------------------

void EditorLink::appendSetKey(Bytes& out, uint32_t track, int32_t row, float value, uint8_t type) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    out.push_back(SET_KEY);
    putBe32(out, track);
    putBe32(out, uint32_t(row));
    putBe32(out, bits);
    out.push_back(type);
}

EditorLink::Bytes EditorLink::encodeSetKey(uint32_t track, int32_t row, float value, uint8_t type) {
    Bytes out;
    appendSetKey(out, track, row, value, type);
    return out;
}

EditorLink::Bytes EditorLink::encodeDeleteKey(uint32_t track, int32_t row) {
    Bytes out{DELETE_KEY};
    putBe32(out, track);
    putBe32(out, uint32_t(row));
    return out;
}

EditorLink::Bytes EditorLink::encodeSetRow(int32_t row) {
    Bytes out{SET_ROW};
    putBe32(out, uint32_t(row));
    return out;
}

EditorLink::Bytes EditorLink::encodePause(uint8_t flag) {
    return Bytes{PAUSE, flag};
}

EditorLink::Bytes EditorLink::encodeSaveTracks() {
    return Bytes{SAVE_TRACKS};
}

} // namespace Tolvane::Editor
