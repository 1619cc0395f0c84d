// editor_soak: runs the real player in editing mode for a long time while a
// test editor hammers it with random key edits, deletions, seeks, pauses and
// saves, and watches that the player neither dies, nor drops the link, nor
// writes an error, nor grows in memory.
//
//   editor_soak --player PATH [--minutes N] [--rate COMMANDS_PER_SECOND]
//
// Needs an X display (see tools/soak/editor_soak.sh, which provides one) and
// the editor port 1338 on 127.0.0.1. Every 10 seconds it prints the elapsed
// time, the commands sent, the player's resident memory (VmRSS) and its CPU
// use over the last interval. It exits with 0 when the run was clean: the
// player alive to the end, one link throughout, nothing on the player's
// error stream, and the resident memory at the end within 10% (and 8 MiB)
// of what it was after the first minute.

#include "TestEditor.h"
#include "sync.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Tolvane::Testing::TestEditor;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const char* const VERTEX_SHADER = R"(#version 330 core
layout(location = 0) in vec3 position;
out vec2 place;
void main() { place = position.xy * 0.5 + 0.5; gl_Position = vec4(position, 1.0); }
)";

const char* const FRAGMENT_SHADER = R"(#version 330 core
uniform float fade;
uniform vec2 pos;
uniform vec3 col;
uniform float time;
in vec2 place;
out vec4 colour;
void main() {
    float ring = step(0.5, fract(length(place - pos) * 8.0 - time));
    colour = vec4(col * ring * fade, 1.0);
}
)";

const char* const CONFIGURATION = R"({
  "demo": { "release": false, "name": "soak" },
  "screen": { "width": 320, "height": 240 },
  "music": { "file": "tone.wav", "frequency": 44100, "BPM": 120 },
  "sync": { "host": "127.0.0.1" },
  "shaders": { "vertex": "vertex.glsl", "fragment": "fragment.glsl", "majorVersion": 3, "minorVersion": 3,
               "uniforms": [ { "track": "fade", "variable": "fade" }, { "track": "pos", "variable": "pos" },
                             { "track": "col", "variable": "col" }, { "track": "time", "variable": "time" } ] },
  "tracks": [ { "track": "fade", "type": "float1" }, { "track": "pos", "type": "float2" },
              { "track": "col", "type": "float3" }, { "track": "spare", "type": "float3" } ]
}
)";

constexpr uint32_t TRACK_COUNT = 9; // fade, pos.x/y, col.x/y/z, spare.x/y/z
constexpr int32_t ROWS = 60 * 16;   // the tone's length in rows (16 rows a second)

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// The player's resident memory in KiB, or -1 when it is gone.
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// The player's user and system CPU time, in clock ticks.
long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

std::string readAll(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

struct Options {
    std::string player;
    double minutes = 10.0;
    int rate = 1000;
};

// What was sent and seen, for the closing report.
struct Tally {
    uint64_t sent = 0;
    uint64_t keys = 0, deletions = 0, seeks = 0, pauses = 0, saves = 0;
    // Resident memory in KiB after the first minute, and at the last sample.
    long rssAtOneMinute = -1;
    long rss = -1;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--player") {
            options.player = argv[i + 1];
        } else if (option == "--minutes") {
            options.minutes = std::atof(argv[i + 1]);
        } else if (option == "--rate") {
            options.rate = std::atoi(argv[i + 1]);
        }
    }
    if (options.player.empty() || options.rate <= 0) {
        return false;
    }
    // The player runs in the demo's directory: its path must not depend on ours.
    if (char* absolute = realpath(options.player.c_str(), nullptr)) {
        options.player = absolute;
        std::free(absolute);
    }
    return true;
}

// Writes the demo into a fresh directory; its path, or "" when sox failed.
std::string writeDemo() {
    char pattern[] = "/tmp/tolvane-soak-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    writeFile(dir + "/vertex.glsl", VERTEX_SHADER);
    writeFile(dir + "/fragment.glsl", FRAGMENT_SHADER);
    writeFile(dir + "/configuration.json", CONFIGURATION);
    if (std::system(
            ("sox -q -n -r 44100 -c 2 '" + dir + "/tone.wav' synth 60 sine 440 vol 0.2").c_str()) !=
        0) {
        return "";
    }
    return dir;
}

// Starts the player in dir, its output streams in files there.
pid_t startPlayer(const std::string& player, const std::string& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execl(player.c_str(), player.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Random editor commands, mostly key edits. The editor's own view of the
// keys makes every deletion name a key that exists.
class RandomEdits {
public:
    // The next command, counted in tally; empty when there was none to make.
    TestEditor::Bytes next(Tally& tally) {
        const int what = kind(random);
        if (what < 600) {
            const uint32_t t = track(random);
            const int32_t r = row(random);
            keys[t].insert(r);
            ++tally.keys;
            return TestEditor::encodeSetKey(t, r, value(random),
                                            static_cast<uint8_t>(type(random)));
        }
        if (what < 900) {
            const uint32_t t = track(random);
            if (keys[t].empty()) {
                return {};
            }
            auto at = keys[t].lower_bound(row(random));
            if (at == keys[t].end()) {
                at = keys[t].begin();
            }
            const int32_t r = *at;
            keys[t].erase(at);
            ++tally.deletions;
            return TestEditor::encodeDeleteKey(t, r);
        }
        if (what < 960) {
            ++tally.seeks;
            return TestEditor::encodeSetRow(
                std::uniform_int_distribution<int32_t>(0, ROWS - 16)(random));
        }
        if (what < 998) {
            // Mostly playing: a pause is lifted by the next such command.
            paused = !paused && what < 970;
            ++tally.pauses;
            return TestEditor::encodePause(paused ? 1 : 0);
        }
        ++tally.saves;
        return TestEditor::encodeSaveTracks();
    }

private:
    std::vector<std::set<int32_t>> keys = std::vector<std::set<int32_t>>(TRACK_COUNT);
    std::mt19937 random{1338};
    std::uniform_real_distribution<float> value{-0.5f, 1.5f};
    std::uniform_int_distribution<int32_t> row{0, ROWS * 2};
    std::uniform_int_distribution<uint32_t> track{0, TRACK_COUNT - 1};
    std::uniform_int_distribution<int> kind{0, 999};
    std::uniform_int_distribution<int> type{KEY_STEP, KEY_RAMP};
    bool paused = false;
};

// Every 10 seconds: prints the elapsed time, commands sent, resident memory
// and CPU use since the last sample.
class Sampler {
public:
    Sampler(pid_t pid, Clock::time_point start)
        : pid(pid), start(start), last(start), next(start + 10s), lastTicks(cpuTicks(pid)) {}

    // Samples when it is time; false when the player is gone.
    bool sample(Tally& tally) {
        const auto now = Clock::now();
        if (now < next) {
            return true;
        }
        next += 10s;
        tally.rss = residentKiB(pid);
        const long ticks = cpuTicks(pid);
        const double seconds = std::chrono::duration<double>(now - last).count();
        const double cpu =
            100.0 * static_cast<double>(ticks - lastTicks) / ticksPerSecond / seconds;
        lastTicks = ticks;
        last = now;
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (tally.rssAtOneMinute < 0 && elapsed >= 60.0) {
            tally.rssAtOneMinute = tally.rss;
        }
        std::printf("%7.0f s  %9llu commands  VmRSS %7ld KiB  CPU %5.1f %%\n", elapsed,
                    static_cast<unsigned long long>(tally.sent), tally.rss, cpu);
        std::fflush(stdout);
        return tally.rss >= 0;
    }

private:
    const pid_t pid;
    const Clock::time_point start;
    Clock::time_point last;
    Clock::time_point next;
    long lastTicks;
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
};

// Sends a batch of commands every 10 ms until the time is up; false when the
// link or the player gave out first.
bool hammer(TestEditor& editor, pid_t pid, const Options& options, Tally& tally) {
    RandomEdits edits;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(options.minutes * 60.0);
    Sampler sampler(pid, start);
    tally.rss = residentKiB(pid);
    const int batch = std::max(1, options.rate / 100);
    for (auto tick = start; Clock::now() < end;) {
        tick += 10ms;
        TestEditor::Bytes bytes;
        for (int i = 0; i < batch; ++i) {
            const TestEditor::Bytes message = edits.next(tally);
            if (!message.empty()) {
                bytes.insert(bytes.end(), message.begin(), message.end());
                ++tally.sent;
            }
        }
        if (!editor.post(bytes)) {
            std::cerr << "editor_soak: the link is gone\n";
            return false;
        }
        // Never run far ahead of the player.
        if (!editor.waitUntilSent(5s)) {
            std::cerr << "editor_soak: the player stopped reading for 5 s\n";
            return false;
        }
        std::this_thread::sleep_until(tick);
        if (!sampler.sample(tally)) {
            std::cerr << "editor_soak: the player is gone\n";
            return false;
        }
    }
    return true;
}

// Stops the player; whether it was still running until then.
bool stopPlayer(pid_t pid) {
    int status = 0;
    const bool alive = waitpid(pid, &status, WNOHANG) == 0;
    if (!alive) {
        std::cerr << "editor_soak: the player ended, status " << status << "\n";
    }
    // The audio library turns SIGTERM into a quit event nobody reads, so the
    // player is killed once it has had a moment.
    kill(pid, SIGTERM);
    for (int i = 0; i < 20 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(100ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return alive;
}

// Prints what happened; whether the link and the player's memory held.
bool report(const TestEditor& editor, const std::string& dir, const Tally& tally) {
    const std::string errors = readAll(dir + "/stderr.txt");
    const std::string output = readAll(dir + "/stdout.txt");
    std::printf(
        "sent %llu commands: %llu keys, %llu deletions, %llu seeks, %llu pauses, %llu saves\n",
        static_cast<unsigned long long>(tally.sent), static_cast<unsigned long long>(tally.keys),
        static_cast<unsigned long long>(tally.deletions),
        static_cast<unsigned long long>(tally.seeks), static_cast<unsigned long long>(tally.pauses),
        static_cast<unsigned long long>(tally.saves));
    std::printf(
        "connections %d, protocol errors %zu, player output %zu bytes, error output %zu bytes\n",
        editor.connectionCount(), editor.protocolErrors().size(), output.size(), errors.size());
    std::printf("VmRSS after 1 min %ld KiB, at the end %ld KiB\n", tally.rssAtOneMinute, tally.rss);
    bool clean = true;
    if (editor.connectionCount() != 1 || !editor.protocolErrors().empty() || !errors.empty() ||
        !output.empty()) {
        std::cerr << "editor_soak: link dropped or the player wrote something:\n"
                  << output << errors;
        clean = false;
    }
    const long grown = tally.rssAtOneMinute + std::max(tally.rssAtOneMinute / 10, 8192L);
    if (tally.rssAtOneMinute > 0 && tally.rss > grown) {
        std::cerr << "editor_soak: resident memory grew\n";
        clean = false;
    }
    return clean;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr
            << "usage: editor_soak --player PATH [--minutes N] [--rate COMMANDS_PER_SECOND]\n";
        return 2;
    }
    const std::string dir = writeDemo();
    if (dir.empty()) {
        std::cerr << "editor_soak: sox failed\n";
        return 2;
    }
    TestEditor editor;
    if (!editor.listening()) {
        std::cerr << "editor_soak: port 1338 is taken\n";
        return 2;
    }

    const pid_t pid = startPlayer(options.player, dir);
    std::cout << "editor_soak: player " << pid << " in " << dir << ", " << options.minutes
              << " min at " << options.rate << " commands/s" << std::endl;
    if (!editor.waitForClient(30s) || !editor.waitForTrackRequests(TRACK_COUNT, 10s)) {
        std::cerr << "editor_soak: the player did not link\n";
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return 1;
    }

    Tally tally;
    const bool hammered = hammer(editor, pid, options, tally);
    const bool alive = stopPlayer(pid);
    const bool clean = report(editor, dir, tally) && hammered && alive;
    std::printf("%s\n", clean ? "clean" : "NOT CLEAN");
    if (clean) {
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    return clean ? 0 : 1;
}
