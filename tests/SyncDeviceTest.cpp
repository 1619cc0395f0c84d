// The sync device: its tracks, the names of their track files, loading and
// saving those files. Every test runs in a scratch working directory.

#include "SyncTesting.h"
#include "sync.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

using namespace Tolvane::Testing;
namespace fs = std::filesystem;

namespace {

struct DeviceDeleter {
    void operator()(sync_device* d) const { sync_destroy_device(d); }
};
using Device = std::unique_ptr<sync_device, DeviceDeleter>;

Device makeDevice(const char* base = "sync") {
    return Device(sync_create_device(base));
}

#ifdef __linux__
// The process's peak virtual memory size in kB (VmPeak).
long peakVirtualKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmPeak:", 0) == 0)
            return std::stol(line.substr(7));
    return -1;
}
#endif

class SyncDevice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch.enter()); }
    TempDir scratch;
};

void expectEmpty(const sync_track* track) {
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->key_count, 0);
    EXPECT_EQ(track->keys, nullptr);
    EXPECT_EQ(sync_get_val(track, 5.0), 0.0);
}

TEST_F(SyncDevice, CreatesADeviceWithAnEncodedBase) {
    Device d = makeDevice("sync");
    ASSERT_TRUE(d);
    EXPECT_STREQ(d->base, "sync");
    EXPECT_EQ(d->track_count, 0);
    EXPECT_EQ(d->last_row, -1);
    EXPECT_EQ(d->link, SYNC_INVALID_SOCKET);

    Device spaced = makeDevice("my sync");
    ASSERT_TRUE(spaced);
    EXPECT_STREQ(spaced->base, "my-20sync");

    EXPECT_FALSE(makeDevice("/abs"));
    EXPECT_EQ(sync_create_device(nullptr), nullptr);
}

TEST_F(SyncDevice, EncodingStopsAtTheFirstByteThatDoesNotFit) {
    // An escaped byte needs three characters below the 259-character limit.
    std::string fits(256, 'a');
    Device d1 = makeDevice((fits + ":").c_str());
    ASSERT_TRUE(d1);
    EXPECT_EQ(std::string(d1->base), fits + "-3A");

    std::string full(257, 'a');
    Device d2 = makeDevice((full + ":b").c_str());
    ASSERT_TRUE(d2);
    EXPECT_EQ(std::string(d2->base), full);

    Device d3 = makeDevice(std::string(300, 'b').c_str());
    ASSERT_TRUE(d3);
    EXPECT_EQ(std::string(d3->base), std::string(259, 'b'));
}

TEST_F(SyncDevice, TrackNamesMapToFileNames) {
    EXPECT_STREQ(sync_track_path("sync", "camera.x"), "sync_camera.x.track");
    EXPECT_STREQ(sync_track_path("sync", "fx:glow"), "sync_fx-3Aglow.track");
    EXPECT_STREQ(sync_track_path("sync", "a-b"), "sync_a-2Db.track");
    EXPECT_STREQ(sync_track_path("sync", "scene/part 1"), "sync_scene/part-201.track");
    EXPECT_STREQ(sync_track_path("sync", "k\xE4se_Z9"), "sync_k-E4se_Z9.track");

    std::string longName(300, 'a');
    std::string path = sync_track_path("sync", longName.c_str());
    EXPECT_EQ(path.size(), 259u);
    EXPECT_EQ(path, "sync_" + std::string(254, 'a'));
}

TEST_F(SyncDevice, SavedTracksLandInTheirEncodedFiles) {
    Device d = makeDevice();
    for (const char* name : {"camera.x", "fx:glow", "a-b", "scene/part 1"})
        ASSERT_EQ(sync_set_key(sync_get_track(d.get(), name), {3, 1.0f, KEY_LINEAR}), 0);
    ASSERT_EQ(sync_save_tracks(d.get()), 0);

    EXPECT_EQ(
        scratch.entries(),
        (std::vector<std::string>{"sync_a-2Db.track", "sync_camera.x.track", "sync_fx-3Aglow.track",
                                  "sync_scene", "sync_scene/part-201.track"}));
    EXPECT_TRUE(fs::is_directory("sync_scene"));
    for (const char* file : {"sync_a-2Db.track", "sync_scene/part-201.track"})
        EXPECT_EQ(fs::file_size(file), 13u) << file;
}

TEST_F(SyncDevice, AFolderTakenAsGivenHoldsTheTrackFiles) {
    // Absolute, and named as the encoder would not name it.
    fs::create_directories("my demo-1");
    const std::string folder = fs::absolute("my demo-1").string() + "/";
    Device d = makeDevice();
    ASSERT_EQ(sync_set_folder(d.get(), folder.c_str()), 0);
    ASSERT_EQ(sync_set_key(sync_get_track(d.get(), "scene/part 1"), {3, 1.0f, KEY_LINEAR}), 0);
    ASSERT_EQ(sync_save_tracks(d.get()), 0);
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"my demo-1", "my demo-1/sync_scene",
                                                           "my demo-1/sync_scene/part-201.track"}));

    Device again = makeDevice();
    ASSERT_EQ(sync_set_folder(again.get(), folder.c_str()), 0);
    EXPECT_EQ(sync_get_track(again.get(), "scene/part 1")->key_count, 1);
    // The empty folder is the working directory again.
    scratch.write("sync_here.track", trackFile({{0, 2.0f, KEY_STEP}}));
    ASSERT_EQ(sync_set_folder(again.get(), ""), 0);
    EXPECT_EQ(sync_get_track(again.get(), "here")->key_count, 1);
    EXPECT_EQ(sync_set_folder(nullptr, "x"), -1);
}

TEST_F(SyncDevice, AskingTwiceReturnsTheSameTrackLoadedOnce) {
    scratch.write("sync_fade.track", trackFile({{0, 1.0f, KEY_STEP}}));
    Device d = makeDevice();
    sync_track* first = sync_get_track(d.get(), "fade");
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->key_count, 1);

    scratch.write("sync_fade.track", trackFile({{0, 2.0f, KEY_STEP}, {5, 3.0f, KEY_STEP}}));
    EXPECT_EQ(sync_get_track(d.get(), "fade"), first);
    EXPECT_EQ(first->key_count, 1);
    EXPECT_EQ(first->keys[0].value, 1.0f);
    EXPECT_EQ(d->track_count, 1);

    sync_track* other = sync_get_track(d.get(), "fade2");
    EXPECT_NE(other, first);
    EXPECT_EQ(d->track_count, 2);
    EXPECT_EQ(d->tracks[1], other);
    EXPECT_STREQ(other->name, "fade2");
}

TEST_F(SyncDevice, MissingOrZeroLengthFileGivesAnEmptyTrack) {
    scratch.write("sync_zero.track", std::string());
    Device d = makeDevice();
    expectEmpty(sync_get_track(d.get(), "missing"));
    expectEmpty(sync_get_track(d.get(), "zero"));
}

TEST_F(SyncDevice, TwentyTwoByteFileYieldsHalfAtRowFive) {
    const std::string bytes = trackFile({{0, 0.0f, KEY_LINEAR}, {10, 1.0f, KEY_STEP}});
    ASSERT_EQ(bytes.size(), 22u);
    scratch.write("sync_fade.track", bytes);

    Device d = makeDevice();
    const sync_track* t = sync_get_track(d.get(), "fade");
    ASSERT_EQ(t->key_count, 2);
    EXPECT_EQ(sync_get_val(t, 5.0), 0.5);
}

TEST_F(SyncDevice, WellFormedFileLoadsExactlyAsWritten) {
    std::vector<Key> keys = {{INT32_MIN, -0.0f, KEY_RAMP},
                             {-7, 1e-30f, KEY_SMOOTH},
                             {0, 3.25f, KEY_LINEAR},
                             {INT32_MAX, -1e30f, KEY_STEP}};
    scratch.write("sync_x.track", trackFile(keys));
    Device d = makeDevice();
    const sync_track* t = sync_get_track(d.get(), "x");
    ASSERT_EQ(t->key_count, 4);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(t->keys[i].row, keys[i].row) << i;
        EXPECT_EQ(floatBits(t->keys[i].value), floatBits(keys[i].value)) << i;
        EXPECT_EQ(int(t->keys[i].type), keys[i].type) << i;
    }
}

TEST_F(SyncDevice, MalformedFilesLoadEmpty) {
    const std::string good = trackFile({{0, 0.0f, KEY_LINEAR}, {10, 1.0f, KEY_STEP}});
    const std::string truncated = good.substr(0, good.size() - 1);
    const std::string trailing = good + std::string(1, '\0');
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"truncated", truncated},
        {"trailing", trailing},
        {"short", std::string("\x02\0\0", 3)},
        {"negative", trackFile(-1, {})},
        {"negativewithkey", trackFile(-1, {{0, 1.0f, KEY_STEP}})},
        {"huge", trackFile(INT32_MAX, {{0, 1.0f, KEY_STEP}})},
        {"countbelowlength", trackFile(1, {{0, 1.0f, KEY_STEP}, {10, 1.0f, KEY_STEP}})},
        {"repeatedrow", trackFile({{5, 1.0f, KEY_STEP}, {5, 2.0f, KEY_STEP}})},
        {"descending", trackFile({{0, 1.0f, KEY_STEP}, {10, 2.0f, KEY_STEP}, {9, 3.0f, KEY_STEP}})},
    };
    Device d = makeDevice();
    for (const Case& c : cases) {
        scratch.write(sync_track_path("sync", c.name), c.bytes);
        SCOPED_TRACE(c.name);
        expectEmpty(sync_get_track(d.get(), c.name));
    }
}

#ifdef __linux__
TEST_F(SyncDevice, HugeKeyCountsAllocateNothingLarge) {
    // A file that claims far more keys than it holds must not make the
    // loader reserve memory for them.
    scratch.write("sync_big.track", trackFile(10'000'000, {{0, 1.0f, KEY_STEP}}));
    scratch.write("sync_max.track", trackFile(INT32_MAX, {{0, 1.0f, KEY_STEP}}));
    long before = peakVirtualKb();
    ASSERT_GT(before, 0);
    Device d = makeDevice();
    expectEmpty(sync_get_track(d.get(), "big"));
    expectEmpty(sync_get_track(d.get(), "max"));
    EXPECT_LT(peakVirtualKb() - before, 16 * 1024);
}
#endif

TEST_F(SyncDevice, KeyTypeAboveThreeInAFileActsAsStep) {
    scratch.write("sync_odd.track", trackFile({{0, 0.25f, 200}, {10, 1.0f, KEY_LINEAR}}));
    Device d = makeDevice();
    const sync_track* t = sync_get_track(d.get(), "odd");
    ASSERT_EQ(t->key_count, 2);
    EXPECT_EQ(t->keys[0].type, KEY_STEP);
    EXPECT_EQ(sync_get_val(t, 5.0), 0.25);
    EXPECT_EQ(sync_get_val(t, 10.0), 1.0);
}

TEST_F(SyncDevice, SavingWritesEveryKeyLittleEndian) {
    Device d = makeDevice();
    sync_track* t = sync_get_track(d.get(), "pos.x");
    ASSERT_EQ(sync_set_key(t, {-2, 1.5f, KEY_SMOOTH}), 0);
    ASSERT_EQ(sync_set_key(t, {300, -4.0f, KEY_RAMP}), 0);
    sync_get_track(d.get(), "empty");
    ASSERT_EQ(sync_save_tracks(d.get()), 0);

    EXPECT_EQ(scratch.read("sync_pos.x.track"),
              trackFile({{-2, 1.5f, KEY_SMOOTH}, {300, -4.0f, KEY_RAMP}}));
    EXPECT_EQ(scratch.read("sync_empty.track"), std::string(4, '\0'));
    EXPECT_EQ(scratch.entries(),
              (std::vector<std::string>{"sync_empty.track", "sync_pos.x.track"}));

    // What was saved loads back as it was.
    Device again = makeDevice();
    const sync_track* loaded = sync_get_track(again.get(), "pos.x");
    ASSERT_EQ(loaded->key_count, 2);
    EXPECT_EQ(loaded->keys[1].row, 300);
    EXPECT_EQ(loaded->keys[1].value, -4.0f);
    EXPECT_EQ(loaded->keys[1].type, KEY_RAMP);
}

TEST_F(SyncDevice, SavingOverwritesAnOlderFile) {
    scratch.write("sync_fade.track",
                  trackFile({{0, 9.0f, KEY_STEP}, {1, 9.0f, KEY_STEP}, {2, 9.0f, KEY_STEP}}));
    Device d = makeDevice();
    sync_track* t = sync_get_track(d.get(), "fade");
    ASSERT_EQ(sync_del_key(t, 1), 0);
    ASSERT_EQ(sync_save_tracks(d.get()), 0);
    EXPECT_EQ(scratch.read("sync_fade.track"),
              trackFile({{0, 9.0f, KEY_STEP}, {2, 9.0f, KEY_STEP}}));
}

TEST_F(SyncDevice, SavingStopsAtATrackWhoseDirectoryIsAFile) {
    scratch.write("sync_blocked", "\x01");
    Device d = makeDevice();
    sync_get_track(d.get(), "first");
    sync_get_track(d.get(), "blocked/inner");
    sync_get_track(d.get(), "last");
    EXPECT_EQ(sync_save_tracks(d.get()), -1);
    EXPECT_TRUE(fs::exists("sync_first.track"));
    EXPECT_FALSE(fs::exists("sync_last.track"));
    EXPECT_EQ(scratch.read("sync_blocked"), "\x01");
}

TEST_F(SyncDevice, FailedSaveLeavesTheOldFileIntact) {
    // The temporary file cannot be created: a directory holds its name.
    const std::string old = trackFile({{0, 1.0f, KEY_LINEAR}, {8, 2.0f, KEY_STEP}});
    scratch.write("sync_fade.track", old);
    Device d = makeDevice();
    sync_track* t = sync_get_track(d.get(), "fade");
    ASSERT_EQ(sync_set_key(t, {4, 7.0f, KEY_STEP}), 0);
    fs::create_directory("sync_fade.trac~");

    EXPECT_EQ(sync_save_tracks(d.get()), -1);
    EXPECT_EQ(scratch.read("sync_fade.track"), old);
    EXPECT_TRUE(fs::is_directory("sync_fade.trac~"));
}

#ifndef _WIN32 // symbolic links and permission bits
TEST_F(SyncDevice, SavingWritesThroughLinksKeepsModesAndClearsLeftovers) {
    // A track file that links to a file kept elsewhere, readable by its
    // owner and group only; another one whose killed save left its
    // temporary file; a name as long as the file system allows.
    const std::string old = trackFile({{0, 1.0f, KEY_LINEAR}});
    fs::create_directory("shared");
    scratch.write("shared/fade.bin", old);
    fs::permissions("shared/fade.bin",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("shared/fade.bin", "sync_fade.track");
    scratch.write("sync_glow.trac~", std::string("\1\2\3"));
    const std::string longest(244, 'n');

    Device d = makeDevice();
    for (const std::string& name : {std::string("fade"), std::string("glow"), longest})
        ASSERT_EQ(sync_set_key(sync_get_track(d.get(), name.c_str()), {2, 5.0f, KEY_STEP}), 0);
    ASSERT_EQ(sync_save_tracks(d.get()), 0);

    const std::string saved = trackFile({{2, 5.0f, KEY_STEP}});
    EXPECT_TRUE(fs::is_symlink("sync_fade.track")) << "the link stays a link";
    EXPECT_EQ(scratch.read("shared/fade.bin"),
              trackFile({{0, 1.0f, KEY_LINEAR}, {2, 5.0f, KEY_STEP}}));
    EXPECT_EQ(fs::status("shared/fade.bin").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(scratch.read("sync_glow.track"), saved);
    EXPECT_EQ(scratch.read("sync_" + longest + ".track"), saved);
    for (const std::string& entry : scratch.entries())
        EXPECT_NE(entry.back(), '~') << "a temporary file is left: " << entry;
    EXPECT_EQ(scratch.entries().size(), 5u);
}
#endif

TEST_F(SyncDevice, NamesThatWouldWriteOutsideOrLoseTheirEndingAreRefused) {
    const std::string padded = "a" + std::string(300, '/') + "evil";
    for (const std::string& name :
         {std::string("/../../outside/evil"), std::string("up/../../evil"), std::string(".."),
          std::string("tab\there"), std::string("bell\x7F"), std::string(245, 'n'), padded}) {
        SCOPED_TRACE(name.substr(0, 40));
        EXPECT_NE(sync_track_name_fault("sync", name.c_str()), nullptr);
        // The library refuses to save such a track even when asked to.
        Device d = makeDevice();
        sync_get_track(d.get(), name.c_str());
        EXPECT_EQ(sync_save_tracks(d.get()), -1);
    }
    EXPECT_TRUE(scratch.entries().empty()) << "nothing was written";
    for (const char* name : {"camera.x", "scene/part 1", "a..b/..c", "k\xE4se", ""})
        EXPECT_EQ(sync_track_name_fault("sync", name), nullptr) << name;
}

#ifndef _WIN32
TEST_F(SyncDevice, InterruptedWriteLeavesTheOldFileIntact) {
    // A child process whose file size limit stops the write half-way, as a
    // full disk would.
    const std::string old = trackFile({{0, 1.0f, KEY_LINEAR}, {8, 2.0f, KEY_STEP}});
    scratch.write("sync_fade.track", old);
    Device d = makeDevice();
    sync_track* t = sync_get_track(d.get(), "fade");
    for (int row = 10; row < 200; ++row)
        ASSERT_EQ(sync_set_key(t, {row, float(row), KEY_LINEAR}), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(sync_save_tracks(d.get()) == -1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not report its failure";
    EXPECT_EQ(scratch.read("sync_fade.track"), old);
    EXPECT_EQ(scratch.entries(), std::vector<std::string>{"sync_fade.track"});
}
#endif

TEST_F(SyncDevice, DestroyingTheDeviceWritesNothing) {
    Device d = makeDevice();
    sync_track* t = sync_get_track(d.get(), "fade");
    ASSERT_EQ(sync_set_key(t, {0, 1.0f, KEY_STEP}), 0);
    sync_get_track(d.get(), "dir/inner");
    d.reset();
    EXPECT_TRUE(scratch.entries().empty());
}

} // namespace
