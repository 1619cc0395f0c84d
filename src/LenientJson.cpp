#include "LenientJson.h"

#include <exception>

namespace Tolvane {

Json::Value readLenientJson(std::istream& stream) {
    Json::Value root;
    // The old Reader is the one that accepts comments and keeps what it read
    // up to a syntax error.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::Reader reader;
    try {
        reader.parse(stream, root, true);
    } catch (const std::exception&) {
        // The reader gives up by throwing on a document nested deeper than
        // it allows; what it read up to there stays in root.
    }
#pragma GCC diagnostic pop
    return root;
}

} // namespace Tolvane
