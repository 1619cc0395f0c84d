#pragma once

// The editor's side of the sync link: a TCP server that speaks to the player
// byte for byte. tolvane-editor, the command-line test editor and the tests
// all use this one implementation.
//
//   - it accepts a connection, reads the player's 19-byte greeting
//     "hello, synctracker!" and answers "hello, demo!" (or whatever reply
//     it was given, to test a player facing the wrong server);
//   - it records every GET_TRACK request (the track names, in order) and
//     every SET_ROW row report the player sends;
//   - on demand it sends SET_KEY, DELETE_KEY, SET_ROW, PAUSE, SAVE_TRACKS
//     or any raw bytes, can stop half-way through a message (a stalled
//     editor), close the connection, and accepts the next connection when
//     the player reconnects;
//   - with Options::queueEvents it also queues what happened (connection up,
//     track requested, row reported, connection dropped and why) for a
//     program that serves the player from its own thread (takeEvents).
//
// Typical use in a test:
//
//     EditorLink editor(0);                        // 0: any free port
//     ASSERT_TRUE(editor.listening());
//     sync_tcp_connect(device, "127.0.0.1", editor.port());
//     ASSERT_TRUE(editor.waitForClient());
//     ASSERT_TRUE(editor.waitForTrackRequests(2));  // one per track
//     editor.setKey(0, 16, 1.5f, 1);                // track 0, row 16, linear
//     sync_update(device, 0, &callbacks, nullptr);  // the key lands
//
// The link runs its own thread; every public function may be called from
// any thread. Only one player connection is served at a time: a newly
// accepted connection replaces the current one. The wait functions block
// until their condition holds or the timeout passes, and say which.

#include "sync.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Tolvane::Editor {

class EditorLink {
public:
    using Bytes = std::vector<uint8_t>;
    using Timeout = std::chrono::milliseconds;

    static constexpr uint16_t DEFAULT_PORT = 1338;
    static constexpr Timeout DEFAULT_TIMEOUT{5000};

    // Command codes of the link.
    enum Command : uint8_t {
        SET_KEY = 0,
        DELETE_KEY = 1,
        GET_TRACK = 2,
        SET_ROW = 3,
        PAUSE = 4,
        SAVE_TRACKS = 5,
    };

    struct Options {
        // Port to listen on (127.0.0.1). 0 lets the system pick a free one.
        uint16_t port = DEFAULT_PORT;
        // Answer to the player's greeting; the player accepts only the
        // 12 bytes "hello, demo!". A reply that starts like the right one
        // but is shorter leaves the player waiting for the rest.
        std::string greetingReply = "hello, demo!";
        // Called on the editor's thread with a line of text for every event
        // (connection, greeting, request, row report, close); may be empty.
        // It must not call back into the editor.
        std::function<void(const std::string&)> log;
        // Address to listen on: a numeric address or a host name.
        std::string host = "127.0.0.1";
        // Queue an Event for everything the player does (see takeEvents).
        bool queueEvents = false;
        // Called on the link's thread after an event was queued (to wake a
        // program waiting for input); it must not call back into the link.
        std::function<void()> notify;
    };

    // What the player did, in order, for takeEvents.
    struct Event {
        enum Kind {
            CONNECTED,
            TRACK_REQUESTED,
            ROW_REPORTED,
            DISCONNECTED
        };
        Kind kind;
        uint64_t connection; // which connection (see post)
        std::string text;    // TRACK_REQUESTED: the name; DISCONNECTED: why
        int32_t value;       // TRACK_REQUESTED: the track's index; ROW_REPORTED: the row
    };

    // Longest track name accepted in a request; a longer one drops the
    // connection as a broken stream.
    static constexpr uint32_t MAX_NAME_LENGTH = 4096;

    // Listens at once on host:port (SO_REUSEADDR) and starts serving.
    explicit EditorLink(uint16_t port = DEFAULT_PORT);
    explicit EditorLink(Options options);
    // Closes the connection and the listening socket, stops the thread.
    ~EditorLink();
    EditorLink(const EditorLink&) = delete;
    EditorLink& operator=(const EditorLink&) = delete;

    // Whether the listening socket is up (false when the port was taken).
    bool listening() const;
    // Why listening failed ("address already in use", ...); empty when it
    // did not fail.
    std::string listenError() const;
    // The port listened on (the chosen one when constructed with 0).
    uint16_t port() const;

    // ---- Connections -----------------------------------------------------

    // Answer given to the greeting of connections accepted from now on.
    void setGreetingReply(std::string reply);

    // Waits until a player is connected and has been answered with the right
    // greeting ("hello, demo!"), so that messages can be sent to it.
    bool waitForClient(Timeout timeout = DEFAULT_TIMEOUT);
    // Waits until connectionCount() reaches n.
    bool waitForConnections(int n, Timeout timeout = DEFAULT_TIMEOUT);
    // Waits until there is no connection (the player closed its link, the
    // editor dropped it, or it was never made).
    bool waitForDisconnect(Timeout timeout = DEFAULT_TIMEOUT);

    // Connections accepted so far, whatever their greeting.
    int connectionCount() const;
    // Whether a greeted connection is up.
    bool connected() const;
    // The greeting bytes the current (or last) player sent.
    std::string lastGreeting() const;

    // Closes the current connection, as an editor that quits would. Returns
    // once it is closed. The listener stays up for the player's reconnect.
    void closeConnection();

    // ---- What the player sent ---------------------------------------------

    // Track names requested on the current connection, in order (the n-th
    // name is the track the player calls index n).
    std::vector<std::string> trackRequests() const;
    bool waitForTrackRequests(size_t n, Timeout timeout = DEFAULT_TIMEOUT);

    // Rows reported by the player, over every connection, in order.
    std::vector<int32_t> rowReports() const;
    void clearRowReports();
    // Waits for a reported row (any since the last clearRowReports) that
    // satisfies the predicate.
    bool waitForRowReport(const std::function<bool(int32_t)>& predicate,
                          Timeout timeout = DEFAULT_TIMEOUT);
    bool waitForRowReport(int32_t row, Timeout timeout = DEFAULT_TIMEOUT);

    // Every byte received on the current (or last) connection, greeting
    // included.
    Bytes receivedBytes() const;
    // Anything the player sent that is not a greeting, GET_TRACK or SET_ROW,
    // as text. Such a byte also makes the editor drop the connection.
    std::vector<std::string> protocolErrors() const;

    // ---- Sending to the player ----------------------------------------------

    // Each of these sends one message on the current greeted connection and
    // returns once its bytes are handed to the system (so a following
    // sync_update of a player on this machine can read them), or false when
    // there is no greeted connection, it closes first, or the timeout passes.
    bool setKey(uint32_t track, int32_t row, float value, uint8_t type,
                Timeout timeout = DEFAULT_TIMEOUT);
    bool deleteKey(uint32_t track, int32_t row, Timeout timeout = DEFAULT_TIMEOUT);
    bool setRow(int32_t row, Timeout timeout = DEFAULT_TIMEOUT);
    bool pause(uint8_t flag, Timeout timeout = DEFAULT_TIMEOUT);
    bool saveTracks(Timeout timeout = DEFAULT_TIMEOUT);
    // Sends arbitrary bytes, e.g. several encoded messages at once, so that
    // they arrive together.
    bool sendRaw(const Bytes& bytes, Timeout timeout = DEFAULT_TIMEOUT);
    // A stalled editor: sends only the first count bytes of message and
    // stops there. The rest may follow later with sendRaw, or never.
    bool sendPartially(const Bytes& message, size_t count, Timeout timeout = DEFAULT_TIMEOUT);

    // Queues bytes without waiting (for bulk transfers while the caller's
    // thread runs the player); false when there is no greeted connection.
    bool post(const Bytes& bytes);
    // Queues bytes for the given connection only: false, sending nothing,
    // once that connection is gone or replaced.
    bool post(const Bytes& bytes, uint64_t connection);
    // Events queued since the last call (Options::queueEvents), oldest first.
    std::vector<Event> takeEvents();

    // Waits until everything queued on the current connection is sent.
    bool waitUntilSent(Timeout timeout = DEFAULT_TIMEOUT);

    // Encoded messages, byte for byte as on the wire (big-endian fields).
    static Bytes encodeSetKey(uint32_t track, int32_t row, float value, uint8_t type);
    // Appends a SET_KEY message to out (for answering with many keys).
    static void appendSetKey(Bytes& out, uint32_t track, int32_t row, float value, uint8_t type);
    static Bytes encodeDeleteKey(uint32_t track, int32_t row);
    static Bytes encodeSetRow(int32_t row);
    static Bytes encodePause(uint8_t flag);
    static Bytes encodeSaveTracks();

private:
    struct Connection {
        sync_socket fd = SYNC_INVALID_SOCKET;
        uint64_t id = 0;
        bool answered = false; // greeting read and answered
        bool greeted = false;  // ... with the right answer
        Bytes in;              // received, not yet parsed
        Bytes out;             // queued; bytes before outPos are sent
        size_t outPos = 0;
        uint64_t queued = 0;  // bytes queued after the greeting reply
        uint64_t sent = 0;    // of those, bytes sent
        size_t replyLeft = 0; // greeting-reply bytes still at the head of out
    };

    void run();
    void acceptClient();
    void readClient();
    void writeClient();
    void parseInput();
    void dropClient(const std::string& why);
    void wake();
    void logEvent(const std::string& text);
    bool queue(const Bytes& bytes, uint64_t* id, uint64_t* target, uint64_t only = 0);
    void pushEvent(Event::Kind kind, std::string text = {}, int32_t value = 0);
    bool waitSent(uint64_t id, uint64_t target, Timeout timeout);
    template <class Pred>
    bool waitFor(Timeout timeout, Pred pred) const;

    Options options;
    sync_socket listenFd = SYNC_INVALID_SOCKET;
    // A datagram socket connected to itself: a byte sent to it wakes the
    // thread's poll.
    sync_socket wakeSocket = SYNC_INVALID_SOCKET;
    uint16_t boundPort = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stopping = false;
    bool closeRequested = false;
    Connection client;
    uint64_t nextId = 1;
    int connections = 0;
    // Of the current (or last) connection:
    std::string greeting;
    Bytes received;
    std::vector<std::string> requests;

    std::vector<int32_t> rows;
    std::vector<std::string> errors;
    std::vector<Event> events;
    std::string bindError;
    std::thread thread;
};

} // namespace Tolvane::Editor
