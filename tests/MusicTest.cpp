// The music player on real decoded files. Playback runs on the back end's
// dummy device (the test environment's default) or on its disk device, which
// writes every sample the player hands it to a file that the tests read back.

#include "Music.h"
#include "Platform.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Tolvane::Music;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int RATE = 44100;
// How long a test waits for playback to get somewhere. Playback runs in real
// time, so this only matters on a heavily loaded machine, where the devices
// and the decoder may get the processor late.
constexpr double PATIENCE = 20.0;

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A 16-bit stereo tune whose frames spell their own index: the left sample
// is index % 32000 + 1 and the right one index / 32000 + 1, in units of
// 1/32768, so that every sample survives decoding as an exact float and no
// frame of the tune is silent.
// The frame index a played frame spells, or -1 for anything else.
int64_t indexOf(float left, float right) {
    const double l = std::round(left * 32768.0) - 1.0;
    const double r = std::round(right * 32768.0) - 1.0;
    if (l < 0 || l >= 32000 || r < 0)
        return -1;
    if (left != static_cast<float>(l + 1) / 32768.0f ||
        right != static_cast<float>(r + 1) / 32768.0f)
        return -1;
    return static_cast<int64_t>(r) * 32000 + static_cast<int64_t>(l);
}

void writeWav(const fs::path& path, int rate, int channels, const std::vector<short>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = Tolvane::Platform::openSoundFile(path.u8string(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// White noise: no frame is silent.
void writeNoiseTune(const fs::path& path, double seconds) {
    std::vector<short> samples;
    uint32_t seed = 12345;
    for (int64_t i = 0; i < std::llround(seconds * RATE) * 2; ++i) {
        seed = seed * 1664525u + 1013904223u;
        samples.push_back(static_cast<short>((static_cast<int32_t>(seed >> 16) - 32768) / 4));
    }
    writeWav(path, RATE, 2, samples);
}

// The played frames from the first one that is not silent.
std::vector<float> fromFirstSound(const std::vector<float>& played) {
    size_t start = 0;
    while (start < played.size() && played[start] == 0.0f)
        ++start;
    start -= start % 2;
    return std::vector<float>(played.begin() + static_cast<std::ptrdiff_t>(start), played.end());
}

void writeIndexTune(const fs::path& path, double seconds) {
    const int64_t frames = std::llround(seconds * RATE);
    std::vector<short> samples;
    for (int64_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<short>(i % 32000 + 1));
        samples.push_back(static_cast<short>(i / 32000 + 1));
    }
    writeWav(path, RATE, 2, samples);
}

// Decodes a whole file the straightforward way, front to back.
std::vector<float> decodeAll(const fs::path& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* file = Tolvane::Platform::openSoundFile(path.u8string(), SFM_READ, &info);
    std::vector<float> samples;
    if (!file)
        return samples;
    std::vector<float> chunk(4096 * info.channels);
    sf_count_t read;
    while ((read = sf_readf_float(file, chunk.data(), 4096)) > 0) {
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + read * info.channels);
    }
    sf_close(file);
    return samples;
}

// Interleaved stereo floats written by the disk device.
std::vector<float> readPlayed(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    if (!samples.empty()) {
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    }
    return samples;
}

// The device takes this many frames at a time, at either rate the tests use.
constexpr size_t DEVICE_BUFFER_FRAMES = 1024;

// What was played less the device buffers that are wholly silent: those the
// device plays while the decoder has nothing ready for it, before the tune
// starts, after it ends, or when a loaded machine has left the decoder
// behind. The tune continues after them where it left off, so dropping them
// leaves the tune as heard, while silence inside a buffer stays.
std::vector<float> withoutSilentBuffers(const std::vector<float>& played) {
    std::vector<float> kept;
    const size_t samples = DEVICE_BUFFER_FRAMES * 2;
    for (size_t at = 0; at < played.size(); at += samples) {
        const auto begin = played.begin() + static_cast<std::ptrdiff_t>(at);
        const auto end =
            played.begin() + static_cast<std::ptrdiff_t>(std::min(at + samples, played.size()));
        if (std::any_of(begin, end, [](float sample) { return sample != 0.0f; }))
            kept.insert(kept.end(), begin, end);
    }
    return kept;
}

// Runs of consecutive tune frames in what was played: (first index, length).
struct IndexRun {
    int64_t first;
    int64_t length;
};

std::vector<IndexRun> indexRuns(const std::vector<float>& played) {
    std::vector<IndexRun> runs;
    int64_t expected = -2;
    for (size_t f = 0; f + 1 < played.size(); f += 2) {
        const int64_t index = indexOf(played[f], played[f + 1]);
        if (index < 0) {
            expected = -2;
            continue;
        }
        if (index == expected) {
            ++runs.back().length;
        } else {
            runs.push_back({index, 1});
        }
        expected = index + 1;
    }
    return runs;
}

void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void unsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

class MusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = Tolvane::Testing::makeTempDirectory("tolvane-music-");
        ASSERT_FALSE(dir.empty());
        const char* driver = std::getenv("SDL_AUDIODRIVER");
        savedDriver = driver ? driver : "";
    }

    void TearDown() override {
        music.cleanUp();
        if (savedDriver.empty()) {
            unsetEnv("SDL_AUDIODRIVER");
        } else {
            setEnv("SDL_AUDIODRIVER", savedDriver);
        }
        unsetEnv("SDL_DISKAUDIOFILE");
        unsetEnv("SDL_DISKAUDIODELAY");
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Plays on the disk device, which writes what is played to a file.
    void useDiskDevice() {
        setEnv("SDL_AUDIODRIVER", "disk");
        setEnv("SDL_DISKAUDIOFILE", (dir / "played.raw").string());
    }

    // Everything played, once the device is closed.
    std::vector<float> played() {
        music.cleanUp();
        return readPlayed(dir / "played.raw");
    }

    // What the disk device has written so far while it plays on. The file
    // is buffered, so the last few thousand frames may not be in it yet.
    std::vector<float> playedSoFar() { return readPlayed(dir / "played.raw"); }

    // The tune as heard, with the silent device buffers in between dropped.
    std::vector<float> heard() { return withoutSilentBuffers(played()); }
    std::vector<float> heardSoFar() { return withoutSilentBuffers(playedSoFar()); }

    // Waits until the tune frames played so far form runs that satisfy
    // condition.
    bool waitForRuns(const std::function<bool(const std::vector<IndexRun>&)>& condition) {
        return waitFor([&] { return condition(indexRuns(heardSoFar())); }, PATIENCE, 0.01);
    }

    // Waits until more than count samples have been played from the first
    // sound on.
    bool waitForSound(size_t count) {
        return waitFor([&] { return fromFirstSound(heardSoFar()).size() > count; }, PATIENCE, 0.01);
    }

    // Opens an index tune of the given length, played through the disk
    // device.
    bool openIndexTune(double seconds) {
        useDiskDevice();
        writeIndexTune(dir / "index.wav", seconds);
        return music.initialize(RATE, (dir / "index.wav").string());
    }

    // Encodes a WAV to MP3 with the command-line encoder.
    fs::path encodeMp3(const fs::path& wav) {
        const fs::path mp3 = fs::path(wav).replace_extension(".mp3");
        const std::string command =
            "lame --quiet -b 192 '" + wav.string() + "' '" + mp3.string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0 || !fs::exists(mp3))
            return {};
        return mp3;
    }

    bool waitFor(const std::function<bool()>& condition, double seconds, double interval = 0.002) {
        const auto start = Clock::now();
        while (!condition()) {
            if (secondsSince(start) > seconds)
                return false;
            sleepFor(interval);
        }
        return true;
    }

    fs::path dir;
    std::string savedDriver;
    Music music;
};

} // namespace

TEST_F(MusicTest, SeekLandsOnExactSample) {
    ASSERT_TRUE(openIndexTune(2.0));

    // Before playing: the first frame heard is the one sought.
    music.seek(0.5);
    EXPECT_DOUBLE_EQ(music.position(), 0.5);
    EXPECT_FALSE(music.isPlaying());
    music.play();
    ASSERT_TRUE(waitForRuns(
        [](const std::vector<IndexRun>& runs) { return !runs.empty() && runs[0].length > 2048; }));
    // While playing: playback jumps to the exact frame, still playing. The
    // position starts out from there as soon as the sound does.
    const double target = 33333.0 / RATE;
    const auto beforeSeek = Clock::now();
    music.seek(target);
    const double sought = music.position();
    EXPECT_GE(sought, target);
    EXPECT_LE(sought, target + secondsSince(beforeSeek));
    EXPECT_TRUE(music.isPlaying());
    ASSERT_TRUE(waitForRuns([](const std::vector<IndexRun>& runs) {
        return runs.size() > 1 && runs.back().length > 2048;
    }));

    const std::vector<IndexRun> runs = indexRuns(heard());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, RATE / 2);
    EXPECT_GT(runs[0].length, 2048);
    EXPECT_EQ(runs[1].first, 33333);
    EXPECT_GT(runs[1].length, 2048);
}

TEST_F(MusicTest, SeekInMp3LandsOnTheSampleDecodedFromTheStart) {
    useDiskDevice();
    const fs::path wav = dir / "noise.wav";
    writeNoiseTune(wav, 2.0);
    const fs::path mp3 = encodeMp3(wav);
    if (mp3.empty())
        GTEST_SKIP() << "no MP3 encoder";
    SF_INFO info;
    const std::vector<float> reference = decodeAll(mp3, info);
    ASSERT_EQ(info.samplerate, RATE);
    ASSERT_EQ(info.channels, 2);

    ASSERT_TRUE(music.initialize(RATE, mp3.string()));
    const int64_t first = 60001; // inside an MP3 frame, well past the first
    music.seek(static_cast<double>(first) / RATE);
    music.play();
    ASSERT_TRUE(waitForSound(4096));
    const std::vector<float> sought = fromFirstSound(heard());
    ASSERT_GT(sought.size(), 4096u);
    for (size_t i = 0; i < 4096; ++i) {
        ASSERT_EQ(sought[i], reference[first * 2 + i]) << "sample " << i << " after the seek";
    }
}

TEST_F(MusicTest, SeekAtAnotherDeviceRateGivesTheFramesOfPlayingThrough) {
    useDiskDevice();
    writeNoiseTune(dir / "noise.wav", 1.0);
    ASSERT_TRUE(music.initialize(44000, (dir / "noise.wav").string()));
    const int64_t first = 5001;
    music.play();
    ASSERT_TRUE(waitForSound((first + 2048) * 2));
    const std::vector<float> through = fromFirstSound(heard());

    Music again;
    ASSERT_TRUE(again.initialize(44000, (dir / "noise.wav").string()));
    again.seek(first / 44000.0);
    again.play();
    ASSERT_TRUE(waitForSound(2048 * 2));
    again.cleanUp();
    const std::vector<float> sought =
        fromFirstSound(withoutSilentBuffers(readPlayed(dir / "played.raw")));

    ASSERT_GT(through.size(), static_cast<size_t>(first + 2048) * 2);
    ASSERT_GT(sought.size(), 2048u * 2);
    for (size_t i = 0; i < 2048 * 2; ++i) {
        ASSERT_EQ(sought[i], through[first * 2 + i]) << "sample " << i << " after the seek";
    }
}

TEST_F(MusicTest, PauseFreezesAndPlayResumesFromTheSameSample) {
    ASSERT_TRUE(openIndexTune(2.0));
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.position() > 0.1; }, PATIENCE));
    music.pause();
    EXPECT_FALSE(music.isPlaying());
    const double paused = music.position();
    EXPECT_GT(paused, 0.1);
    music.pause(); // not playing: nothing happens
    sleepFor(0.1);
    EXPECT_EQ(music.position(), paused);
    music.play();
    EXPECT_TRUE(music.isPlaying());
    EXPECT_TRUE(waitFor([&] { return music.position() > paused + 0.1; }, PATIENCE));
    ASSERT_TRUE(waitForRuns([](const std::vector<IndexRun>& runs) {
        return runs.size() > 1 && runs.back().length > 2048;
    }));

    const std::vector<IndexRun> runs = indexRuns(heard());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(runs[1].first, std::llround(paused * RATE));
}

TEST_F(MusicTest, PositionFollowsRealTimeAndStandsStillWhilePaused) {
    writeIndexTune(dir / "index.wav", 3.0);
    ASSERT_TRUE(music.initialize(44000, (dir / "index.wav").string()));
    EXPECT_EQ(music.position(), 0.0);
    // The clock starts somewhere inside play(): time is measured from before
    // and after the call, so that a preempted test thread does not count
    // against the player.
    const auto beforePlay = Clock::now();
    music.play();
    const auto start = Clock::now();
    double previous = 0.0;
    double worst = 0.0;
    while (secondsSince(start) < 0.6) {
        const double before = secondsSince(start);
        const double p = music.position();
        const double after = secondsSince(beforePlay);
        EXPECT_GE(p, previous);
        worst = std::max({worst, before - p, p - after});
        previous = p;
        sleepFor(0.001);
    }
    EXPECT_LT(worst, 0.003);

    music.pause();
    const double paused = music.position();
    sleepFor(0.05);
    EXPECT_EQ(music.position(), paused);

    music.seek(2.0);
    EXPECT_EQ(music.position(), 2.0);
    EXPECT_FALSE(music.isPlaying());
    const auto beforeResume = Clock::now();
    music.play();
    const auto resumed = Clock::now();
    sleepFor(0.2);
    const double least = 2.0 + secondsSince(resumed);
    const double resumedAt = music.position();
    const double most = 2.0 + secondsSince(beforeResume);
    EXPECT_GE(resumedAt, least - 0.001);
    EXPECT_LE(resumedAt, most + 0.001);
}

TEST_F(MusicTest, PositionMovesSmoothlyOnAPlayingDevice) {
    ASSERT_TRUE(openIndexTune(3.0));
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.position() > 0.0; }, PATIENCE));
    const auto start = Clock::now();
    double previous = music.position();
    double previousBefore = 0.0;
    double worstAhead = 0.0;
    while (secondsSince(start) < 0.8) {
        const double before = secondsSince(start);
        const double p = music.position();
        const double after = secondsSince(start);
        // Already playing: play() again must not restart the clock, which
        // would hold the position back behind the sound.
        music.play();
        // The device takes 23 ms of sound at a time; in between the position
        // keeps moving with the time that passes, never stepping back nor
        // jumping ahead of that time. (How evenly it moves is measured by the
        // benchmark: on a loaded machine the device itself may stall, and the
        // position rightly waits for it.)
        EXPECT_GE(p, previous);
        worstAhead = std::max(worstAhead, (p - previous) - (after - previousBefore));
        previous = p;
        previousBefore = before;
        sleepFor(0.001);
    }
    EXPECT_LT(worstAhead, 0.02);

    // The position keeps up with what the device has played: the frames
    // written so far, of which the last buffer may still be playing, are at
    // most the 0.1 s the clock may trail by before it jumps to the device.
    const std::vector<IndexRun> runs = indexRuns(heardSoFar());
    const double heard = music.position();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_GE(heard, static_cast<double>(runs[0].length) / RATE - 0.15);
}

TEST_F(MusicTest, EndIsReportedOnceThePlayingTuneHasPlayedOut) {
    writeIndexTune(dir / "two.wav", 2.0);
    const fs::path mp3 = encodeMp3(dir / "two.wav");
    if (mp3.empty())
        GTEST_SKIP() << "no MP3 encoder";
    ASSERT_TRUE(music.initialize(44000, mp3.string()));
    music.play();
    sleepFor(0.1);
    EXPECT_FALSE(music.hasMusicEnded());
    const auto start = Clock::now();
    music.seek(1.6);
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, PATIENCE));
    // The tune's last 0.4 s were played in real time: the end comes no
    // sooner, and only a device period or a busy machine's delay later.
    const double took = secondsSince(start);
    EXPECT_GE(took, 0.4);
    EXPECT_LT(took, 0.4 + 0.3);
    EXPECT_NEAR(music.position(), 2.0, 1.0 / 44000);
    EXPECT_TRUE(music.isPlaying());
    sleepFor(0.05);
    EXPECT_NEAR(music.position(), 2.0, 1.0 / 44000);

    // Seeking back does not clear the end, and play() starts nothing new.
    // The tune plays on from there, so allow for the time the check takes.
    const auto beforeSeek = Clock::now();
    music.seek(1.0);
    const double afterSeek = music.position();
    EXPECT_GE(afterSeek, 1.0);
    EXPECT_LE(afterSeek, 1.0 + secondsSince(beforeSeek) + 0.0005);
    music.play();
    EXPECT_TRUE(music.hasMusicEnded());
    EXPECT_TRUE(music.isPlaying());
}

TEST_F(MusicTest, EndIsReportedOnAPlayingDeviceWithThePositionAtTheLength) {
    ASSERT_TRUE(openIndexTune(0.5));
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, PATIENCE));
    EXPECT_DOUBLE_EQ(music.position(), 0.5);
    EXPECT_TRUE(music.isPlaying());

    const std::vector<IndexRun> runs = indexRuns(heard());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(runs[0].length, RATE / 2);
}

TEST_F(MusicTest, SeeksOutsideTheTuneStopAtItsEdges) {
    writeIndexTune(dir / "index.wav", 1.0);
    ASSERT_TRUE(music.initialize(44000, (dir / "index.wav").string()));
    music.seek(-3.0);
    EXPECT_EQ(music.position(), 0.0);
    music.seek(std::nan(""));
    EXPECT_EQ(music.position(), 0.0);
    music.seek(1e300);
    EXPECT_EQ(music.position(), 1.0);
    EXPECT_FALSE(music.hasMusicEnded());
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, PATIENCE));
    EXPECT_EQ(music.position(), 1.0);
}

namespace {

// What was played around a mute: full-volume tune frames, a fade-out, a
// silent stretch, a fade-in and full-volume tune frames again.
struct MutedStretch {
    size_t loud = 0;         // tune frames before the fade-out
    int64_t lastBefore = -1; // the index of the last of them
    size_t muted = 0;        // silent frames after the fade-out
    bool faded = false;      // full-volume tune frames follow the silence
    int64_t firstAfter = -1; // the index of the first of them
    size_t restored = 0;     // how many of them
};

MutedStretch mutedStretch(const std::vector<float>& out) {
    MutedStretch stretch;
    size_t f = 0;
    const auto frames = out.size() / 2;
    auto index = [&](size_t frame) { return indexOf(out[frame * 2], out[frame * 2 + 1]); };
    auto silent = [&](size_t frame) {
        return out[frame * 2] == 0.0f && out[frame * 2 + 1] == 0.0f;
    };
    while (f < frames && index(f) < 0)
        ++f;
    while (f < frames && index(f) >= 0)
        ++f, ++stretch.loud;
    if (stretch.loud == 0)
        return stretch;
    stretch.lastBefore = index(f - 1);
    while (f < frames && !silent(f))
        ++f; // fading out
    while (f < frames && silent(f))
        ++f, ++stretch.muted;
    while (f + 1 < frames && (index(f) < 0 || index(f + 1) != index(f) + 1))
        ++f; // fading in
    if (f + 1 >= frames)
        return stretch;
    stretch.faded = true;
    stretch.firstAfter = index(f);
    while (f < frames && index(f) >= 0)
        ++f, ++stretch.restored;
    return stretch;
}

} // namespace

TEST_F(MusicTest, SilenceMutesFirstAndRestoresSecond) {
    ASSERT_TRUE(openIndexTune(2.0));
    EXPECT_EQ(music.volume(), 1.0f);
    music.play();
    auto playedSoFarMeets = [&](const std::function<bool(const MutedStretch&)>& condition) {
        return waitFor([&] { return condition(mutedStretch(playedSoFar())); }, PATIENCE, 0.01);
    };
    ASSERT_TRUE(playedSoFarMeets([](const MutedStretch& s) { return s.loud > 2048; }));
    music.silence();
    EXPECT_EQ(music.volume(), 0.0f);
    ASSERT_TRUE(playedSoFarMeets([](const MutedStretch& s) { return s.muted > RATE / 10; }));
    music.silence();
    EXPECT_EQ(music.volume(), 1.0f);
    ASSERT_TRUE(playedSoFarMeets([](const MutedStretch& s) { return s.restored > RATE / 20; }));

    // Full-volume frames, then a muted stretch, then full volume again, with
    // the tune moving on underneath.
    const MutedStretch stretch = mutedStretch(played());
    EXPECT_GT(stretch.loud, 2048u);
    EXPECT_GT(stretch.muted, static_cast<size_t>(RATE / 10));
    ASSERT_TRUE(stretch.faded);
    EXPECT_GT(stretch.firstAfter, stretch.lastBefore + static_cast<int64_t>(stretch.muted));
    EXPECT_GT(stretch.restored, static_cast<size_t>(RATE / 20));

    Music idle;
    idle.silence();
    idle.silence();
    idle.silence();
    EXPECT_EQ(idle.volume(), 0.0f);
}

TEST_F(MusicTest, ConvertsTheTuneToTheDeviceFormat) {
    useDiskDevice();
    // One second of a mono 441 Hz sine at 22050 Hz, played at 44000 Hz.
    std::vector<short> samples;
    for (int i = 0; i < 22050; ++i) {
        samples.push_back(static_cast<short>(
            std::lround(16000 * std::sin(2 * 3.14159265358979 * 441 * i / 22050.0))));
    }
    writeWav(dir / "mono.wav", 22050, 1, samples);
    ASSERT_TRUE(music.initialize(44000, (dir / "mono.wav").string()));
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, PATIENCE));
    const std::vector<float> out = heard();

    size_t first = 0;
    while (first < out.size() && std::fabs(out[first]) < 0.01f)
        ++first;
    size_t last = out.size() - 1;
    while (last > first && std::fabs(out[last]) < 0.01f)
        --last;
    first /= 2;
    last /= 2;
    // A second of the tune lasts a second of the device's frames...
    EXPECT_NEAR(static_cast<double>(last - first), 44000.0, 100.0);
    int crossings = 0;
    for (size_t f = first; f < last; ++f) {
        // ...both channels carry the mono signal...
        ASSERT_EQ(out[f * 2], out[f * 2 + 1]);
        if ((out[f * 2] < 0) != (out[f * 2 + 2] < 0))
            ++crossings;
    }
    // ...at its own pitch.
    EXPECT_NEAR(crossings, 882, 4);
}

TEST_F(MusicTest, UnreadableFilesFailSafely) {
    std::ofstream(dir / "garbage.mp3") << std::string(20000, 'x') << "not a tune";
    {
        std::ofstream noise(dir / "noise.mp3", std::ios::binary);
        uint32_t seed = 7;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 1664525u + 1013904223u;
            noise.put(static_cast<char>(seed >> 24));
        }
    }
    std::ofstream(dir / "empty.mp3").close();
    {
        // A wave header over nothing.
        std::ofstream truncated(dir / "truncated.wav", std::ios::binary);
        truncated << "RIFF\x24\x00\x00\x00WAVEfmt ";
    }
    fs::create_directory(dir / "directory.mp3");

    for (const char* name : {"missing.mp3", "garbage.mp3", "noise.mp3", "empty.mp3",
                             "truncated.wav", "directory.mp3"}) {
        SCOPED_TRACE(name);
        Music broken;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(broken.initialize(44000, (dir / name).string()));
        broken.play();
        EXPECT_TRUE(broken.isPlaying());
        broken.seek(1.0);
        broken.silence();
        sleepFor(0.02);
        EXPECT_EQ(broken.position(), 0.0);
        EXPECT_FALSE(broken.hasMusicEnded());
        broken.pause();
        broken.cleanUp();
        broken.cleanUp();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

TEST_F(MusicTest, PlaysQuietlyWithoutAnOutputDevice) {
    // A driver that cannot open: the player falls back to silent playback.
    setEnv("SDL_AUDIODRIVER", "no-such-driver");
    writeIndexTune(dir / "index.wav", 1.0);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(music.initialize(44000, (dir / "index.wav").string()));
    const auto beforePlay = Clock::now();
    music.play();
    const auto afterPlay = Clock::now();
    sleepFor(0.1);
    // It keeps real time: compare with the time that really passed since
    // the clock started, somewhere inside play().
    const double least = secondsSince(afterPlay);
    const double position = music.position();
    const double most = secondsSince(beforePlay);
    EXPECT_GE(position, least - 0.001);
    EXPECT_LE(position, most + 0.001);
    music.cleanUp();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(MusicTest, BackendVersionIsTheInstalledLibrarysPacked) {
    // The version the package system reports, "major.minor.patch".
    unsigned major = 0;
    unsigned minor = 0;
    unsigned patch = 0;
    ASSERT_EQ(std::sscanf(AUDIO_PACKAGE_VERSION, "%u.%u.%u", &major, &minor, &patch), 3)
        << AUDIO_PACKAGE_VERSION;
    EXPECT_EQ(Music::backendVersion(), major << 24 | minor << 16 | patch << 8);
}

TEST_F(MusicTest, ADecoderLeftBehindDelaysTheTuneByWholeBuffersAndLosesNoFrame) {
    useDiskDevice();
    // A device that asks for its next buffer at once, faster than the tune
    // can be converted to its rate: the decoder keeps falling behind.
    setEnv("SDL_DISKAUDIODELAY", "0");
    writeNoiseTune(dir / "noise.wav", 1.0);
    ASSERT_TRUE(music.initialize(44000, (dir / "noise.wav").string()));
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, PATIENCE));
    EXPECT_DOUBLE_EQ(music.position(), 1.0);
    const std::vector<float> out = played();

    // Whatever the device played before the decoder had a whole buffer for
    // it was silence: no silent frame sits in a buffer of sound, apart from
    // the one where the tune ends.
    const std::vector<float> sound = withoutSilentBuffers(out);
    ASSERT_GE(sound.size(), 44000u * 2);
    for (size_t f = 0; f < 44000; ++f) {
        ASSERT_FALSE(sound[f * 2] == 0.0f && sound[f * 2 + 1] == 0.0f)
            << "silent frame " << f << " of the tune";
    }

    // And the tune went on where it left off: what was heard is what
    // playing on a device that keeps up gives.
    Music steady;
    ASSERT_TRUE(steady.initialize(44000, (dir / "noise.wav").string()));
    steady.play();
    ASSERT_TRUE(waitFor([&] { return steady.hasMusicEnded(); }, PATIENCE));
    steady.cleanUp();
    const std::vector<float> through = withoutSilentBuffers(readPlayed(dir / "played.raw"));
    ASSERT_GE(through.size(), 44000u * 2);
    for (size_t i = 0; i < 44000 * 2; ++i)
        ASSERT_EQ(sound[i], through[i]) << "sample " << i;
}
