#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace Tolvane::Testing {

std::string makeTempDirectory(const std::string& prefix) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::error_code code;
    const fs::path base = fs::temp_directory_path(code);
    if (code) return "";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 8; ++i) name += letters[random() % (sizeof letters - 1)];
        // Fails when the name is taken: then another is tried.
        if (fs::create_directory(base / name, code)) return (base / name).string();
    }
    return "";
}

TempDir::TempDir() : root(makeTempDirectory("tolvane-test-")) {}

TempDir::~TempDir() {
    if (!root.empty() && std::getenv("TOLVANE_KEEP_TEST_DIRS") == nullptr) {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
}

void TempDir::write(const std::string& relative, const std::string& bytes) const {
    const fs::path target = fs::path(root) / relative;
    fs::create_directories(target.parent_path());
    std::ofstream stream(target, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TempDir::write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
    write(relative, std::string(bytes.begin(), bytes.end()));
}

std::string TempDir::read(const std::string& relative) const {
    std::ifstream stream(file(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

bool TempDir::exists(const std::string& relative) const { return fs::exists(file(relative)); }

} // namespace Tolvane::Testing
