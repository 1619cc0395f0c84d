// A player killed (SIGKILL) while it saves many tracks over and over with
// changing keys: afterwards every track file on disk is byte for byte either
// the one there before or one of the versions the editor had sent, never a
// mixture or a truncated file. Temporary files of a save cut short may stay
// behind; they are counted, not forbidden.

#include "FaultTesting.h"

#include <csignal>
#include <dirent.h>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

using namespace Tolvane::Testing;
using namespace Tolvane::Testing::Faults;

namespace {

constexpr int TRACK_COUNT = 200;
constexpr int KEYS_PER_TRACK = 60;
constexpr int ROUNDS = 3;
constexpr int VERSIONS_PER_ROUND = 3;

std::vector<std::string> trackNames() {
    std::vector<std::string> names;
    for (int i = 0; i < TRACK_COUNT; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "t%03d", i);
        names.push_back(name);
    }
    return names;
}

std::string fileOf(const std::string& track) {
    return "sync_" + track + ".track";
}

// The keys of one track in one version; every version sets the same rows,
// so a version replaces the whole of the one before.
std::vector<Key> versionKeys(int version, int track) {
    std::vector<Key> keys;
    for (int i = 0; i < KEYS_PER_TRACK; ++i) {
        keys.push_back({i * 3,
                        static_cast<float>(version * 1000 + track) + static_cast<float>(i) * 0.125f,
                        static_cast<uint8_t>((version + i) % 4)});
    }
    return keys;
}

// Every key of every track in this version, then the save command.
TestEditor::Bytes versionMessages(int version) {
    TestEditor::Bytes bytes;
    for (int track = 0; track < TRACK_COUNT; ++track) {
        const TestEditor::Bytes keys =
            setKeys(static_cast<uint32_t>(track), versionKeys(version, track));
        bytes.insert(bytes.end(), keys.begin(), keys.end());
    }
    const TestEditor::Bytes save = TestEditor::encodeSaveTracks();
    bytes.insert(bytes.end(), save.begin(), save.end());
    return bytes;
}

std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    return names;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

TEST(SaveKill, TrackFilesAreWholeOldOrWholeNewAfterAKillInTheMiddleOfSaving) {
    TestEditor editor;
    ASSERT_TRUE(editor.listening());
    const std::vector<std::string> names = trackNames();
    // One working directory for every round: each player starts where the
    // killed one left the disk.
    Player first;
    TempDir& dir = first.dir();
    ASSERT_TRUE(writeValuesDemo(dir, names));

    // What each file held before the round ("" for no file yet).
    std::map<std::string, std::string> onDisk;
    for (const std::string& name : names) {
        onDisk[name] = "";
    }

    std::mt19937 random(20240610);
    std::chrono::milliseconds saveTime{0};
    int version = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::unique_ptr<Player> other;
        Player* player = &first;
        if (round > 0) {
            other = std::make_unique<Player>();
            player = other.get();
            // Runs in the first player's directory.
            std::vector<std::string> copied = {"configuration.json", "shaders/vertex.glsl",
                                               "shaders/fragment.glsl", "tone.wav"};
            for (const std::string& file : copied) {
                player->dir().write(file, dir.read(file));
            }
            for (const std::string& name : filesIn(dir.path())) {
                if (endsWith(name, ".track")) {
                    player->dir().write(name, dir.read(name));
                }
            }
        }
        const int connections = editor.connectionCount();
        ASSERT_TRUE(player->start()) << "round " << round;
        ASSERT_NE(player->waitForWindow(), 0u) << player->standardOutput();
        ASSERT_TRUE(editor.waitForConnections(connections + 1, 20s));
        ASSERT_TRUE(linked(editor, names.size()));

        std::set<std::string> allowed[TRACK_COUNT];
        for (int track = 0; track < TRACK_COUNT; ++track) {
            allowed[track].insert(player->dir().exists(fileOf(names[track]))
                                      ? player->dir().read(fileOf(names[track]))
                                      : std::string());
        }

        if (round == 0) {
            // A save let to finish: it shows how long one save of every
            // track takes here, and puts a first version on the disk.
            ++version;
            const auto start = Clock::now();
            ASSERT_TRUE(editor.sendRaw(versionMessages(version)));
            const std::string last = trackFile(versionKeys(version, TRACK_COUNT - 1));
            ASSERT_TRUE(waitForFile(player->dir(), fileOf(names.back()), last, 30s));
            saveTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            for (int track = 0; track < TRACK_COUNT; ++track) {
                ASSERT_EQ(player->dir().read(fileOf(names[track])),
                          trackFile(versionKeys(version, track)));
                allowed[track].insert(trackFile(versionKeys(version, track)));
            }
        }

        // Several versions, each saved, queued at once; the kill comes at a
        // random moment while they are being applied and written.
        for (int v = 0; v < VERSIONS_PER_ROUND; ++v) {
            ++version;
            ASSERT_TRUE(editor.post(versionMessages(version)));
            for (int track = 0; track < TRACK_COUNT; ++track) {
                allowed[track].insert(trackFile(versionKeys(version, track)));
            }
        }
        const auto window = std::max<long>(20, saveTime.count() * VERSIONS_PER_ROUND);
        const auto delay = std::uniform_int_distribution<long>(0, window)(random);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ASSERT_EQ(kill(player->pid(), SIGKILL), 0);
        EXPECT_EQ(player->waitForExit(), 128 + SIGKILL);

        // Every track file is one of the allowed contents.
        std::set<int> versionsSeen; // 0: the content from before the round
        for (int track = 0; track < TRACK_COUNT; ++track) {
            const std::string file = fileOf(names[track]);
            const std::string bytes =
                player->dir().exists(file) ? player->dir().read(file) : std::string();
            EXPECT_TRUE(allowed[track].count(bytes) == 1)
                << file << " holds " << bytes.size() << " bytes that match no saved version";
            int seen = 0;
            for (int v = version; v > 0 && seen == 0; --v) {
                seen = bytes == trackFile(versionKeys(v, track)) ? v : 0;
            }
            versionsSeen.insert(seen);
            dir.write(file, bytes);
        }
        int leftovers = 0;
        for (const std::string& name : filesIn(player->dir().path())) {
            leftovers += endsWith(name, ".trac~") ? 1 : 0;
        }
        std::cout << "round " << round << ": killed after " << delay << " ms (one save takes about "
                  << saveTime.count() << " ms); " << versionsSeen.size()
                  << " different versions on disk; " << leftovers << " temporary file(s) left\n";
    }
}
