#pragma once

// The few places where Windows and POSIX systems differ for the player and
// its tools: file names and the command line. Paths are UTF-8 everywhere in
// the program; on Windows they reach the system through its wide-character
// calls, so that a demo in a folder named in any script opens.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sndfile.h>

namespace Tolvane::Platform {

// The file-system path of the UTF-8 path name.
std::filesystem::path filePath(const std::string& path);

// Opens the file at the UTF-8 path like std::fopen.
std::FILE* openFile(const std::string& path, const char* mode);

// Opens the file at the UTF-8 path for reading, as a file descriptor for the
// C library's read, fstat and close; -1 with errno set on failure. Where
// there are FIFOs it does not wait for a writer, and the descriptor is not
// inherited by programs the process starts.
int openForReading(const std::string& path);

// Opens the sound file at the UTF-8 path like sf_open.
SNDFILE* openSoundFile(const std::string& path, int mode, SF_INFO* info);

// The program's arguments, argv[0] included, as UTF-8 (on Windows they are
// taken from the wide-character command line; argv there holds the ANSI code
// page's rendering, which loses characters).
std::vector<std::string> arguments(int argc, char** argv);

} // namespace Tolvane::Platform
