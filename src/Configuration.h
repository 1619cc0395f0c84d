#pragma once

// The demo description: every setting of one configuration document, with
// the defaults a document may leave out.

#include "Common.h"

#include <string>
#include <vector>

namespace Tolvane {

class Configuration {
public:
    Configuration();
    ~Configuration();

    // Fills the object from the JSON document at path (comments allowed).
    // Returns false only when the file cannot be opened. Values that are
    // absent, null or of the wrong kind keep their current value.
    bool read(const std::string& path);

    // Makes every relative file path of the description (shaders, icon,
    // tune, asset files) relative to folder instead of the working
    // directory. Absolute and empty paths stay as they are.
    void resolvePaths(const std::string& folder);

    Common::Demo demo;
    Common::Tune tune;
    Common::Sync sync;
    Common::Shaders shaders;
    std::vector<Common::Track> tracks;
    std::vector<Common::Asset> assets;

    // One line for each entry of the document that read left out, saying
    // which and why: a track whose name would put its track file outside the
    // working directory (an absolute path, a ".." component), or that holds
    // a control character or is too long for a file name. The caller reports
    // them once it can (read itself writes nothing).
    std::vector<std::string> refused;
};

} // namespace Tolvane
