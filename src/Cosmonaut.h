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

    void initialize(double bpm, int32_t rowsPerBeat);
    void connectPlayer(std::string host);
    void setFunctions(sync_cb* functions);
    void setTracks(std::vector<Common::Track> tracks);
    void update(double seconds);
    double getRowRate();
    Common::Gateway getTrack(std::string name);
    void cleanUp();

    // The sync tracks behind a configured track, in the order they are
    // created and asked of the editor: the name itself for float1, name.x
    // and name.y for float2, and name.z too for float3; none for a type
    // that is not known.
    static std::vector<std::string> syncTrackNames(const Common::Track& track);

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
