// The real player facing a misbehaving editor: messages cut off by a closed
// connection, track indices and key types out of range, unknown commands, an
// editor that stalls half-way through a message and then goes away. Each
// fault drops the link; the player goes on drawing with the keys it had and
// links again, asking for every track anew, once a good editor answers.
// Silent peers (an editor that stalls, a host that drops packets) never
// hold the frames.

#include "FaultTesting.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

using namespace Tolvane::Testing;
using namespace Tolvane::Testing::Faults;

namespace {

const std::vector<std::string> TRACKS = {"red", "green", "blue"};

// An answer to the greeting that the player refuses: while it is given, the
// player's reconnection attempts fail and it keeps the keys it has.
const char* const REFUSED_REPLY = "go away now!";

TestEditor::Bytes concat(TestEditor::Bytes head, const TestEditor::Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TestEditor::Bytes prefix(const TestEditor::Bytes& message, size_t count) {
    return TestEditor::Bytes(message.begin(), message.begin() + static_cast<long>(count));
}

struct Fault {
    std::string name;
    // Sends the fault; a valid key for the red track goes just before it.
    std::function<void(TestEditor&, const TestEditor::Bytes& validKey)> inject;
    // What the player writes to its error stream for it.
    std::string diagnostic;
};

// Sends the bytes of a fault. Whether the editor saw them all leave is not
// asked: the player may drop the link before the editor has looked. The
// keys shown and the player's attempt to link again tell what arrived.
void sendAll(TestEditor& editor, const TestEditor::Bytes& bytes) {
    editor.sendRaw(bytes);
}

const std::vector<Fault>& faults() {
    static const std::vector<Fault> list = {
        {"closes in the middle of a key",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor,
                     concat(key, prefix(TestEditor::encodeSetKey(1, 0, 0.9f, KEY_STEP), 7)));
             editor.closeConnection();
         },
         ""},
        {"stalls in the middle of a seek, then closes",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, prefix(TestEditor::encodeSetRow(800), 3)));
             std::this_thread::sleep_for(400ms);
             editor.closeConnection();
         },
         ""},
        {"stalls after the track index of a deletion, then closes",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, prefix(TestEditor::encodeDeleteKey(0, 0), 5)));
             std::this_thread::sleep_for(400ms);
             editor.closeConnection();
         },
         ""},
        {"a key for the track just past the last",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, TestEditor::encodeSetKey(3, 0, 0.9f, KEY_STEP)));
         },
         ""},
        {"a key for track 0xFFFFFFFF",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, TestEditor::encodeSetKey(0xFFFFFFFFu, 0, 0.9f, KEY_STEP)));
         },
         ""},
        {"a deletion on a track out of range",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, TestEditor::encodeDeleteKey(0x80000000u, 0)));
         },
         ""},
        {"a key of type 4",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, TestEditor::encodeSetKey(1, 0, 0.9f, 4)));
         },
         ""},
        {"a key of type 255",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, TestEditor::encodeSetKey(2, 0, 0.9f, 255)));
         },
         ""},
        {"the unknown command 06, the first past the known ones",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, {0x06, 0, 0, 0, 0, 0}));
         },
         "unknown cmd: 06\n"},
        {"the player's own request code 02",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor, concat(key, {0x02, 0, 0, 0, 3, 'r', 'e', 'd'}));
         },
         "unknown cmd: 02\n"},
        {"the unknown command ff, then a valid key",
         [](TestEditor& editor, const TestEditor::Bytes& key) {
             sendAll(editor,
                     concat(concat(key, {0xFF}), TestEditor::encodeSetKey(1, 0, 0.9f, KEY_STEP)));
         },
         "unknown cmd: ff\n"},
    };
    return list;
}

// Starts the player in editing mode on the values demo and waits until it
// has linked to the editor and asked for every track.
::testing::AssertionResult startLinked(Player& player, TestEditor& editor) {
    if (!editor.listening()) {
        return ::testing::AssertionFailure() << "the editor port is taken";
    }
    if (!writeValuesDemo(player.dir(), TRACKS)) {
        return ::testing::AssertionFailure() << "the demo could not be written";
    }
    if (!startEditing(player)) {
        return ::testing::AssertionFailure()
               << "the player did not start: " << player.standardOutput();
    }
    return linked(editor, TRACKS.size());
}

} // namespace

TEST(EditorFaults, EachBrokenMessageDropsTheLinkKeepsTheKeysAndAGoodEditorIsServedAgain) {
    TestEditor editor;
    Player player;
    ASSERT_TRUE(startLinked(player, editor));

    std::string diagnostics;
    double green = 0.4;
    double blue = 0.6;
    EXPECT_TRUE(editor.setKey(1, 0, static_cast<float>(green), KEY_STEP));
    EXPECT_TRUE(editor.setKey(2, 0, static_cast<float>(blue), KEY_STEP));

    int round = 0;
    for (const Fault& fault : faults()) {
        SCOPED_TRACE(fault.name);
        ++round;
        // From now on the player's attempts to link again are turned away.
        editor.setGreetingReply(REFUSED_REPLY);
        const int connections = editor.connectionCount();

        // The fault arrives right behind a valid key, which is applied.
        const double red = round * 0.07;
        fault.inject(editor, TestEditor::encodeSetKey(0, 0, static_cast<float>(red), KEY_STEP));
        diagnostics += fault.diagnostic;

        // The player drops the link and tries again (and is turned away).
        ASSERT_TRUE(editor.waitForConnections(connections + 2, 10s))
            << "the player did not try to link again";
        EXPECT_FALSE(editor.connected());

        // Meanwhile it draws on, with every key it had and the one before
        // the fault; the broken message changed nothing.
        const Rgb kept = expected(red, green, blue);
        const Image first =
            player.waitForImage([&](const Image& image) { return near(values(image), kept); });
        EXPECT_TRUE(near(values(first), kept))
            << describe(values(first)) << " instead of " << describe(kept);
        const double before = timeIn(first);
        const Image later = player.waitForImage(
            [&](const Image& image) { return drawn(image) && timeIn(image) > before + 0.25; });
        EXPECT_GT(timeIn(later), before + 0.25) << "the music time stands still";
        EXPECT_TRUE(near(values(later), kept)) << describe(values(later));
        EXPECT_LT(timeIn(later), 40.0) << "a cut-off seek moved the music";
        EXPECT_TRUE(player.running());

        // A good editor answers again: every track is asked for anew, and
        // its keys show.
        editor.setGreetingReply("hello, demo!");
        ASSERT_TRUE(linked(editor, TRACKS.size()));
        EXPECT_EQ(editor.trackRequests(), TRACKS);
        green = 0.1 + round * 0.05;
        blue = 0.9 - round * 0.05;
        EXPECT_TRUE(editor.setKey(0, 0, 0.5f, KEY_STEP));
        EXPECT_TRUE(editor.setKey(1, 0, static_cast<float>(green), KEY_STEP));
        EXPECT_TRUE(editor.setKey(2, 0, static_cast<float>(blue), KEY_STEP));
        const Rgb fresh = expected(0.5, green, blue);
        const Image relinked =
            player.waitForImage([&](const Image& image) { return near(values(image), fresh); });
        EXPECT_TRUE(near(values(relinked), fresh))
            << describe(values(relinked)) << " instead of " << describe(fresh);
        EXPECT_TRUE(editor.protocolErrors().empty());
    }

    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    EXPECT_EQ(player.standardError(), diagnostics);
    EXPECT_EQ(player.standardOutput(), "");
}

namespace {

// Watches the picture for the given time and returns the longest stretch
// over which the music time it shows stood still: a frame held up by the
// link shows up as a time that does not move.
double longestFreeze(Player& player, std::chrono::milliseconds time) {
    const auto start = Clock::now();
    double shown = -1.0;
    auto since = Clock::now();
    double longest = 0.0;
    while (Clock::now() - start < time) {
        const Image image = player.capture();
        const auto now = Clock::now();
        if (drawn(image) && timeIn(image) != shown) {
            shown = timeIn(image);
            since = now;
        }
        longest = std::max(longest, std::chrono::duration<double>(now - since).count());
        std::this_thread::sleep_for(20ms);
    }
    return longest;
}

// A loopback server at host:1338 whose connection queue is full: it drops
// every further connection request unanswered, like a host behind a silent
// firewall.
struct SilentHost {
    explicit SilentHost(const char* host) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(TestEditor::DEFAULT_PORT);
        inet_pton(AF_INET, host, &addr.sin_addr);
        listener = socket(AF_INET, SOCK_STREAM, 0);
        queued = socket(AF_INET, SOCK_STREAM, 0);
        ok = bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
             listen(listener, 0) == 0 &&
             connect(queued, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    }
    ~SilentHost() {
        close(queued);
        close(listener);
    }
    int listener = -1;
    int queued = -1;
    bool ok = false;
};

} // namespace

TEST(EditorFaults, SilentPeersNeverFreezeThePicture) {
    {
        SCOPED_TRACE("an editor that stops half-way through a message");
        TestEditor editor;
        Player player;
        ASSERT_TRUE(startLinked(player, editor));
        ASSERT_TRUE(editor.sendPartially(TestEditor::encodeSetKey(0, 0, 0.9f, 0), 5));
        EXPECT_LT(longestFreeze(player, 3000ms), 1.0);
        // About 2 s of silence drop the link, and the player links again.
        EXPECT_TRUE(editor.waitForConnections(2, 10s)) << "the silent link was never dropped";
        player.requestClose();
        EXPECT_EQ(player.waitForExit(), 0);
    }
    {
        SCOPED_TRACE("a host that drops packets");
        const char* const host = "127.0.0.5";
        SilentHost silent(host);
        ASSERT_TRUE(silent.ok);
        Player player;
        ASSERT_TRUE(writeValuesDemo(player.dir(), TRACKS, host));
        ASSERT_TRUE(startEditing(player)) << player.standardOutput();
        EXPECT_LT(longestFreeze(player, 4000ms), 1.0);
        player.requestClose();
        EXPECT_EQ(player.waitForExit(), 0);
    }
}
