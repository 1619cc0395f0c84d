// The editor's save command meeting a disk that will not take the files: a
// regular file where a track's directory should be, a read-only file system,
// a full one, and a file-size limit. The save of that track fails, the track
// file saved before stays byte for byte as it was, no temporary file is left
// behind, and the player goes on following the editor.

#include "FaultTesting.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Tolvane::Testing;
using namespace Tolvane::Testing::Faults;

namespace {

std::vector<Key> ramp(int count, float base) {
    std::vector<Key> keys;
    for (int i = 0; i < count; ++i) {
        keys.push_back({i * 4, base + static_cast<float>(i) * 0.5f, static_cast<uint8_t>(i % 4)});
    }
    return keys;
}

// Sends the keys for every track, the save command and a last key that
// shows as red; waits until that red shows.
::testing::AssertionResult editAndSave(Player& player, TestEditor& editor,
                                       const std::vector<std::vector<Key>>& tracks, double red) {
    TestEditor::Bytes bytes;
    for (size_t track = 0; track < tracks.size(); ++track) {
        const TestEditor::Bytes keys = setKeys(static_cast<uint32_t>(track), tracks[track]);
        bytes.insert(bytes.end(), keys.begin(), keys.end());
    }
    const TestEditor::Bytes save = TestEditor::encodeSaveTracks();
    bytes.insert(bytes.end(), save.begin(), save.end());
    // The red value goes after the save, so that it is not saved; it is
    // what shows that the player carried on.
    const TestEditor::Bytes marker =
        TestEditor::encodeSetKey(0, 100, static_cast<float>(red), KEY_STEP);
    bytes.insert(bytes.end(), marker.begin(), marker.end());
    if (!editor.sendRaw(bytes)) {
        return ::testing::AssertionFailure() << "the editor could not send";
    }
    // Row 100 lies beyond the first track's other keys: red shows once the
    // music is sought there.
    if (!editor.setRow(100)) {
        return ::testing::AssertionFailure() << "the editor could not seek";
    }
    const int wanted = expected(red, 0, 0)[0];
    const auto shows = [&](const Image& shown) { return std::abs(values(shown)[0] - wanted) <= 1; };
    const Image image = player.waitForImage(shows);
    if (!shows(image)) {
        return ::testing::AssertionFailure()
               << "the player shows red " << values(image)[0] << ", not " << wanted;
    }
    return ::testing::AssertionSuccess();
}

// Key sets whose first track (bound to red) holds no key at 100 or beyond,
// so that the marker decides the colour there.
std::vector<std::vector<Key>> edits(int round, const std::vector<int>& sizes) {
    std::vector<std::vector<Key>> tracks;
    for (size_t i = 0; i < sizes.size(); ++i) {
        tracks.push_back(ramp(sizes[i], static_cast<float>(round * 100 + static_cast<int>(i))));
    }
    return tracks;
}

std::string savedBytes(const std::vector<Key>& keys, double red) {
    std::vector<Key> withMarker = keys;
    withMarker.push_back({100, static_cast<float>(red), 0});
    return trackFile(withMarker);
}

void closeNormally(Player& player) {
    player.requestClose();
    EXPECT_EQ(player.waitForExit(), 0);
    EXPECT_EQ(player.standardError(), "");
    EXPECT_EQ(player.standardOutput(), "");
}

} // namespace

// Runs first in its process: a private mount namespace can only be made
// while the process has a single thread.
TEST(SaveFaults, ReadOnlyAndFullFileSystemsFailTheSaveAndKeepTheOldFile) {
    if (unshare(CLONE_NEWNS) != 0) {
        GTEST_SKIP() << "no private mount namespace here (errno " << errno << ")";
    }
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);

    TestEditor editor;
    ASSERT_TRUE(editor.listening());
    Player player;
    const std::vector<std::string> names = {"fade", "disk/a"};
    ASSERT_TRUE(writeValuesDemo(player.dir(), names));

    // The second track's directory is a 64 KiB file system of its own.
    const std::string mountPoint = player.dir().file("sync_disk");
    player.dir().write("sync_disk/.keep", "");
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a file system here (errno " << errno << ")";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    const std::string old = trackFile(ramp(3, -7.0f));
    player.dir().write("sync_disk/a.track", old);
    ASSERT_EQ(mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);

    ASSERT_TRUE(startEditing(player)) << player.standardOutput();
    ASSERT_TRUE(linked(editor, names.size()));

    // Read-only: the first track is saved, the second is not and keeps its
    // old bytes.
    auto keys = edits(1, {5, 20});
    ASSERT_TRUE(editAndSave(player, editor, keys, 0.2));
    EXPECT_TRUE(waitForFile(player.dir(), "sync_fade.track", trackFile(keys[0])));
    EXPECT_EQ(player.dir().read("sync_disk/a.track"), old);

    // Writable but full: the temporary file cannot take the keys; it is
    // removed and the old file stays.
    ASSERT_EQ(mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT, nullptr), 0);
    {
        const int filler =
            open(player.dir().file("sync_disk/filler").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(filler, 0);
        const std::string block(4096, 'x');
        while (write(filler, block.data(), block.size()) > 0) {
        }
        EXPECT_EQ(errno, ENOSPC);
        close(filler);
    }
    keys = edits(2, {6, 300});
    ASSERT_TRUE(editAndSave(player, editor, keys, 0.4));
    EXPECT_TRUE(waitForFile(player.dir(), "sync_fade.track", savedBytes(keys[0], 0.2)));
    EXPECT_EQ(player.dir().read("sync_disk/a.track"), old);
    EXPECT_FALSE(player.dir().exists("sync_disk/a.trac~"))
        << "a failed save leaves no temporary file";

    // Room again: the next save goes through.
    ASSERT_EQ(unlink(player.dir().file("sync_disk/filler").c_str()), 0);
    keys = edits(3, {7, 300});
    ASSERT_TRUE(editAndSave(player, editor, keys, 0.6));
    EXPECT_TRUE(waitForFile(player.dir(), "sync_disk/a.track", trackFile(keys[1])));
    EXPECT_TRUE(waitForFile(player.dir(), "sync_fade.track", savedBytes(keys[0], 0.4)));

    EXPECT_TRUE(editor.connected()) << "a failed save does not cost the link";
    EXPECT_EQ(editor.connectionCount(), 1);
    closeNormally(player);
}

TEST(SaveFaults, AFileWhereATrackDirectoryBelongsFailsTheSaveAndLeavesEveryFileIntact) {
    TestEditor editor;
    ASSERT_TRUE(editor.listening());
    Player player;
    const std::vector<std::string> names = {"fade", "sub/x", "late"};
    ASSERT_TRUE(writeValuesDemo(player.dir(), names));
    player.dir().write("sync_sub", "a file, not a directory");
    const std::string oldLate = trackFile(ramp(2, 42.0f));
    player.dir().write("sync_late.track", oldLate);

    ASSERT_TRUE(startEditing(player)) << player.standardOutput();
    ASSERT_TRUE(linked(editor, names.size()));

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        const auto keys = edits(round, {4, 4, 4});
        ASSERT_TRUE(editAndSave(player, editor, keys, 0.25 * round));
        // Tracks are saved in order until the first that fails.
        const std::string fade = round == 1 ? trackFile(keys[0]) : savedBytes(keys[0], 0.25);
        EXPECT_TRUE(waitForFile(player.dir(), "sync_fade.track", fade));
        EXPECT_EQ(player.dir().read("sync_sub"), "a file, not a directory");
        EXPECT_EQ(player.dir().read("sync_late.track"), oldLate)
            << "a track after the failed one is not written";
        EXPECT_FALSE(player.dir().exists("sync_late.trac~"));
    }
    EXPECT_TRUE(editor.connected());
    closeNormally(player);
}

TEST(SaveFaults, AFileSizeLimitFailsTheSaveWithoutKillingThePlayer) {
    TestEditor editor;
    ASSERT_TRUE(editor.listening());
    Player player;
    const std::vector<std::string> names = {"fade", "big"};
    ASSERT_TRUE(writeValuesDemo(player.dir(), names));
    const std::string old = trackFile(ramp(2, 5.0f));
    player.dir().write("sync_big.track", old);

    // The player may write files of up to 1000 bytes: the 200-key track
    // (1804 bytes) does not fit. The limit is inherited by the player only.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool started = player.start({}, {{"MESA_SHADER_CACHE_DISABLE", "true"}});
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    ASSERT_TRUE(started);
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    player.pressKey(0x0063); // c: hide the log
    ASSERT_TRUE(linked(editor, names.size()));

    const auto keys = edits(1, {3, 200});
    ASSERT_TRUE(editAndSave(player, editor, keys, 0.3))
        << "exit status " << player.waitForExit(0ms);
    EXPECT_TRUE(waitForFile(player.dir(), "sync_fade.track", trackFile(keys[0])));
    EXPECT_EQ(player.dir().read("sync_big.track"), old);
    EXPECT_FALSE(player.dir().exists("sync_big.trac~"));

    // Cut down to 100 keys (904 bytes), the same track saves.
    TestEditor::Bytes cuts;
    for (int row = 400; row < 800; row += 4) {
        const TestEditor::Bytes cut = TestEditor::encodeDeleteKey(1, row);
        cuts.insert(cuts.end(), cut.begin(), cut.end());
    }
    ASSERT_TRUE(editor.sendRaw(cuts));
    const auto fewer = edits(2, {3, 100});
    ASSERT_TRUE(editAndSave(player, editor, fewer, 0.7));
    EXPECT_TRUE(waitForFile(player.dir(), "sync_big.track", trackFile(fewer[1])));
    EXPECT_TRUE(player.running());
    closeNormally(player);
}
