#pragma once

// The sync driver: turns music time into sync rows, services the editor link
// once per frame, keeps it alive in editing mode, and samples every
// configured track so that the shader can read the values by track name.

#include "Common.h"

#include <map>
#include <string>
#include <vector>

struct sync_device;
struct sync_cb;

namespace Tolvane {

class Cosmonaut {
public:
    Cosmonaut();
    ~Cosmonaut();

    // Sets the tempo and creates the sync device. The track files are found
    // in trackFolder, or in the working directory when it is empty.
    void initialize(double bpm, int32_t rowsPerBeat, const std::string& trackFolder = "");
    void connectPlayer(std::string host);
    void setFunctions(sync_cb* functions);
    void setTracks(std::vector<Common::Track> tracks);
    void update(double seconds);
    double getRowRate();
    Common::Gateway getTrack(std::string name);
    void cleanUp();

private:
    bool linked;
    std::string host;
    double bpm;
    int32_t rowsPerBeat;
    double rowRate = 0.0;
    sync_device* device = nullptr;
    sync_cb* functions = nullptr;
    std::map<std::string, Common::Gateway> gateways;
};

} // namespace Tolvane
