#pragma once

// Helpers shared by the fuzz targets: a scratch working directory for the
// files a target writes, whole-file reading and writing, and the checks that
// every sync track must pass whatever bytes built it.

#include "sync.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace Tolvane::Fuzz {

using Bytes = std::vector<uint8_t>;

// Reports a broken expectation and aborts, which the fuzzer records as a
// crash together with the input that caused it.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    const int error = errno; // of the last failed call, which may be unrelated
    std::fprintf(stderr, "%s:%d: check failed: %s (last errno %d: %s)\n", file, line, what, error,
                 std::strerror(error));
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? (void)0 : ::Tolvane::Fuzz::fail(#condition, __FILE__, __LINE__))

namespace Detail {
inline std::filesystem::path& scratchPath() {
    static std::filesystem::path path;
    return path;
}
inline void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchPath(), ignored);
}
} // namespace Detail

// Makes a fresh directory for the files a target writes and returns its
// absolute path; it is removed at exit (but not after a crash). It goes
// under $TOLVANE_FUZZ_SCRATCH when set, else to /dev/shm when there is one:
// the targets write (and flush) files on every run, which must not wait on
// a disk. The working directory stays where it is, so that the fuzzer's own
// relative paths (corpus, crash files) keep working.
inline std::filesystem::path makeScratchDir(const char* target) {
    std::error_code error;
    const char* chosen = std::getenv("TOLVANE_FUZZ_SCRATCH");
    std::filesystem::path parent = chosen != nullptr && *chosen != '\0' ? chosen : "/dev/shm";
    if (!std::filesystem::is_directory(parent, error) || access(parent.c_str(), W_OK) != 0)
        parent = std::filesystem::temp_directory_path();
    std::string pattern = (parent / (std::string("tolvane_fuzz_") + target + "_XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    FUZZ_CHECK(mkdtemp(buffer.data()) != nullptr);
    Detail::scratchPath() = std::filesystem::canonical(buffer.data());
    std::atexit(Detail::removeScratch);
    return Detail::scratchPath();
}

// The base name of a sync device whose track files go to dir: the library
// takes only relative bases, relative to the working directory.
inline std::string deviceBase(const std::filesystem::path& dir) {
    std::string base = std::filesystem::relative(dir, std::filesystem::current_path()).string();
    return base + "/sync";
}

inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file) == size);
    FUZZ_CHECK(std::fclose(file) == 0);
}

// The whole file, or nothing when it cannot be opened.
inline Bytes readFile(const std::string& path) {
    Bytes bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    return bytes;
}

inline uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

inline void putLe32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

inline uint32_t getLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t getBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// One key as a track file or the editor link carries it: the value as raw
// bits, so that NaNs and negative zero compare exactly.
struct Key {
    int32_t row;
    uint32_t valueBits;
    uint8_t type;
};

// Compares a track with the keys it should hold, bit for bit.
inline void expectKeys(const sync_track* track, const std::vector<Key>& keys) {
    FUZZ_CHECK(track != nullptr);
    FUZZ_CHECK(track->key_count == int(keys.size()));
    FUZZ_CHECK((track->keys == nullptr) == keys.empty());
    for (size_t i = 0; i < keys.size(); ++i) {
        FUZZ_CHECK(track->keys[i].row == keys[i].row);
        FUZZ_CHECK(floatBits(track->keys[i].value) == keys[i].valueBits);
        FUZZ_CHECK(int(track->keys[i].type) == int(keys[i].type));
    }
}

// What holds for every track: no negative count, keys present exactly when
// counted, rows strictly ascending, every type a known one.
inline void expectWellFormed(const sync_track* track) {
    FUZZ_CHECK(track != nullptr);
    FUZZ_CHECK(track->key_count >= 0);
    FUZZ_CHECK((track->keys == nullptr) == (track->key_count == 0));
    for (int i = 0; i < track->key_count; ++i) {
        FUZZ_CHECK(int(track->keys[i].type) >= KEY_STEP &&
                   int(track->keys[i].type) < KEY_TYPE_COUNT);
        if (i > 0)
            FUZZ_CHECK(track->keys[i - 1].row < track->keys[i].row);
    }
}

// Samples the track where its value is known exactly: before the first key
// and from the last key on it holds those keys' values, on a key's row it is
// that key's value, and inside a segment between two finite values it stays
// between them. Rows far out of the int range and NaN must not break it.
inline void expectSamples(const sync_track* track) {
    static const double odd[] = {NAN,   -INFINITY,     INFINITY,    -1e300,
                                 1e300, -2147483649.0, 2147483648.0};
    for (double row : odd)
        (void)sync_get_val(track, row);

    const int count = track->key_count;
    if (count == 0) {
        FUZZ_CHECK(sync_get_val(track, 0.0) == 0.0);
        return;
    }
    const track_key* k = track->keys;
    auto same = [](double got, float want) {
        return std::isnan(want) ? std::isnan(got) : got == double(want);
    };
    FUZZ_CHECK(same(sync_get_val(track, double(k[0].row) - 0.5), k[0].value));
    FUZZ_CHECK(same(sync_get_val(track, INFINITY), k[count - 1].value));
    FUZZ_CHECK(same(sync_get_val(track, double(k[count - 1].row) + 0.25), k[count - 1].value));

    // Only the first segments: a long track must not make a run slow.
    const int checked = count < 32 ? count : 32;
    for (int i = 0; i < checked; ++i) {
        const bool last = i == count - 1;
        const bool finite = std::isfinite(k[i].value) && (last || std::isfinite(k[i + 1].value));
        if (finite || last || k[i].type == KEY_STEP)
            FUZZ_CHECK(same(sync_get_val(track, double(k[i].row)), k[i].value));
        if (last || !finite)
            continue;
        const double mid = double(k[i].row) + (double(k[i + 1].row) - double(k[i].row)) / 2;
        const double v = sync_get_val(track, mid);
        const double lo = std::fmin(k[i].value, k[i + 1].value);
        const double hi = std::fmax(k[i].value, k[i + 1].value);
        const double slack = 1e-9 * (std::fabs(lo) + std::fabs(hi));
        FUZZ_CHECK(v >= lo - slack && v <= hi + slack);
    }
}

} // namespace Tolvane::Fuzz
