// The music player on real decoded files. Playback runs on the back end's
// dummy device (the test environment's default) or on its disk device, which
// writes every sample the player hands it to a file that the tests read back.

#include "Music.h"

#include <gtest/gtest.h>
#include <sndfile.h>

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

constexpr int kRate = 44100;

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
    if (l < 0 || l >= 32000 || r < 0) return -1;
    if (left != static_cast<float>(l + 1) / 32768.0f || right != static_cast<float>(r + 1) / 32768.0f) return -1;
    return static_cast<int64_t>(r) * 32000 + static_cast<int64_t>(l);
}

void writeWav(const fs::path& path, int rate, int channels, const std::vector<short>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// White noise: no frame is silent.
void writeNoiseTune(const fs::path& path, double seconds) {
    std::vector<short> samples;
    uint32_t seed = 12345;
    for (int64_t i = 0; i < std::llround(seconds * kRate) * 2; ++i) {
        seed = seed * 1664525u + 1013904223u;
        samples.push_back(static_cast<short>((static_cast<int32_t>(seed >> 16) - 32768) / 4));
    }
    writeWav(path, kRate, 2, samples);
}

// The played frames from the first one that is not silent.
std::vector<float> fromFirstSound(const std::vector<float>& played) {
    size_t start = 0;
    while (start < played.size() && played[start] == 0.0f) ++start;
    start -= start % 2;
    return std::vector<float>(played.begin() + static_cast<std::ptrdiff_t>(start), played.end());
}

void writeIndexTune(const fs::path& path, double seconds) {
    const int64_t frames = std::llround(seconds * kRate);
    std::vector<short> samples;
    for (int64_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<short>(i % 32000 + 1));
        samples.push_back(static_cast<short>(i / 32000 + 1));
    }
    writeWav(path, kRate, 2, samples);
}

// Decodes a whole file the straightforward way, front to back.
std::vector<float> decodeAll(const fs::path& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> samples;
    if (!file) return samples;
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
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
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
    setenv(name, value.c_str(), 1);
}

class MusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane-music-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        const char* driver = std::getenv("SDL_AUDIODRIVER");
        savedDriver = driver ? driver : "";
    }

    void TearDown() override {
        music.cleanUp();
        if (savedDriver.empty()) {
            unsetenv("SDL_AUDIODRIVER");
        } else {
            setEnv("SDL_AUDIODRIVER", savedDriver);
        }
        unsetenv("SDL_DISKAUDIOFILE");
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Plays on the disk device, which writes what is played to a file.
    void useDiskDevice() {
        setEnv("SDL_AUDIODRIVER", "disk");
        setEnv("SDL_DISKAUDIOFILE", (dir / "played.raw").string());
    }

    std::vector<float> played() {
        music.cleanUp();
        return readPlayed(dir / "played.raw");
    }

    // Encodes a WAV to MP3 with the command-line encoder.
    fs::path encodeMp3(const fs::path& wav) {
        const fs::path mp3 = fs::path(wav).replace_extension(".mp3");
        const std::string command = "lame --quiet -b 192 '" + wav.string() + "' '" + mp3.string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0 || !fs::exists(mp3)) return {};
        return mp3;
    }

    bool waitFor(const std::function<bool()>& condition, double seconds) {
        const auto start = Clock::now();
        while (!condition()) {
            if (secondsSince(start) > seconds) return false;
            sleepFor(0.002);
        }
        return true;
    }

    fs::path dir;
    std::string savedDriver;
    Music music;
};

} // namespace

TEST_F(MusicTest, SeekLandsOnExactSample) {
    useDiskDevice();
    writeIndexTune(dir / "index.wav", 2.0);
    ASSERT_TRUE(music.initialize(kRate, (dir / "index.wav").string()));

    // Before playing: the first frame heard is the one sought.
    music.seek(0.5);
    EXPECT_DOUBLE_EQ(music.position(), 0.5);
    EXPECT_FALSE(music.isPlaying());
    music.play();
    sleepFor(0.15);
    // While playing: playback jumps to the exact frame, still playing.
    const double target = 33333.0 / kRate;
    music.seek(target);
    EXPECT_DOUBLE_EQ(music.position(), target);
    EXPECT_TRUE(music.isPlaying());
    sleepFor(0.15);

    const std::vector<IndexRun> runs = indexRuns(played());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, kRate / 2);
    EXPECT_GT(runs[0].length, 2048);
    EXPECT_EQ(runs[1].first, 33333);
    EXPECT_GT(runs[1].length, 2048);
}

TEST_F(MusicTest, SeekInMp3LandsOnTheSampleDecodedFromTheStart) {
    useDiskDevice();
    const fs::path wav = dir / "noise.wav";
    writeNoiseTune(wav, 2.0);
    const fs::path mp3 = encodeMp3(wav);
    if (mp3.empty()) GTEST_SKIP() << "no MP3 encoder";
    SF_INFO info;
    const std::vector<float> reference = decodeAll(mp3, info);
    ASSERT_EQ(info.samplerate, kRate);
    ASSERT_EQ(info.channels, 2);

    ASSERT_TRUE(music.initialize(kRate, mp3.string()));
    const int64_t first = 60001;  // inside an MP3 frame, well past the first
    music.seek(static_cast<double>(first) / kRate);
    music.play();
    sleepFor(0.15);
    const std::vector<float> sought = fromFirstSound(played());
    ASSERT_GT(sought.size(), 4096u);
    for (size_t i = 0; i < 4096; ++i) {
        ASSERT_EQ(sought[i], reference[first * 2 + i]) << "sample " << i << " after the seek";
    }
}

TEST_F(MusicTest, SeekAtAnotherDeviceRateGivesTheFramesOfPlayingThrough) {
    useDiskDevice();
    writeNoiseTune(dir / "noise.wav", 1.0);
    ASSERT_TRUE(music.initialize(44000, (dir / "noise.wav").string()));
    music.play();
    sleepFor(0.25);
    const std::vector<float> through = fromFirstSound(played());

    Music again;
    ASSERT_TRUE(again.initialize(44000, (dir / "noise.wav").string()));
    const int64_t first = 5001;
    again.seek(first / 44000.0);
    again.play();
    sleepFor(0.15);
    again.cleanUp();
    const std::vector<float> sought = fromFirstSound(readPlayed(dir / "played.raw"));

    ASSERT_GT(through.size(), static_cast<size_t>(first + 2048) * 2);
    ASSERT_GT(sought.size(), 2048u * 2);
    for (size_t i = 0; i < 2048 * 2; ++i) {
        ASSERT_EQ(sought[i], through[first * 2 + i]) << "sample " << i << " after the seek";
    }
}

TEST_F(MusicTest, PauseFreezesAndPlayResumesFromTheSameSample) {
    useDiskDevice();
    writeIndexTune(dir / "index.wav", 2.0);
    ASSERT_TRUE(music.initialize(kRate, (dir / "index.wav").string()));
    music.play();
    sleepFor(0.2);
    music.pause();
    EXPECT_FALSE(music.isPlaying());
    const double paused = music.position();
    EXPECT_GT(paused, 0.1);
    music.pause();  // not playing: nothing happens
    sleepFor(0.1);
    EXPECT_EQ(music.position(), paused);
    music.play();
    EXPECT_TRUE(music.isPlaying());
    sleepFor(0.15);
    EXPECT_GT(music.position(), paused + 0.1);

    const std::vector<IndexRun> runs = indexRuns(played());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(runs[1].first, std::llround(paused * kRate));
}

TEST_F(MusicTest, PositionFollowsRealTimeAndStandsStillWhilePaused) {
    writeIndexTune(dir / "index.wav", 3.0);
    ASSERT_TRUE(music.initialize(44000, (dir / "index.wav").string()));
    EXPECT_EQ(music.position(), 0.0);
    music.play();
    const auto start = Clock::now();
    music.play();  // already playing: no second start
    double previous = 0.0;
    double worst = 0.0;
    while (secondsSince(start) < 0.6) {
        // Read between two clock readings, so that a preempted test thread
        // does not count against the player.
        const double before = secondsSince(start);
        const double p = music.position();
        const double after = secondsSince(start);
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
    music.play();
    const auto resumed = Clock::now();
    sleepFor(0.2);
    const double expected = 2.0 + secondsSince(resumed);
    EXPECT_NEAR(music.position(), expected, 0.005);
}

TEST_F(MusicTest, PositionMovesSmoothlyOnAPlayingDevice) {
    useDiskDevice();
    writeIndexTune(dir / "index.wav", 2.0);
    ASSERT_TRUE(music.initialize(kRate, (dir / "index.wav").string()));
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.position() > 0.0; }, 0.5));
    const auto start = Clock::now();
    const double first = music.position();
    double previous = first;
    double previousBefore = 0.0;
    double previousAfter = secondsSince(start);
    double worstStep = 0.0;
    while (previousAfter < 0.8) {
        const double before = secondsSince(start);
        const double p = music.position();
        const double after = secondsSince(start);
        EXPECT_GE(p, previous);
        // The device takes 23 ms of sound at a time; in between the position
        // keeps moving with the time that passes.
        const double step = p - previous;
        worstStep = std::max({worstStep, (before - previousAfter) - step, step - (after - previousBefore)});
        previous = p;
        previousBefore = before;
        previousAfter = after;
        sleepFor(0.001);
    }
    EXPECT_LT(worstStep, 0.002);
    EXPECT_NEAR(previous - first, previousAfter, previousAfter * 0.05);
}

TEST_F(MusicTest, EndIsReportedOnceThePlayingTuneHasPlayedOut) {
    writeIndexTune(dir / "two.wav", 2.0);
    const fs::path mp3 = encodeMp3(dir / "two.wav");
    if (mp3.empty()) GTEST_SKIP() << "no MP3 encoder";
    ASSERT_TRUE(music.initialize(44000, mp3.string()));
    music.play();
    sleepFor(0.1);
    EXPECT_FALSE(music.hasMusicEnded());
    music.seek(1.6);
    const auto start = Clock::now();
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, 2.0));
    // The tune's last 0.4 s were played in real time.
    EXPECT_NEAR(secondsSince(start), 0.4, 0.06);
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
    useDiskDevice();
    writeIndexTune(dir / "short.wav", 0.5);
    ASSERT_TRUE(music.initialize(kRate, (dir / "short.wav").string()));
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, 2.0));
    EXPECT_DOUBLE_EQ(music.position(), 0.5);
    EXPECT_TRUE(music.isPlaying());

    const std::vector<IndexRun> runs = indexRuns(played());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(runs[0].length, kRate / 2);
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
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, 0.5));
    EXPECT_EQ(music.position(), 1.0);
}

TEST_F(MusicTest, SilenceMutesFirstAndRestoresSecond) {
    useDiskDevice();
    writeIndexTune(dir / "index.wav", 2.0);
    ASSERT_TRUE(music.initialize(kRate, (dir / "index.wav").string()));
    EXPECT_EQ(music.volume(), 1.0f);
    music.play();
    sleepFor(0.15);
    music.silence();
    EXPECT_EQ(music.volume(), 0.0f);
    sleepFor(0.2);
    music.silence();
    EXPECT_EQ(music.volume(), 1.0f);
    sleepFor(0.15);
    const std::vector<float> out = played();

    // Full-volume frames, then a muted stretch, then full volume again, with
    // the tune moving on underneath.
    size_t f = 0;
    const auto frames = out.size() / 2;
    auto index = [&](size_t frame) { return indexOf(out[frame * 2], out[frame * 2 + 1]); };
    auto silent = [&](size_t frame) { return out[frame * 2] == 0.0f && out[frame * 2 + 1] == 0.0f; };
    while (f < frames && index(f) < 0) ++f;
    ASSERT_LT(f, frames);
    while (f < frames && index(f) >= 0) ++f;
    const int64_t lastBefore = index(f - 1);
    while (f < frames && !silent(f)) ++f;  // fading out
    size_t muted = 0;
    while (f < frames && silent(f)) ++f, ++muted;
    EXPECT_GT(muted, static_cast<size_t>(kRate / 10));
    while (f + 1 < frames && (index(f) < 0 || index(f + 1) != index(f) + 1)) ++f;  // fading in
    ASSERT_LT(f + 1, frames);
    EXPECT_GT(index(f), lastBefore + static_cast<int64_t>(muted));
    size_t restored = 0;
    while (f < frames && index(f) >= 0) ++f, ++restored;
    EXPECT_GT(restored, static_cast<size_t>(kRate / 20));

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
        samples.push_back(static_cast<short>(std::lround(16000 * std::sin(2 * 3.14159265358979 * 441 * i / 22050.0))));
    }
    writeWav(dir / "mono.wav", 22050, 1, samples);
    ASSERT_TRUE(music.initialize(44000, (dir / "mono.wav").string()));
    music.play();
    ASSERT_TRUE(waitFor([&] { return music.hasMusicEnded(); }, 2.5));
    const std::vector<float> out = played();

    size_t first = 0;
    while (first < out.size() && std::fabs(out[first]) < 0.01f) ++first;
    size_t last = out.size() - 1;
    while (last > first && std::fabs(out[last]) < 0.01f) --last;
    first /= 2;
    last /= 2;
    // A second of the tune lasts a second of the device's frames...
    EXPECT_NEAR(static_cast<double>(last - first), 44000.0, 100.0);
    int crossings = 0;
    for (size_t f = first; f < last; ++f) {
        // ...both channels carry the mono signal...
        ASSERT_EQ(out[f * 2], out[f * 2 + 1]);
        if ((out[f * 2] < 0) != (out[f * 2 + 2] < 0)) ++crossings;
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

    for (const char* name : {"missing.mp3", "garbage.mp3", "noise.mp3", "empty.mp3", "truncated.wav", "directory.mp3"}) {
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
    const auto start = Clock::now();
    music.play();
    sleepFor(0.1);
    // It keeps real time: compare with the time that really passed.
    const double before = secondsSince(start);
    const double position = music.position();
    const double after = secondsSince(start);
    EXPECT_GE(position, before - 0.01);
    EXPECT_LE(position, after + 0.01);
    music.cleanUp();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(MusicTest, BackendVersionIsPackedMajorMinorPatch) {
    const uint32_t version = Music::backendVersion();
    EXPECT_EQ(version >> 24, 2u);
    EXPECT_GE(version, 2u << 24 | 0u << 16 | 7u << 8);  // audio streams exist
    EXPECT_EQ(version & 0xFFu, 0u);
}
