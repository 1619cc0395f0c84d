// Fuzzes the track file loader: the input is the whole content of a track
// file. A device without an editor link loads it through sync_get_track; the
// track must hold exactly the file's keys when the file is well formed and
// nothing otherwise, sample sensibly, and save back to the same bytes.

#include "FuzzSupport.h"
#include "sync.h"

#include <optional>

using namespace Tolvane::Fuzz;

namespace {

const char* const TRACK_NAME = "fuzz";

// The device's base and the track's file, set up once.
std::string base;
std::string trackFile;

// The keys a well-formed track file holds, worked out independently of the
// loader: the count N first, then exactly N keys of 9 bytes with strictly
// ascending rows. A zero-length file is an empty track. A type byte above
// the known key types loads as a step key.
std::optional<std::vector<Key>> expectedKeys(const uint8_t* data, size_t size) {
    std::vector<Key> keys;
    if (size == 0)
        return keys;
    if (size < 4 || (size - 4) % 9 != 0)
        return std::nullopt;
    const int32_t count = int32_t(getLe32(data));
    if (count < 0 || size_t(count) != (size - 4) / 9)
        return std::nullopt;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* p = data + 4 + 9 * size_t(i);
        Key key{int32_t(getLe32(p)), getLe32(p + 4),
                p[8] < KEY_TYPE_COUNT ? p[8] : uint8_t(KEY_STEP)};
        if (!keys.empty() && key.row <= keys.back().row)
            return std::nullopt;
        keys.push_back(key);
    }
    return keys;
}

// The bytes a track holding keys saves to.
Bytes fileBytes(const std::vector<Key>& keys) {
    Bytes out;
    putLe32(out, uint32_t(keys.size()));
    for (const Key& key : keys) {
        putLe32(out, uint32_t(key.row));
        putLe32(out, key.valueBits);
        out.push_back(key.type);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path dir = makeScratchDir("track_file");
    base = deviceBase(dir);
    trackFile = (dir / "sync_fuzz.track").string();
    sync_device* device = sync_create_device(base.c_str());
    FUZZ_CHECK(device != nullptr && base == device->base);
    FUZZ_CHECK(trackFile.size() < 250 &&
               sync_track_path(device->base, TRACK_NAME) == base + "_fuzz.track");
    sync_destroy_device(device);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeFile(trackFile, data, size);

    sync_device* device = sync_create_device(base.c_str());
    FUZZ_CHECK(device != nullptr);
    sync_track* track = sync_get_track(device, TRACK_NAME);
    FUZZ_CHECK(track != nullptr);
    FUZZ_CHECK(sync_get_track(device, TRACK_NAME) == track);

    const std::optional<std::vector<Key>> keys = expectedKeys(data, size);
    expectWellFormed(track);
    expectKeys(track, keys ? *keys : std::vector<Key>());
    expectSamples(track);

    // Saving writes the keys back: a well-formed file comes back byte for
    // byte (but for unknown type bytes, which load as steps), a refused one
    // as an empty track. The file is replaced only once completely written,
    // so no temporary file stays behind.
    FUZZ_CHECK(sync_save_tracks(device) == 0);
    FUZZ_CHECK(readFile(trackFile) == fileBytes(keys ? *keys : std::vector<Key>()));
    std::string temporary = trackFile;
    temporary.back() = '~';
    FUZZ_CHECK(access(temporary.c_str(), F_OK) != 0);

    sync_destroy_device(device);
    return 0;
}
