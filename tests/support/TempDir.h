#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tolvane::Testing {

// Creates a fresh directory named prefix followed by random characters under
// the system's temporary directory. Returns its path, or the empty string when
// none could be made.
std::string makeTempDirectory(const std::string& prefix);

// A temporary working directory, removed with everything in it on destruction
// (unless TOLVANE_KEEP_TEST_DIRS is set in the environment).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return root; }
    std::string file(const std::string& relative) const { return root + "/" + relative; }
    // Writes bytes to a file below the directory, creating missing folders.
    void write(const std::string& relative, const std::string& bytes) const;
    void write(const std::string& relative, const std::vector<uint8_t>& bytes) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    std::string root;
};

} // namespace Tolvane::Testing
