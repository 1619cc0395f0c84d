#pragma once

// Files for tests: a temporary directory, and the bytes of track files.
// Header-only, so that the benchmarks can use it without the harness.

#include "sync.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace Tolvane::Testing {

// Creates a fresh directory named prefix followed by random characters under
// the system's temporary directory. Returns its path, or the empty string when
// none could be made.
inline std::string makeTempDirectory(const std::string& prefix) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::error_code code;
    const std::filesystem::path base = std::filesystem::temp_directory_path(code);
    if (code) {
        return "";
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 8; ++i) {
            name += letters[random() % (sizeof letters - 1)];
        }
        // Fails when the name is taken: then another is tried.
        if (std::filesystem::create_directory(base / name, code)) {
            return (base / name).string();
        }
    }
    return "";
}

// A temporary directory, removed with everything in it on destruction
// (unless TOLVANE_KEEP_TEST_DIRS is set in the environment).
class TempDir {
public:
    TempDir() : root(makeTempDirectory("tolvane-test-")) {}
    ~TempDir() {
        std::error_code ignored;
        if (!previous.empty()) {
            std::filesystem::current_path(previous, ignored);
        }
        if (!root.empty() && std::getenv("TOLVANE_KEEP_TEST_DIRS") == nullptr) {
            std::filesystem::remove_all(root, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !root.empty(); }
    const std::string& path() const { return root; }
    std::string file(const std::string& relative) const { return root + "/" + relative; }

    // Makes the directory the working directory until destruction (for code
    // that takes paths relative to it, such as track files).
    bool enter() {
        std::error_code code;
        previous = std::filesystem::current_path(code);
        std::filesystem::current_path(root, code);
        return ok() && !code;
    }

    // Writes bytes to a file below the directory, creating missing folders.
    void write(const std::string& relative, const std::string& bytes) const {
        const std::filesystem::path target = std::filesystem::path(root) / relative;
        std::filesystem::create_directories(target.parent_path());
        std::ofstream stream(target, std::ios::binary | std::ios::trunc);
        stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    void write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
        write(relative, std::string(bytes.begin(), bytes.end()));
    }
    std::string read(const std::string& relative) const {
        std::ifstream stream(file(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(stream),
                           std::istreambuf_iterator<char>());
    }
    bool exists(const std::string& relative) const {
        return std::filesystem::exists(file(relative));
    }

    // Names of every entry below the directory, relative, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            names.push_back(std::filesystem::relative(entry.path(), root).generic_string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string root;
    std::filesystem::path previous;
};

// One key of a track file; type is a key_type, or any byte for files that
// hold a type the player does not know.
struct Key {
    int32_t row;
    float value;
    uint8_t type;
};

// The bytes of a track file: the key count, then row, value and type of
// each key, little-endian. count overrides the number of keys written, for
// files that lie about it.
inline std::string trackFile(int32_t count, const std::vector<Key>& keys) {
    std::string bytes;
    const auto put32 = [&](uint32_t word) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<char>((word >> shift) & 0xFF));
        }
    };
    put32(static_cast<uint32_t>(count));
    for (const Key& key : keys) {
        uint32_t bits = 0;
        std::memcpy(&bits, &key.value, sizeof bits);
        put32(static_cast<uint32_t>(key.row));
        put32(bits);
        bytes.push_back(static_cast<char>(key.type));
    }
    return bytes;
}

inline std::string trackFile(const std::vector<Key>& keys) {
    return trackFile(static_cast<int32_t>(keys.size()), keys);
}

} // namespace Tolvane::Testing
