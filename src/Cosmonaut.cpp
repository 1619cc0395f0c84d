#include "Cosmonaut.h"

#include "sync.h"

#include <climits>
#include <cmath>
#include <utility>

namespace Tolvane {

namespace {

// The editor always listens on this port.
constexpr unsigned short EDITOR_PORT = 1338;

// Number of sync tracks behind a configured track of the given type.
int componentCount(Common::TRACK_TYPE type) {
    switch (type) {
    case Common::FLOAT1:
        return 1;
    case Common::FLOAT2:
        return 2;
    case Common::FLOAT3:
        return 3;
    default:
        return 0;
    }
}

// The whole row a fractional row lies on, kept inside the range of int.
int wholeRow(float row) {
    double whole = std::floor(double(row));
    if (!(whole > double(INT_MIN)))
        return std::isnan(whole) ? 0 : INT_MIN;
    if (whole >= double(INT_MAX))
        return INT_MAX;
    return int(whole);
}

} // namespace

Cosmonaut::Cosmonaut() : linked(false), bpm(120.0), rowsPerBeat(8) {}

Cosmonaut::~Cosmonaut() = default;

void Cosmonaut::initialize(double bpm, int32_t rowsPerBeat, const std::string& trackFolder) {
    linked = false;
    this->bpm = bpm;
    this->rowsPerBeat = rowsPerBeat;
    rowRate = (bpm / 60.0) * rowsPerBeat;
    if (device) {
        // A second initialisation starts afresh rather than leak the device.
        sync_destroy_device(device);
        gateways.clear();
    }
    device = sync_create_device(TRACK_FILE_BASE);
    sync_set_folder(device, trackFolder.c_str());
}

void Cosmonaut::connectPlayer(std::string host) {
    linked = true;
    this->host = std::move(host);
    sync_tcp_connect(device, this->host.c_str(), EDITOR_PORT);
}

void Cosmonaut::setFunctions(sync_cb* functions) {
    this->functions = functions;
}

std::vector<std::string> Cosmonaut::syncTrackNames(const Common::Track& track) {
    static const char* const suffixes[] = {".x", ".y", ".z"};
    int count = componentCount(track.type);
    std::vector<std::string> names;
    for (int c = 0; c < count; ++c)
        names.push_back(count == 1 ? track.name : track.name + suffixes[c]);
    return names;
}

void Cosmonaut::setTracks(std::vector<Common::Track> tracks) {
    for (const Common::Track& track : tracks) {
        Common::Gateway gateway{};
        gateway.type = track.type;
        std::vector<std::string> names = syncTrackNames(track);
        for (size_t c = 0; c < names.size(); ++c)
            gateway.tracks[c] = sync_get_track(device, names[c].c_str());
        gateways[track.name] = gateway;
    }
}

void Cosmonaut::update(double seconds) {
    float row = float(rowRate * seconds);
    if (sync_update(device, wholeRow(row), functions, &rowRate) != 0 && linked)
        sync_tcp_connect(device, host.c_str(), EDITOR_PORT);

    for (auto& entry : gateways) {
        Common::Gateway& gateway = entry.second;
        int count = componentCount(gateway.type);
        for (int c = 0; c < count; ++c)
            if (gateway.tracks[c])
                gateway.values[c] = sync_get_val(gateway.tracks[c], double(row));
    }
}

double Cosmonaut::getRowRate() {
    return rowRate;
}

Common::Gateway Cosmonaut::getTrack(std::string name) {
    auto found = gateways.find(name);
    if (found == gateways.end())
        return Common::Gateway{};
    return found->second;
}

void Cosmonaut::cleanUp() {
    sync_destroy_device(device);
    device = nullptr;
    // The records keep their last values but no longer point at the
    // released tracks.
    for (auto& entry : gateways)
        for (sync_track*& track : entry.second.tracks)
            track = nullptr;
}

} // namespace Tolvane
