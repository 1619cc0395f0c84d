// The sync driver against the test editor on the editor port, and against
// track files in a scratch working directory.

#include "Cosmonaut.h"
#include "SyncTesting.h"
#include "TestEditor.h"
#include "sync.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Tolvane;
using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

// The player's callbacks: always playing; records seeks in seconds.
struct Playback {
    static int playing;
    static std::vector<double> seekSeconds;
    static std::vector<int> pauses;
};
int Playback::playing = 1;
std::vector<double> Playback::seekSeconds;
std::vector<int> Playback::pauses;

sync_cb callbacks = {
    [](void*, int flag) { Playback::pauses.push_back(flag); },
    [](void* rowRate, int row) {
        Playback::seekSeconds.push_back(row / *static_cast<double*>(rowRate));
    },
    [](void*) { return Playback::playing; },
};

Common::Track track(Common::TRACK_TYPE type, std::string name) {
    Common::Track t;
    t.type = type;
    t.name = std::move(name);
    return t;
}

class CosmonautTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.enter());
        Playback::playing = 1;
        Playback::seekSeconds.clear();
        Playback::pauses.clear();
        // Another program may hold the editor port for a moment.
        for (int i = 0; i < 100 && !startEditor(); ++i)
            std::this_thread::sleep_for(100ms);
        ASSERT_TRUE(editor && editor->listening()) << "port 1338 is taken";
    }
    void TearDown() override { cosmonaut.cleanUp(); }

    bool startEditor() {
        editor = std::make_unique<TestEditor>(TestEditor::DEFAULT_PORT);
        return editor->listening();
    }

    // initialize, connectPlayer (editing mode only), setFunctions, setTracks:
    // the order in which the player starts its driver.
    void start(double bpm, int rpb, bool editing, std::vector<Common::Track> tracks) {
        cosmonaut.initialize(bpm, rpb);
        if (editing)
            cosmonaut.connectPlayer("127.0.0.1");
        cosmonaut.setFunctions(&callbacks);
        cosmonaut.setTracks(tracks);
    }

    // Sends messages as one batch and runs the frame that applies them.
    void editAndUpdate(const Bytes& messages, double seconds) {
        ASSERT_TRUE(editor->sendRaw(messages));
        std::this_thread::sleep_for(20ms);
        cosmonaut.update(seconds);
    }

    TempDir scratch;
    std::unique_ptr<TestEditor> editor;
    Cosmonaut cosmonaut;
};

TEST_F(CosmonautTest, MusicTimeBecomesSingleFloatRows) {
    start(120.0, 8, true, {track(Common::FLOAT1, "fade")});
    EXPECT_EQ(cosmonaut.getRowRate(), 16.0);
    ASSERT_TRUE(editor->waitForClient());
    ASSERT_TRUE(editor->waitForTrackRequests(1));

    cosmonaut.update(0.0);
    ASSERT_TRUE(editor->waitForRowReport(0));

    // A linear ramp from row 32 to 33 shows the fraction of the sampling row.
    editAndUpdate(concat({TestEditor::encodeSetKey(0, 32, 0.0f, KEY_LINEAR),
                          TestEditor::encodeSetKey(0, 33, 1.0f, KEY_STEP)}),
                  2.03);
    ASSERT_TRUE(editor->waitForRowReport(32));
    EXPECT_EQ(editor->rowReports(), (std::vector<int32_t>{0, 32}));
    Common::Gateway fade = cosmonaut.getTrack("fade");
    EXPECT_EQ(fade.type, Common::FLOAT1);
    EXPECT_EQ(fade.values[0], double(32.48f) - 32.0);
    EXPECT_NEAR(fade.values[0], 0.47999954, 1e-8);
}

TEST_F(CosmonautTest, DefaultTempoGivesRowThirtyTwoAtThreeSeconds) {
    start(80.0, 8, true, {});
    EXPECT_DOUBLE_EQ(cosmonaut.getRowRate(), 80.0 / 60.0 * 8);
    ASSERT_TRUE(editor->waitForClient());
    cosmonaut.update(3.0);
    ASSERT_TRUE(editor->waitForRowReport(32));
    cosmonaut.update(2.999);
    ASSERT_TRUE(editor->waitForRowReport(31));
}

TEST_F(CosmonautTest, TracksAreNamedAndRequestedInOrder) {
    start(120.0, 8, true,
          {track(Common::FLOAT1, "fade"), track(Common::FLOAT2, "pos"),
           track(Common::FLOAT3, "col")});
    ASSERT_TRUE(editor->waitForTrackRequests(6));
    EXPECT_EQ(editor->trackRequests(),
              (std::vector<std::string>{"fade", "pos.x", "pos.y", "col.x", "col.y", "col.z"}));

    Common::Gateway pos = cosmonaut.getTrack("pos");
    EXPECT_EQ(pos.type, Common::FLOAT2);
    ASSERT_NE(pos.tracks[0], nullptr);
    ASSERT_NE(pos.tracks[1], nullptr);
    EXPECT_STREQ(pos.tracks[0]->name, "pos.x");
    EXPECT_STREQ(pos.tracks[1]->name, "pos.y");
    EXPECT_EQ(pos.tracks[2], nullptr);

    // Keys for col.x, col.y, col.z (indices 3 to 5) reach all three values.
    editAndUpdate(concat({TestEditor::encodeSetKey(3, 0, 1.0f, KEY_STEP),
                          TestEditor::encodeSetKey(4, 0, 0.0f, KEY_LINEAR),
                          TestEditor::encodeSetKey(4, 16, 1.0f, KEY_STEP),
                          TestEditor::encodeSetKey(5, 0, -2.0f, KEY_STEP)}),
                  0.5);
    Common::Gateway col = cosmonaut.getTrack("col");
    EXPECT_EQ(col.type, Common::FLOAT3);
    EXPECT_EQ(col.values[0], 1.0);
    EXPECT_EQ(col.values[1], 0.5);
    EXPECT_EQ(col.values[2], -2.0);
    EXPECT_EQ(cosmonaut.getTrack("fade").values[0], 0.0);
    EXPECT_TRUE(editor->protocolErrors().empty());
}

TEST_F(CosmonautTest, ATrackListedTwiceKeepsItsLastTypeAndSharesSyncTracks) {
    start(120.0, 8, true,
          {track(Common::FLOAT1, "n"), track(Common::FLOAT3, "n"), track(Common::FLOAT2, "p"),
           track(Common::FLOAT1, "p.x")});
    ASSERT_TRUE(editor->waitForTrackRequests(6));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(editor->trackRequests(),
              (std::vector<std::string>{"n", "n.x", "n.y", "n.z", "p.x", "p.y"}));

    Common::Gateway n = cosmonaut.getTrack("n");
    EXPECT_EQ(n.type, Common::FLOAT3);
    ASSERT_NE(n.tracks[2], nullptr);
    EXPECT_STREQ(n.tracks[0]->name, "n.x");
    EXPECT_STREQ(n.tracks[2]->name, "n.z");
    EXPECT_EQ(cosmonaut.getTrack("p.x").tracks[0], cosmonaut.getTrack("p").tracks[0]);
}

TEST_F(CosmonautTest, UnconfiguredNamesAndUnknownTypesHaveNoTracks) {
    start(120.0, 8, true,
          {track(Common::TRACK_TYPE_UNKNOWN, "odd"), track(Common::FLOAT1, "fade")});
    ASSERT_TRUE(editor->waitForTrackRequests(1));

    Common::Gateway unknown = cosmonaut.getTrack("nowhere");
    EXPECT_EQ(unknown.type, Common::FLOAT1);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(unknown.tracks[c], nullptr);
        EXPECT_EQ(unknown.values[c], 0.0);
    }
    Common::Gateway odd = cosmonaut.getTrack("odd");
    EXPECT_EQ(odd.type, Common::TRACK_TYPE_UNKNOWN);
    EXPECT_EQ(odd.tracks[0], nullptr);

    editAndUpdate(TestEditor::encodeSetKey(0, 0, 3.0f, KEY_STEP), 1.0);
    cosmonaut.update(1.5);
    EXPECT_EQ(cosmonaut.getTrack("fade").values[0], 3.0);
    EXPECT_EQ(cosmonaut.getTrack("nowhere").values[0], 0.0);
    EXPECT_EQ(cosmonaut.getTrack("odd").values[0], 0.0);
    EXPECT_EQ(editor->trackRequests(), std::vector<std::string>{"fade"});
    EXPECT_TRUE(editor->connected());
}

TEST_F(CosmonautTest, NegativeAndUndefinedTimesGiveWholeRows) {
    start(120.0, 8, true, {});
    ASSERT_TRUE(editor->waitForClient());
    cosmonaut.update(1.0);
    ASSERT_TRUE(editor->waitForRowReport(16));
    // -0.05 s is row -0.8, which lies on row -1, not on row 0.
    cosmonaut.update(-0.05);
    ASSERT_TRUE(editor->waitForRowReport(-1));
    // A time that is not a number gives row 0.
    cosmonaut.update(std::nan(""));
    ASSERT_TRUE(editor->waitForRowReport(0));
    EXPECT_EQ(editor->rowReports(), (std::vector<int32_t>{16, -1, 0}));
}

TEST_F(CosmonautTest, SeeksReachTheCallbacksWithTheRowRate) {
    start(120.0, 8, true, {});
    ASSERT_TRUE(editor->waitForClient());
    editAndUpdate(concat({TestEditor::encodeSetRow(48), TestEditor::encodePause(1)}), 0.0);
    EXPECT_EQ(Playback::seekSeconds, std::vector<double>{3.0});
    EXPECT_EQ(Playback::pauses, std::vector<int>{1});
}

TEST_F(CosmonautTest, OneReconnectionAttemptPerFrameWhileTheEditorIsAway) {
    editor->setGreetingReply("hello, dude!");
    start(120.0, 8, true, {track(Common::FLOAT1, "fade"), track(Common::FLOAT2, "pos")});
    EXPECT_EQ(editor->connectionCount(), 1);
    for (int frame = 1; frame <= 3; ++frame) {
        cosmonaut.update(frame / 60.0);
        EXPECT_EQ(editor->connectionCount(), 1 + frame);
    }

    // The editor answers: the next frame links and asks for every track.
    editor->setGreetingReply("hello, demo!");
    cosmonaut.update(4 / 60.0);
    EXPECT_EQ(editor->connectionCount(), 5);
    ASSERT_TRUE(editor->waitForTrackRequests(3));
    EXPECT_EQ(editor->trackRequests(), (std::vector<std::string>{"fade", "pos.x", "pos.y"}));
    for (int frame = 5; frame < 10; ++frame)
        cosmonaut.update(frame / 60.0);
    EXPECT_EQ(editor->connectionCount(), 5);
}

TEST_F(CosmonautTest, AReturningEditorGetsEveryTrackRequestedAgain) {
    start(120.0, 8, true, {track(Common::FLOAT1, "fade"), track(Common::FLOAT3, "col")});
    ASSERT_TRUE(editor->waitForTrackRequests(4));
    editAndUpdate(concat({TestEditor::encodeSetKey(0, 0, 0.0f, KEY_LINEAR),
                          TestEditor::encodeSetKey(0, 160, 10.0f, KEY_STEP)}),
                  1.0);
    EXPECT_DOUBLE_EQ(cosmonaut.getTrack("fade").values[0], 1.0);

    // The editor quits: the tracks keep following the last keys.
    editor.reset();
    for (int frame = 0; frame < 3; ++frame)
        cosmonaut.update(2.0 + frame);
    EXPECT_DOUBLE_EQ(cosmonaut.getTrack("fade").values[0], 4.0);

    // It comes back: one frame links, the keys are dropped and every track
    // is requested again; the editor's keys count from the next frame on.
    ASSERT_TRUE(startEditor());
    cosmonaut.update(5.0);
    ASSERT_TRUE(editor->waitForClient(1000ms));
    ASSERT_TRUE(editor->waitForTrackRequests(4));
    EXPECT_EQ(editor->trackRequests(),
              (std::vector<std::string>{"fade", "col.x", "col.y", "col.z"}));
    EXPECT_EQ(cosmonaut.getTrack("fade").values[0], 0.0);
    editAndUpdate(TestEditor::encodeSetKey(0, 0, 7.0f, KEY_STEP), 5.5);
    EXPECT_EQ(cosmonaut.getTrack("fade").values[0], 7.0);
    EXPECT_EQ(editor->connectionCount(), 1);
}

TEST_F(CosmonautTest, ALostLinkIsRestoredWithinTheSameFrame) {
    start(120.0, 8, true, {track(Common::FLOAT1, "fade")});
    ASSERT_TRUE(editor->waitForTrackRequests(1));
    editor->closeConnection();
    std::this_thread::sleep_for(20ms);
    cosmonaut.update(0.0);
    EXPECT_EQ(editor->connectionCount(), 2);
    ASSERT_TRUE(editor->waitForTrackRequests(1));
}

TEST_F(CosmonautTest, ReleaseModeReadsTrackFilesAndNeverConnects) {
    scratch.write("sync_fade.track", trackFile({{0, 0.0f, KEY_LINEAR}, {16, 1.0f, KEY_STEP}}));
    scratch.write("sync_col.x.track", trackFile({{0, 0.25f, KEY_STEP}}));
    scratch.write("sync_col.z.track", trackFile({{0, 4.0f, KEY_RAMP}, {32, 0.0f, KEY_STEP}}));
    start(120.0, 8, false, {track(Common::FLOAT1, "fade"), track(Common::FLOAT3, "col")});

    for (int frame = 0; frame < 10; ++frame)
        cosmonaut.update(0.5);
    EXPECT_EQ(editor->connectionCount(), 0);

    EXPECT_DOUBLE_EQ(cosmonaut.getTrack("fade").values[0], 0.5);
    Common::Gateway col = cosmonaut.getTrack("col");
    EXPECT_EQ(col.values[0], 0.25);
    EXPECT_EQ(col.values[1], 0.0); // no file: an empty track
    EXPECT_DOUBLE_EQ(col.values[2], 3.75);

    cosmonaut.cleanUp();
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"sync_col.x.track", "sync_col.z.track",
                                                           "sync_fade.track"}));
}

TEST_F(CosmonautTest, CleanUpClosesTheLinkAndWritesNothing) {
    start(120.0, 8, true, {track(Common::FLOAT1, "fade")});
    ASSERT_TRUE(editor->waitForTrackRequests(1));
    editAndUpdate(TestEditor::encodeSetKey(0, 0, 1.0f, KEY_STEP), 0.0);
    cosmonaut.cleanUp();
    EXPECT_TRUE(editor->waitForDisconnect());
    EXPECT_TRUE(scratch.entries().empty());
    EXPECT_EQ(cosmonaut.getTrack("fade").tracks[0], nullptr);
}

} // namespace
