// The editing session against a real player-side sync device over a real
// socket (the link on a free port): track requests answered with the
// document's keys, edits and undo sent at once, rows followed, pause and
// seek sent, broken requests dropped.

#include "Session.h"
#include "SyncTesting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Tolvane::Editor;
using Tolvane::Testing::TempDir;

namespace {

struct Played {
    int pauses = 0;
    int lastPause = -1;
    int seekRow = -1;
    bool playing = true;
};

const sync_cb CALLBACKS = {
    [](void* p, int flag) {
        static_cast<Played*>(p)->pauses++;
        static_cast<Played*>(p)->lastPause = flag;
    },
    [](void* p, int row) { static_cast<Played*>(p)->seekRow = row; },
    [](void* p) { return static_cast<Played*>(p)->playing ? 1 : 0; },
};

// Pumps both ends until condition holds (or five seconds pass).
template <class Condition>
bool settle(Session& session, sync_device* player, int row, Played& played, Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        session.pump();
        sync_update(player, row, &CALLBACKS, &played);
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

EditorLink::Options freePort() {
    EditorLink::Options options;
    options.port = 0;
    options.queueEvents = true;
    return options;
}

} // namespace

TEST(EditorSession, AnswersRequestsSendsEditsAndFollowsThePlayer) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    Document doc;
    doc.load({"a", "b"});
    doc.setKey(0, 4, 1.5f);
    doc.setKey(0, 8, 2.5f);
    doc.cycleInterpolation(0, 8);
    EditorLink link(freePort());
    ASSERT_TRUE(link.listening());
    Session session(doc, link);

    sync_device* player = sync_create_device("sync");
    sync_track* b = sync_get_track(player, "b");
    sync_track* a = sync_get_track(player, "a");
    ASSERT_EQ(sync_tcp_connect(player, "127.0.0.1", link.port()), 0);
    sync_track* fresh = sync_get_track(player, "fresh"); // not in the document
    Played played;
    ASSERT_TRUE(settle(session, player, 0, played,
                       [&] { return a->key_count == 2 && session.connected(); }));
    EXPECT_EQ(a->keys[1].type, KEY_LINEAR);
    EXPECT_EQ(b->key_count, 0);
    EXPECT_EQ(doc.findTrack("fresh"), 2);
    EXPECT_EQ(played.lastPause, 0); // the editor says it plays

    // An edit, then its undo: the player follows each at once.
    doc.setKey(2, 3, 7.0f);
    ASSERT_TRUE(settle(session, player, 0, played, [&] { return fresh->key_count == 1; }));
    doc.undo();
    ASSERT_TRUE(settle(session, player, 0, played, [&] { return fresh->key_count == 0; }));
    doc.copy(Block{0, 0, 0, 8});
    doc.paste(1, 0);
    ASSERT_TRUE(settle(session, player, 0, played, [&] { return b->key_count == 2; }));
    EXPECT_DOUBLE_EQ(sync_get_val(b, 6.0), sync_get_val(&doc.track(1), 6.0));

    // The player plays: its rows move the cursor.
    ASSERT_TRUE(settle(session, player, 42, played, [&] { return doc.cursorRow() == 42; }));

    // Paused, the cursor's moves seek the player.
    session.togglePause();
    doc.moveCursor(0, 17);
    session.seek(17);
    played.playing = false;
    ASSERT_TRUE(settle(session, player, 42, played, [&] { return played.seekRow == 17; }));
    EXPECT_EQ(played.lastPause, 1);
    sync_destroy_device(player);
}

TEST(EditorSession, OversizedRequestDropsTheConnectionAndSaysWhy) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    Document doc;
    doc.load({"a"});
    doc.setKey(0, 1, 1.0f);
    EditorLink link(freePort());
    Session session(doc, link);

    sync_device* player = sync_create_device("sync");
    sync_get_track(player, "a");
    ASSERT_EQ(sync_tcp_connect(player, "127.0.0.1", link.port()), 0);
    Played played;
    ASSERT_TRUE(settle(session, player, 0, played, [&] { return session.connected(); }));
    std::string name(EditorLink::MAX_NAME_LENGTH + 1, 'x');
    sync_get_track(player, name.c_str()); // asks the editor for it
    ASSERT_TRUE(settle(session, player, 0, played, [&] { return !session.connected(); }));
    EXPECT_NE(session.message().find("refused"), std::string::npos) << session.message();
    EXPECT_EQ(doc.track(0).key_count, 1);
    EXPECT_EQ(doc.trackCount(), 1);
    sync_destroy_device(player);
}
