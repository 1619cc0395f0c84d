#pragma once

// Small utilities shared by the player's classes: reading a text file whole,
// and telling whether an OpenGL context is current on this thread (the
// destructors of GL-owning classes use it so that they never call the GL
// after the window and its context are gone).

#include <cstddef>
#include <string>

namespace Tolvane::Helpers {

// The largest file readFile takes: 1 MiB, far more than any shader source.
constexpr std::size_t MAX_FILE_SIZE = std::size_t(1) << 20;

// Reads the whole regular file at path into contents and returns true. When
// path names no regular file (nothing, a directory, a FIFO, a device such as
// /dev/zero), or a file larger than limit, or the file cannot be read, it
// returns false, leaves contents empty and puts the reason, a short phrase,
// in error. It never blocks on a FIFO or device, never reads past limit and
// never throws: an empty file is told from a failed read by the result.
bool readFile(const std::string& path, std::string& contents, std::string& error,
              std::size_t limit = MAX_FILE_SIZE);

// Returns the whole contents of the file at path, read as above, or the
// empty string when it cannot be read.
std::string readFile(std::string path);

// Tells whether the calling thread has a current OpenGL context. Safe to call
// before the window library starts and after it terminates, and reports no
// error through the window library's error callback.
bool hasCurrentContext();

} // namespace Tolvane::Helpers
