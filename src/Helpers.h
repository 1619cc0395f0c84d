#pragma once

// Small utilities shared by the player's classes: reading a text file whole,
// and telling whether an OpenGL context is current on this thread (the
// destructors of GL-owning classes use it so that they never call the GL
// after the window and its context are gone).

#include <string>

namespace Tolvane::Helpers {

// Returns the whole contents of the file at path, or the empty string when
// the file cannot be read.
std::string readFile(std::string path);

// Tells whether the calling thread has a current OpenGL context. Safe to call
// before the window library starts and after it terminates, and reports no
// error through the window library's error callback.
bool hasCurrentContext();

} // namespace Tolvane::Helpers
