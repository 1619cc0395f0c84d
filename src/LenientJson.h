#pragma once

// Reading a JSON document the forgiving way the configuration is read:
// comments allowed, and a broken document used as far as it could be read.

#include <json/json.h>

#include <istream>

namespace Tolvane {

// Reads the JSON document in stream, comments allowed. There is no verdict:
// whatever the reader managed to read before a fault (a syntax error, or a
// document nested deeper than it allows) is returned, and a null value when
// it read nothing at all.
Json::Value readLenientJson(std::istream& stream);

} // namespace Tolvane
