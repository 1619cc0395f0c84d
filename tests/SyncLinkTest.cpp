// The editor link over real loopback sockets, against the test editor.

#include "SyncTesting.h"
#include "TestEditor.h"
#include "sockets.h"
#include "sync.h"

#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

struct DeviceDeleter {
    void operator()(sync_device* d) const { sync_destroy_device(d); }
};
using Device = std::unique_ptr<sync_device, DeviceDeleter>;

// The player's side of the callbacks: records every call.
struct Player {
    bool playing = false;
    std::vector<std::string> calls;
    std::vector<int> pauses;
    std::vector<int> seeks;

    static const sync_cb callbacks;
};

const sync_cb Player::callbacks = {
    [](void* p, int flag) {
        auto* player = static_cast<Player*>(p);
        player->calls.push_back("pause");
        player->pauses.push_back(flag);
    },
    [](void* p, int row) {
        auto* player = static_cast<Player*>(p);
        player->calls.push_back("set_row");
        player->seeks.push_back(row);
    },
    [](void* p) {
        auto* player = static_cast<Player*>(p);
        player->calls.push_back("is_playing");
        return player->playing ? 1 : 0;
    },
};

// A port on which nothing listens.
uint16_t closedPort() {
    sync_socket_startup();
    sync_socket fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    sync_socket_close(fd);
    return ntohs(addr.sin_port);
}

// The raw-socket helpers, the tests that use them and the ones that count
// descriptors in /proc are POSIX-only (Linux-only for /proc).
#ifdef __linux__
sockaddr_in loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

uint16_t localPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// A loopback server on a free port that never accepts: the system answers
// connections (up to backlog of them) and nobody greets.
int listeningSocket(int backlog) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in addr = loopback(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int openDescriptors() {
    int count = 0;
    for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}
#endif

class SyncLink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.enter());
        ASSERT_TRUE(editor.listening());
        device.reset(sync_create_device("sync"));
        ASSERT_TRUE(device);
    }

    // Links the device to the editor, which waits for n track requests.
    void link(size_t tracks = 0) {
        ASSERT_EQ(connectNow(editor.port()), 0);
        ASSERT_TRUE(editor.waitForClient());
        ASSERT_TRUE(editor.waitForTrackRequests(tracks));
    }

    // sync_tcp_connect, carried on until the attempt has an outcome.
    int connectNow(uint16_t port) { return connectNow(device.get(), port); }
    static int connectNow(sync_device* device, uint16_t port) {
        int result = sync_tcp_connect(device, "127.0.0.1", port);
        for (int i = 0; i < 5000 && result != 0 && device->pending != SYNC_INVALID_SOCKET; ++i) {
            std::this_thread::sleep_for(1ms);
            result = sync_tcp_connect(device, "127.0.0.1", port);
        }
        return result;
    }

    // One frame of the player at row.
    int update(int row) { return sync_update(device.get(), row, &Player::callbacks, &player); }

    // One frame after the editor's last message has arrived.
    int updateWhenArrived(int row) {
        EXPECT_TRUE(waitReadable(device.get()));
        return update(row);
    }

    TempDir scratch;
    TestEditor editor{0};
    Device device;
    Player player;
};

TEST_F(SyncLink, WithoutAnEditorConnectingFailsAndUpdateDoesNothing) {
    EXPECT_EQ(sync_tcp_connect(device.get(), "127.0.0.1", closedPort()), -1);
    EXPECT_EQ(device->link, SYNC_INVALID_SOCKET);
    player.playing = true;
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(update(row), -1);
    EXPECT_TRUE(player.calls.empty());
    EXPECT_EQ(device->last_row, -1);
}

TEST_F(SyncLink, AnUnresolvableHostFails) {
    EXPECT_EQ(sync_tcp_connect(device.get(), "no-such-host.invalid", editor.port()), -1);
    EXPECT_EQ(device->link, SYNC_INVALID_SOCKET);
}

TEST_F(SyncLink, AWrongGreetingIsAbandonedAndTracksKeepTheirKeys) {
    sync_track* t = sync_get_track(device.get(), "fade");
    ASSERT_EQ(sync_set_key(t, {4, 2.0f, KEY_STEP}), 0);
    editor.setGreetingReply("hello, dude!");

    EXPECT_EQ(connectNow(editor.port()), -1);
    EXPECT_EQ(device->link, SYNC_INVALID_SOCKET);
    EXPECT_EQ(editor.connectionCount(), 1);
    EXPECT_TRUE(editor.waitForDisconnect());
    EXPECT_EQ(t->key_count, 1);
    EXPECT_TRUE(editor.trackRequests().empty());

    editor.setGreetingReply("nope");
    EXPECT_EQ(connectNow(editor.port()), -1);
    EXPECT_EQ(editor.connectionCount(), 2);
}

TEST_F(SyncLink, GreetingAndTrackRequestsAreExactBytes) {
    sync_get_track(device.get(), "cam.x");
    sync_get_track(device.get(), "b");
    link(2);
    EXPECT_EQ(editor.lastGreeting(), "hello, synctracker!");
    int nodelay = 0;
    socklen_t size = sizeof(nodelay);
    ASSERT_EQ(getsockopt(device->link, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&nodelay),
                         &size),
              0);
    EXPECT_NE(nodelay, 0) << "row reports would wait for the last one's acknowledgement";
    const std::string greeting = "hello, synctracker!";
    Bytes expected(greeting.begin(), greeting.end());
    expected.insert(expected.end(), {0x02, 0x00, 0x00, 0x00, 0x05, 0x63, 0x61, 0x6D, 0x2E, 0x78});
    expected.insert(expected.end(), {0x02, 0x00, 0x00, 0x00, 0x01, 'b'});
    EXPECT_EQ(editor.receivedBytes(), expected);

    // A track created while linked is requested at once, as the next index.
    sync_track* late = sync_get_track(device.get(), "late");
    ASSERT_TRUE(editor.waitForTrackRequests(3));
    EXPECT_EQ(editor.trackRequests(), (std::vector<std::string>{"cam.x", "b", "late"}));
    EXPECT_EQ(late->key_count, 0);
    EXPECT_TRUE(editor.protocolErrors().empty());
}

TEST_F(SyncLink, LinkingDiscardsKeysLoadedFromFiles) {
    scratch.write("sync_fade.track", trackFile({{0, 1.0f, KEY_STEP}}));
    sync_track* t = sync_get_track(device.get(), "fade");
    ASSERT_EQ(t->key_count, 1);
    link(1);
    EXPECT_EQ(t->key_count, 0);
    EXPECT_EQ(t->keys, nullptr);
}

TEST_F(SyncLink, SetKeyMessageLandsInItsTrack) {
    sync_track* t0 = sync_get_track(device.get(), "a");
    sync_track* t1 = sync_get_track(device.get(), "b");
    link(2);
    Bytes message = TestEditor::encodeSetKey(0, 16, 1.5f, KEY_LINEAR);
    EXPECT_EQ(message, (Bytes{0x00, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x3F, 0xC0, 0, 0, 0x01}));
    ASSERT_TRUE(editor.sendRaw(message));
    EXPECT_EQ(updateWhenArrived(0), 0);
    ASSERT_EQ(t0->key_count, 1);
    EXPECT_EQ(t0->keys[0].row, 16);
    EXPECT_EQ(t0->keys[0].value, 1.5f);
    EXPECT_EQ(t0->keys[0].type, KEY_LINEAR);
    EXPECT_EQ(t1->key_count, 0);

    // The same row again updates the key; negative rows come through.
    ASSERT_TRUE(editor.sendRaw(concat({TestEditor::encodeSetKey(0, 16, -3.0f, KEY_RAMP),
                                       TestEditor::encodeSetKey(1, -5, 0.5f, KEY_SMOOTH)})));
    EXPECT_EQ(updateWhenArrived(0), 0);
    ASSERT_EQ(t0->key_count, 1);
    EXPECT_EQ(t0->keys[0].value, -3.0f);
    EXPECT_EQ(t0->keys[0].type, KEY_RAMP);
    ASSERT_EQ(t1->key_count, 1);
    EXPECT_EQ(t1->keys[0].row, -5);
    EXPECT_NE(device->link, SYNC_INVALID_SOCKET);
}

TEST_F(SyncLink, AClosedConnectionIsNoticedAtTheNextUpdate) {
    sync_track* t = sync_get_track(device.get(), "a");
    link(1);
    ASSERT_TRUE(editor.setKey(0, 3, 1.0f, KEY_STEP));
    ASSERT_EQ(updateWhenArrived(0), 0);
    editor.closeConnection();
    EXPECT_EQ(updateWhenArrived(0), -1);
    EXPECT_EQ(device->link, SYNC_INVALID_SOCKET);
    EXPECT_EQ(t->key_count, 1);
    EXPECT_EQ(sync_get_val(t, 10.0), 1.0);
}

TEST_F(SyncLink, DeletingARowWithoutAKeyKeepsTheLink) {
    sync_track* t = sync_get_track(device.get(), "a");
    link(1);
    ASSERT_TRUE(editor.sendRaw(concat({TestEditor::encodeSetKey(0, 16, 1.0f, KEY_STEP),
                                       TestEditor::encodeSetKey(0, 20, 2.0f, KEY_STEP)})));
    ASSERT_EQ(updateWhenArrived(0), 0);
    ASSERT_TRUE(editor.deleteKey(0, 17));
    EXPECT_EQ(updateWhenArrived(0), 0);
    EXPECT_EQ(t->key_count, 2);

    ASSERT_TRUE(editor.deleteKey(0, 16));
    EXPECT_EQ(updateWhenArrived(0), 0);
    ASSERT_EQ(t->key_count, 1);
    EXPECT_EQ(t->keys[0].row, 20);
    EXPECT_NE(device->link, SYNC_INVALID_SOCKET);
}

TEST_F(SyncLink, PendingCommandsApplyInOrderBeforeTheRowReport) {
    sync_track* t = sync_get_track(device.get(), "a");
    link(1);
    player.playing = true;
    ASSERT_TRUE(editor.sendRaw(
        concat({TestEditor::encodeSetKey(0, 1, 1.0f, KEY_STEP), TestEditor::encodeSetRow(40),
                TestEditor::encodeSetKey(0, 1, 2.0f, KEY_STEP), TestEditor::encodePause(2),
                TestEditor::encodeSetRow(-8)})));
    EXPECT_EQ(updateWhenArrived(7), 0);
    EXPECT_EQ(player.calls,
              (std::vector<std::string>{"set_row", "pause", "set_row", "is_playing"}));
    EXPECT_EQ(player.seeks, (std::vector<int>{40, -8}));
    EXPECT_EQ(player.pauses, std::vector<int>{2});
    ASSERT_EQ(t->key_count, 1);
    EXPECT_EQ(t->keys[0].value, 2.0f);
    // The report carries the row passed in, not the seek it delivered.
    ASSERT_TRUE(editor.waitForRowReport(7));
    EXPECT_EQ(editor.rowReports(), std::vector<int32_t>{7});
}

TEST_F(SyncLink, RowsAreReportedOncePerNewRowWhilePlaying) {
    link();
    player.playing = true;
    EXPECT_EQ(update(-1), 0); // equals the fresh device's last row
    EXPECT_EQ(update(5), 0);
    EXPECT_EQ(update(5), 0);
    EXPECT_EQ(update(6), 0);
    player.playing = false;
    EXPECT_EQ(update(7), 0);
    EXPECT_EQ(update(8), 0);
    player.playing = true;
    EXPECT_EQ(update(8), 0);
    EXPECT_EQ(update(8), 0);
    ASSERT_TRUE(editor.waitForRowReport(8));
    EXPECT_EQ(editor.rowReports(), (std::vector<int32_t>{5, 6, 8}));
    EXPECT_EQ(device->last_row, 8);

    const std::string greeting = "hello, synctracker!";
    Bytes bytes = editor.receivedBytes();
    Bytes reports(bytes.begin() + greeting.size(), bytes.end());
    EXPECT_EQ(reports, (Bytes{3, 0, 0, 0, 5, 3, 0, 0, 0, 6, 3, 0, 0, 0, 8}));
}

TEST_F(SyncLink, ReportOfRowThirtyTwoIsFiveBytes) {
    link();
    player.playing = true;
    ASSERT_EQ(update(32), 0);
    ASSERT_TRUE(editor.waitForRowReport(32));
    Bytes bytes = editor.receivedBytes();
    EXPECT_EQ(Bytes(bytes.end() - 5, bytes.end()), (Bytes{0x03, 0x00, 0x00, 0x00, 0x20}));
}

TEST_F(SyncLink, NoCallbacksMeansNoReport) {
    link();
    ASSERT_TRUE(editor.sendRaw(concat({TestEditor::encodeSetRow(3), TestEditor::encodePause(1)})));
    ASSERT_TRUE(waitReadable(device.get()));
    EXPECT_EQ(sync_update(device.get(), 12, nullptr, nullptr), 0);
    player.playing = true;
    EXPECT_EQ(update(13), 0);
    ASSERT_TRUE(editor.waitForRowReport(13));
    EXPECT_EQ(editor.rowReports(), std::vector<int32_t>{13});
}

TEST_F(SyncLink, ANewLinkReportsOnlyOnceTheRowChanges) {
    link();
    player.playing = true;
    ASSERT_EQ(update(5), 0);
    ASSERT_TRUE(editor.waitForRowReport(5));
    editor.closeConnection();
    ASSERT_EQ(updateWhenArrived(5), -1);

    link();
    EXPECT_EQ(editor.connectionCount(), 2);
    EXPECT_EQ(update(5), 0);
    EXPECT_EQ(update(6), 0);
    ASSERT_TRUE(editor.waitForRowReport(6));
    EXPECT_EQ(editor.rowReports(), (std::vector<int32_t>{5, 6}));
}

TEST_F(SyncLink, ReconnectingRequestsEveryTrackAgain) {
    sync_track* a = sync_get_track(device.get(), "a");
    sync_get_track(device.get(), "b");
    link(2);
    ASSERT_TRUE(editor.setKey(0, 0, 1.0f, KEY_STEP));
    ASSERT_EQ(updateWhenArrived(0), 0);
    ASSERT_EQ(a->key_count, 1);

    // Connecting again over a live link replaces it.
    ASSERT_EQ(connectNow(editor.port()), 0);
    ASSERT_TRUE(editor.waitForConnections(2));
    ASSERT_TRUE(editor.waitForTrackRequests(2));
    EXPECT_EQ(editor.trackRequests(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(a->key_count, 0);
}

TEST_F(SyncLink, AMessageSplitAcrossPacketsWaitsForItsRestWithoutHoldingTheFrame) {
    sync_track* t = sync_get_track(device.get(), "a");
    link(1);
    Bytes message = TestEditor::encodeSetKey(0, 9, 4.0f, KEY_LINEAR);
    ASSERT_TRUE(editor.sendPartially(message, 7));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(updateWhenArrived(0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "the frame waited for the editor";
    EXPECT_EQ(t->key_count, 0);

    ASSERT_TRUE(editor.sendRaw(Bytes(message.begin() + 7, message.end())));
    EXPECT_EQ(updateWhenArrived(0), 0);
    ASSERT_EQ(t->key_count, 1);
    EXPECT_EQ(t->keys[0].row, 9);
    EXPECT_EQ(t->keys[0].value, 4.0f);
    EXPECT_NE(device->link, SYNC_INVALID_SOCKET);
}

TEST_F(SyncLink, AnEditorSilentInTheMiddleOfAMessageIsDroppedAfterAboutTwoSeconds) {
    sync_track* t = sync_get_track(device.get(), "a");
    link(1);
    ASSERT_TRUE(editor.sendPartially(TestEditor::encodeSetKey(0, 9, 4.0f, KEY_LINEAR), 10));
    ASSERT_TRUE(waitReadable(device.get()));
    const auto start = std::chrono::steady_clock::now();
    int frames = 0;
    while (update(0) == 0 && std::chrono::steady_clock::now() - start < 10s) {
        ++frames;
        std::this_thread::sleep_for(10ms);
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(device->link, SYNC_INVALID_SOCKET);
    EXPECT_GT(waited, 1500ms);
    EXPECT_LT(waited, 5s);
    EXPECT_GT(frames, 20) << "the frames stalled while the editor did";
    EXPECT_EQ(t->key_count, 0);
    EXPECT_TRUE(editor.waitForDisconnect());
}

TEST_F(SyncLink, AFloodOfCommandsIsSpreadOverFrames) {
    link();
    // Each pause takes the player 2 ms: one update applies about five,
    // and the next updates carry on in order.
    static const sync_cb slow = {[](void* p, int flag) {
                                     std::this_thread::sleep_for(2ms);
                                     static_cast<Player*>(p)->pauses.push_back(flag);
                                 },
                                 nullptr, nullptr};
    Bytes flood;
    for (int i = 0; i < 100; ++i)
        flood = concat({flood, TestEditor::encodePause(uint8_t(i))});
    ASSERT_TRUE(editor.sendRaw(flood));
    ASSERT_TRUE(waitReadable(device.get()));
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(sync_update(device.get(), 0, &slow, &player), 0);
    EXPECT_GT(player.pauses.size(), 0u);
    EXPECT_LT(player.pauses.size(), 50u);
    for (int i = 0; i < 200 && player.pauses.size() < 100; ++i)
        ASSERT_EQ(sync_update(device.get(), 0, &slow, &player), 0);
    ASSERT_EQ(player.pauses.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(player.pauses[size_t(i)], i);
}

#ifdef __linux__
// Calls sync_tcp_connect every 10 ms for the given time against a peer
// that never answers, checking that no call holds the frame. Keeps every
// connection the peer's listener takes in accepted (when given), open and
// silent.
void callAgainstSilentPeer(sync_device* device, int listener, std::chrono::milliseconds time,
                           std::vector<int>* accepted) {
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration longest{};
    while (std::chrono::steady_clock::now() - start < time) {
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(sync_tcp_connect(device, "127.0.0.1", localPort(listener)), -1);
        longest = std::max(longest, std::chrono::steady_clock::now() - before);
        for (int fd; accepted && (fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;)
            accepted->push_back(fd);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_LT(longest, 500ms) << "a connection attempt held the frame";
    EXPECT_EQ(device->link, SYNC_INVALID_SOCKET);
}

TEST_F(SyncLink, AServerThatNeverGreetsIsLeftAfterAboutTwoSecondsAndTriedAgain) {
    const int listener = listeningSocket(16);
    ASSERT_GE(listener, 0);
    sync_track* t = sync_get_track(device.get(), "a");
    ASSERT_EQ(sync_set_key(t, {4, 2.0f, KEY_STEP}), 0);
    std::vector<int> connections;
    callAgainstSilentPeer(device.get(), listener, 4500ms, &connections);
    EXPECT_GE(connections.size(), 2u);
    EXPECT_LE(connections.size(), 3u);
    EXPECT_EQ(t->key_count, 1);
    for (int fd : connections)
        close(fd);
    close(listener);
}

TEST_F(SyncLink, AHostThatDropsPacketsHoldsNoFrame) {
    // A listener whose queue is full drops every further connection
    // request without an answer, as a host behind a silent firewall does.
    const int listener = listeningSocket(0);
    ASSERT_GE(listener, 0);
    const int queued = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(localPort(listener));
    ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(sync_tcp_connect(device.get(), "127.0.0.1", localPort(listener)), -1);
    ASSERT_NE(device->pending, SYNC_INVALID_SOCKET);
    const uint16_t first = localPort(device->pending);
    callAgainstSilentPeer(device.get(), listener, 2500ms, nullptr);
    ASSERT_NE(device->pending, SYNC_INVALID_SOCKET);
    EXPECT_NE(localPort(device->pending), first) << "the first attempt was not given up";
    close(queued);
    close(listener);
}

#endif

TEST_F(SyncLink, SaveCommandWritesTheTrackFiles) {
    sync_get_track(device.get(), "fx:glow");
    link(1);
    ASSERT_TRUE(editor.sendRaw(concat(
        {TestEditor::encodeSetKey(0, 2, 0.5f, KEY_SMOOTH), TestEditor::encodeSaveTracks()})));
    EXPECT_EQ(updateWhenArrived(0), 0);
    EXPECT_EQ(scratch.read("sync_fx-3Aglow.track"), trackFile({{2, 0.5f, KEY_SMOOTH}}));
    EXPECT_NE(device->link, SYNC_INVALID_SOCKET);
}

TEST_F(SyncLink, WritingToAVanishedEditorRaisesNoSignal) {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_DFL);
#endif
    link();
    editor.closeConnection();
    ASSERT_TRUE(editor.waitForDisconnect());
    // The player has not read the closure yet and keeps requesting tracks:
    // the first send draws a reset, later ones fail.
    for (int i = 0; i < 20 && device->link != SYNC_INVALID_SOCKET; ++i) {
        sync_get_track(device.get(), ("t" + std::to_string(i)).c_str());
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(device->link, SYNC_INVALID_SOCKET);
}

#ifdef __linux__
TEST_F(SyncLink, NoSocketIsLeftOpenOnAnyPath) {
    uint16_t nowhere = closedPort();
    sync_get_track(device.get(), "a");
    int before = openDescriptors();

    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(sync_tcp_connect(device.get(), "127.0.0.1", nowhere), -1);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(sync_tcp_connect(device.get(), "no-such-host.invalid", 1), -1);

    editor.setGreetingReply("hello, dude!");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(connectNow(editor.port()), -1);
    editor.setGreetingReply("hello, demo!");

    for (int i = 0; i < 5; ++i) {
        link(1);
        ASSERT_TRUE(editor.sendRaw({0x09}));
        testing::internal::CaptureStderr();
        EXPECT_EQ(updateWhenArrived(0), -1);
        testing::internal::GetCapturedStderr();
    }
    for (int i = 0; i < 5; ++i)
        link(1); // each replaces the last
    ASSERT_TRUE(editor.waitForConnections(15));
    device.reset();
    ASSERT_TRUE(editor.waitForDisconnect());

    EXPECT_EQ(openDescriptors(), before);
}

#endif

} // namespace
