#pragma once

// The test editor is the editor's own link (EditorLink) under the name the
// tests and the command-line test editor know it by.

#include "EditorLink.h"

namespace Tolvane::Testing {

using TestEditor = Tolvane::Editor::EditorLink;

} // namespace Tolvane::Testing
