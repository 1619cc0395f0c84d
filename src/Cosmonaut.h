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

    // Sets the tempo (row rate = bpm / 60 * rowsPerBeat) and creates the sync
    // device afresh; a second call drops the tracks of the first. The track
    // files are found in trackFolder, or in the working directory when it is
    // empty.
    void initialize(double bpm, int32_t rowsPerBeat, const std::string& trackFolder = "");
    // Links to the editor at host, port 1338, and keeps trying to from now on.
    void connectPlayer(std::string host);
    // Keeps the playback callbacks (pause, seek, is-playing) the editor drives.
    void setFunctions(sync_cb* functions);
    // Creates the sync tracks of every configured track, in list order: one
    // for float1, ".x", ".y" (and ".z") for float2 (float3), none otherwise.
    void setTracks(std::vector<Common::Track> tracks);
    // Turns the music position into a row, services the editor link and
    // samples every configured track at that row.
    void update(double seconds);
    // Sync rows a second.
    double getRowRate();
    // The sampled state of a configured track; all zeros (type FLOAT1) for a
    // name that was never configured.
    Common::Gateway getTrack(std::string name);
    // Closes the editor link and releases the tracks, saving nothing; the
    // sampled values stay readable.
    void cleanUp();

    // The sync tracks behind a configured track, in the order they are
    // created and asked of the editor: the name itself for float1, name.x
    // and name.y for float2, and name.z too for float3; none for a type
    // that is not known.
    static std::vector<std::string> syncTrackNames(const Common::Track& track);
    // Track files are named from this base: "sync_<track>.track".
    static constexpr const char* TRACK_FILE_BASE = "sync";

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
