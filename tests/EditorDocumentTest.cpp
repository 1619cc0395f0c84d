// The editor's document without a window: keys, undo and redo, clipboard,
// rows and time, track files and the recovery copy, in a scratch folder.

#include "Document.h"
#include "Harness.h"
#include "SyncTesting.h"

#include <gtest/gtest.h>

#include <utility>

using namespace Tolvane::Editor;
using Tolvane::Testing::TempDir;

namespace {

// Every key of a track as (row, value, type) triples, for comparing.
std::vector<std::tuple<int, float, int>> keysOf(const Document& doc, int track) {
    std::vector<std::tuple<int, float, int>> keys;
    const sync_track& t = doc.track(track);
    for (int i = 0; i < t.key_count; ++i)
        keys.emplace_back(t.keys[i].row, t.keys[i].value, int(t.keys[i].type));
    return keys;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(EditorDocument, NewKeyTakesTheInterpolationAboveAndICyclesIt) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    Document doc;
    doc.load({"a"});
    doc.setKey(0, 10, 1.0f);
    EXPECT_EQ(doc.track(0).keys[0].type, KEY_STEP);
    EXPECT_TRUE(doc.cycleInterpolation(0, 15)); // the key above row 15
    EXPECT_TRUE(doc.cycleInterpolation(0, 10));
    EXPECT_EQ(doc.track(0).keys[0].type, KEY_SMOOTH);
    doc.setKey(0, 20, 2.0f);
    doc.setKey(0, 10, 3.0f); // an existing key keeps its own
    EXPECT_EQ(keysOf(doc, 0),
              (std::vector<std::tuple<int, float, int>>{{10, 3.0f, 2}, {20, 2.0f, 2}}));
    EXPECT_FALSE(doc.cycleInterpolation(0, 5)); // nothing at or above
    EXPECT_EQ(doc.lastKeyRow(), 20);
    for (int i = 0; i < 2; ++i)
        doc.cycleInterpolation(0, 10);
    EXPECT_EQ(doc.track(0).keys[0].type, KEY_STEP); // ramp wraps to step
}

TEST(EditorDocument, UndoAndRedoRestoreKeysAndReportEveryChange) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    Document doc;
    doc.load({"a", "b"});
    std::vector<std::pair<int, int>> changes;
    doc.onChange = [&](int track, int row) { changes.emplace_back(track, row); };

    doc.setKey(0, 4, 1.0f);
    doc.setKey(1, 8, 2.0f);
    doc.deleteKey(0, 4);
    EXPECT_TRUE(doc.modified());
    ASSERT_TRUE(doc.undo());
    EXPECT_EQ(keysOf(doc, 0).size(), 1u);
    ASSERT_TRUE(doc.undo());
    EXPECT_EQ(keysOf(doc, 1).size(), 0u);
    ASSERT_TRUE(doc.redo());
    EXPECT_EQ(keysOf(doc, 1).size(), 1u);
    EXPECT_EQ(changes,
              (std::vector<std::pair<int, int>>{{0, 4}, {1, 8}, {0, 4}, {0, 4}, {1, 8}, {1, 8}}));

    // A new edit drops what could be redone.
    doc.setKey(0, 1, 5.0f);
    EXPECT_FALSE(doc.redo());
    while (doc.undo()) {
    }
    EXPECT_FALSE(doc.modified()); // back where the last save (none) was
    EXPECT_TRUE(keysOf(doc, 0).empty() && keysOf(doc, 1).empty());
}

TEST(EditorDocument, PasteKeepsRowsRelativeClearsItsBlockAndUndoesAsOneStep) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    Document doc;
    doc.load({"a", "b", "c"});
    doc.setKey(0, 0, 1.0f);
    doc.setKey(0, 2, 2.0f);
    doc.setKey(1, 1, 3.0f);
    doc.cycleInterpolation(1, 1);
    doc.setKey(2, 13, 9.0f); // inside the paste target: cleared
    doc.setKey(2, 20, 8.0f); // outside: kept

    doc.moveCursor(0, 0);
    doc.moveCursor(1, 3, true);
    Block block = doc.selection();
    EXPECT_EQ(block.firstTrack, 0);
    EXPECT_EQ(block.lastRow, 3);
    doc.copy(block);
    ASSERT_TRUE(doc.paste(1, 10));
    EXPECT_EQ(keysOf(doc, 1), (std::vector<std::tuple<int, float, int>>{
                                  {1, 3.0f, 1}, {10, 1.0f, 0}, {12, 2.0f, 0}}));
    EXPECT_EQ(keysOf(doc, 2),
              (std::vector<std::tuple<int, float, int>>{{11, 3.0f, 1}, {20, 8.0f, 0}}));

    doc.undo();
    EXPECT_EQ(keysOf(doc, 2),
              (std::vector<std::tuple<int, float, int>>{{13, 9.0f, 0}, {20, 8.0f, 0}}));
    doc.cut(Block{0, 0, 0, 1});
    EXPECT_EQ(keysOf(doc, 0), (std::vector<std::tuple<int, float, int>>{{2, 2.0f, 0}}));
    // Pasting past the last track leaves the extra columns out.
    doc.copy(Block{1, 2, 0, 30});
    ASSERT_TRUE(doc.paste(2, 100));
    EXPECT_EQ(keysOf(doc, 2).size(), 3u);
}

TEST(EditorDocument, RowsAndTimeFollowBpmAndRowsPerBeat) {
    Document doc;
    doc.setTiming(120.0, 8); // 16 rows a second
    EXPECT_DOUBLE_EQ(doc.rowRate(), 16.0);
    EXPECT_DOUBLE_EQ(doc.secondsAt(24), 1.5);
    EXPECT_EQ(doc.rowAt(1.5), 24);
    EXPECT_EQ(doc.rowAt(1.56), 24);
    EXPECT_EQ(doc.timeText(16 * 75 + 1), "01:15.063");
}

TEST(EditorDocument, SavesThroughTheTrackFilesAndLeavesARefusedFileAlone) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    using Tolvane::Testing::trackFile;
    writeFile("sync_good.track", trackFile({{0, 0.0f, 1}, {10, 1.0f, 0}}));
    const std::string broken = trackFile({{5, 1.0f, 0}}).substr(0, 10);
    writeFile("sync_bad.track", broken);
    writeFile("sync_none.track", trackFile({}));

    Document doc;
    std::vector<std::string> refused = doc.load({"good", "bad", "none", "missing"});
    EXPECT_EQ(refused, std::vector<std::string>{"sync_bad.track"});
    EXPECT_DOUBLE_EQ(sync_get_val(&doc.track(0), 5.0), 0.5); // the player's evaluation

    doc.setKey(3, 7, 2.5f);
    EXPECT_EQ(dir.read("sync_bad.track").size(), broken.size());
    ASSERT_TRUE(doc.save());
    EXPECT_FALSE(doc.modified());

    Document again;
    EXPECT_TRUE(again.load({"good", "bad", "none", "missing"}).empty());
    EXPECT_EQ(keysOf(again, 3), (std::vector<std::tuple<int, float, int>>{{7, 2.5f, 0}}));
    EXPECT_EQ(keysOf(again, 0), keysOf(doc, 0));
}

TEST(EditorDocument, RecoveryCopyRestoresEditsWithoutTouchingTrackFiles) {
    TempDir dir;
    ASSERT_TRUE(dir.enter());
    using Tolvane::Testing::trackFile;
    writeFile("sync_a.track", trackFile({{1, 1.0f, 0}}));
    {
        Document doc;
        doc.load({"a"});
        doc.setKey(0, 3, 4.0f);
        doc.addTrack("extra");
        doc.setKey(1, 9, 6.0f);
        ASSERT_TRUE(doc.writeRecovery("configuration.json.recovery"));
    } // as if killed: nothing saved
    EXPECT_EQ(dir.read("sync_a.track").size(), 13u);
    EXPECT_FALSE(std::filesystem::exists("sync_extra.track"));

    ASSERT_TRUE(Document::recoveryExists("configuration.json.recovery"));
    Document doc;
    doc.load({"a"});
    ASSERT_TRUE(doc.restoreRecovery("configuration.json.recovery"));
    EXPECT_TRUE(doc.modified());
    EXPECT_FALSE(doc.canUndo());
    EXPECT_EQ(keysOf(doc, 0),
              (std::vector<std::tuple<int, float, int>>{{1, 1.0f, 0}, {3, 4.0f, 0}}));
    ASSERT_EQ(doc.findTrack("extra"), 1);
    EXPECT_EQ(keysOf(doc, 1).size(), 1u);
    Document::removeRecovery("configuration.json.recovery");
    EXPECT_FALSE(Document::recoveryExists("configuration.json.recovery"));
}
