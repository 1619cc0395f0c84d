// Rebuild on save: the watcher against real files and folders, and the real
// player picking up a fragment shader saved the way many editors save it,
// by writing a new file and renaming it over the old one.

#include "Harness.h"
#include "LogPicture.h"
#include "ShaderWatcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using namespace Tolvane::Testing;
using namespace std::chrono_literals;

namespace {

// Saves text as path the way vim and VS Code do: a new file beside it,
// renamed over it.
void saveByRename(TempDir& dir, const std::string& path, const std::string& text) {
    dir.write(path + ".new", text);
    ASSERT_EQ(std::rename(dir.file(path + ".new").c_str(), dir.file(path).c_str()), 0);
}

bool isColour(const Image& image, int x, int y, int r, int g, int b) {
    const auto pixel = image.at(x, y);
    return pixel[0] == r && pixel[1] == g && pixel[2] == b;
}

// Polls the watcher for a while and counts the changes it reports.
int reportsWithin(Tolvane::ShaderWatcher& watcher, std::chrono::milliseconds span) {
    int reports = 0;
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        reports += watcher.poll() ? 1 : 0;
        std::this_thread::sleep_for(5ms);
    }
    return reports;
}

} // namespace

TEST(ShaderWatcher, ABurstOfSavesIsReportedOnceAndOtherFilesNotAtAll) {
    TempDir dir;
    dir.write("shaders/vertex.glsl", "v");
    dir.write("shaders/fragment.glsl", "f");
    Tolvane::ShaderWatcher watcher;
    ASSERT_TRUE(
        watcher.watch({dir.file("shaders/vertex.glsl"), dir.file("shaders/fragment.glsl")}));

    dir.write("shaders/notes.txt", "not a shader");
    EXPECT_EQ(reportsWithin(watcher, 300ms), 0);

    // Writes in place and renames, to both files, closer together than the
    // debounce, polled as a frame loop does: one report, once they have gone
    // quiet.
    int duringBurst = 0;
    for (int i = 0; i < 5; ++i) {
        dir.write("shaders/fragment.glsl", "f" + std::to_string(i));
        saveByRename(dir, "shaders/vertex.glsl", "v" + std::to_string(i));
        duringBurst += reportsWithin(watcher, 10ms);
    }
    EXPECT_EQ(duringBurst, 0);
    EXPECT_EQ(reportsWithin(watcher, 300ms), 1);

    // The folder is still watched after its files were replaced.
    saveByRename(dir, "shaders/fragment.glsl", "f again");
    EXPECT_TRUE(waitUntil([&] { return watcher.poll(); }, 2s));
}

TEST(ShaderWatcher, SavingByRenameRebuildsThePlayerWithoutAKey) {
    constexpr int H = 240;
    Player player;
    player.dir().write("shaders/vertex.glsl", passThroughVertexShader());
    player.dir().write("shaders/fragment.glsl", solidFragmentShader(1.0f, 0.0f, 0.0f));
    player.dir().write("configuration.json", basicConfiguration(false, 320, H));
    ASSERT_TRUE(player.start());
    ASSERT_NE(player.waitForWindow(), 0u) << player.standardOutput();
    ASSERT_TRUE(isColour(
        player.waitForImage([](const Image& image) { return isColour(image, 160, 20, 255, 0, 0); }),
        160, 20, 255, 0, 0));

    saveByRename(player.dir(), "shaders/fragment.glsl", solidFragmentShader(0.0f, 1.0f, 0.0f));
    Image frame =
        player.waitForImage([](const Image& image) { return isColour(image, 160, 20, 0, 255, 0); });
    EXPECT_TRUE(isColour(frame, 160, 20, 0, 255, 0)) << "the first save shows";

    // A save still under way (the file empty) is no error: the picture
    // stays until the file is whole.
    saveByRename(player.dir(), "shaders/fragment.glsl", "");
    std::this_thread::sleep_for(500ms);
    frame = player.capture();
    EXPECT_TRUE(isColour(frame, 160, 20, 0, 255, 0));
    EXPECT_EQ(logLineCount(frame, H), 7)
        << "only the banner: nothing was built from the empty file";

    // The second rename replaced the inode the first one made: still seen.
    saveByRename(player.dir(), "shaders/fragment.glsl", solidFragmentShader(0.0f, 0.0f, 1.0f));
    frame =
        player.waitForImage([](const Image& image) { return isColour(image, 160, 20, 0, 0, 255); });
    EXPECT_TRUE(isColour(frame, 160, 20, 0, 0, 255)) << "the next save shows";
    EXPECT_EQ(logLineCount(frame, H), 7);

    player.pressKey(0xff1b); // Escape
    EXPECT_EQ(player.waitForExit(), 0);
    EXPECT_EQ(player.standardError(), "");
}
