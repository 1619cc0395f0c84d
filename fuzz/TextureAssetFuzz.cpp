// Fuzzes texture asset loading: the input is the whole file of a PNG asset.
// TextureManager::setTextures gets a static texture asset naming the file,
// between a dynamic texture and a static one whose file is missing. The
// PNG's texture must be registered exactly when the file decodes (and its
// header claims no more than the manager accepts), with its size and 8-bit
// RGBA pixels; the other assets must come out the same whatever the PNG
// holds. Nothing here needs a GL context: textures are only decoded, never
// uploaded.
//
// The PNG decoder is a system library, built without the fuzzer's coverage
// feedback, and it checks every chunk's CRC and the zlib checksum of the
// image data before it looks at the pixels. Plain byte mutations would
// mostly break those checksums, so a custom mutator mutates the header, the
// other chunks or the uncompressed image data and then repairs the
// container: most inputs get past the checksums to the filters, interlacing
// and colour conversions.

#include "DynamicTexture.h"
#include "FuzzSupport.h"
#include "StaticTexture.h"
#include "TextureManager.h"

#include <algorithm>
#include <optional>

#include <lodepng.h>
#include <zlib.h>

#include <random>

using namespace Tolvane;
using namespace Tolvane::Fuzz;

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

// Where the PNG is written, set up once.
std::string pngFile;

Common::Asset staticAsset(const std::string& name, const std::string& file) {
    Common::Asset asset;
    asset.type = Common::STATIC_TEXTURE;
    asset.name = name;
    asset.file = file;
    return asset;
}

const uint8_t SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

struct Chunk {
    std::string type;
    Bytes body;
};

// The chunks of a PNG, or nothing when the bytes are not a sequence of
// whole chunks after the signature.
std::optional<std::vector<Chunk>> chunks(const uint8_t* data, size_t size) {
    if (size < 8 || std::memcmp(data, SIGNATURE, 8) != 0)
        return std::nullopt;
    std::vector<Chunk> out;
    size_t pos = 8;
    while (pos < size) {
        if (size - pos < 12)
            return std::nullopt;
        const uint32_t length = getBe32(data + pos);
        if (length > size - pos - 12)
            return std::nullopt;
        out.push_back({std::string(reinterpret_cast<const char*>(data + pos + 4), 4),
                       Bytes(data + pos + 8, data + pos + 8 + length)});
        pos += 12 + length;
    }
    return out;
}

// The PNG made of the chunks, with correct lengths and CRCs.
Bytes assemble(const std::vector<Chunk>& list) {
    Bytes out(SIGNATURE, SIGNATURE + 8);
    for (const Chunk& chunk : list) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(chunk.body.size() >> shift));
        const size_t start = out.size();
        out.insert(out.end(), chunk.type.begin(), chunk.type.end());
        out.insert(out.end(), chunk.body.begin(), chunk.body.end());
        const uint32_t crc = uint32_t(crc32(0, out.data() + start, uInt(out.size() - start)));
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(crc >> shift));
    }
    return out;
}

// The inflated zlib stream, at most limit bytes of it; nothing when it is
// not a zlib stream.
std::optional<Bytes> inflateAll(const Bytes& in, size_t limit) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    Bytes out(limit);
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = uInt(in.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    if (result != Z_STREAM_END && result != Z_BUF_ERROR)
        return std::nullopt;
    return out;
}

Bytes deflateAll(const Bytes& in) {
    uLongf size = compressBound(uLong(in.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, in.data(), uLong(in.size()), 6) != Z_OK)
        return Bytes();
    out.resize(size);
    return out;
}

// Mutates body in place with the fuzzer's own mutations, up to limit bytes.
void mutate(Bytes& body, size_t limit) {
    if (body.empty())
        body.push_back(0); // the fuzzer mutates at least one byte
    const size_t size = body.size();
    body.resize(std::max(limit, size) + 1);
    body.resize(LLVMFuzzerMutate(body.data(), size, std::max(limit, size)));
}

// Coverage the fuzzer cannot see for itself: the decoder is not
// instrumented, so its verdict and the kind of image it read are counted
// here, in counters the fuzzer treats like its own. An input that meets a
// new decoder error or a new kind of image is kept in the corpus.
__attribute__((used, section("__libfuzzer_extra_counters"))) uint8_t outcomes[512];

// The binary logarithm of value, up to 10: images larger than 1024 pixels
// a side are all alike here, so that the fuzzer does not chase huge (and
// slow) images for their own sake.
unsigned log2Bucket(unsigned value) {
    unsigned bucket = 0;
    while (value > 1 && bucket < 10) {
        value >>= 1;
        ++bucket;
    }
    return bucket;
}

void noteOutcome(unsigned error, bool fits, const LodePNGInfo& header, const LodePNGInfo* decoded,
                 unsigned width, unsigned height) {
    outcomes[error % 128]++;
    outcomes[128 + (fits ? 1 : 0)]++;
    outcomes[136 + (header.color.colortype & 7) * 8 + (log2Bucket(header.color.bitdepth) & 7)]++;
    outcomes[200 + (header.interlace_method & 1) * 16 + log2Bucket(width)]++;
    outcomes[232 + log2Bucket(height)]++;
    if (decoded != nullptr) {
        outcomes[256 + (decoded->color.colortype & 7) * 8 +
                 (log2Bucket(decoded->color.bitdepth) & 7)]++;
        outcomes[320 + (decoded->color.key_defined ? 1 : 0) +
                 (decoded->background_defined ? 2 : 0)]++;
        outcomes[328 + log2Bucket(unsigned(decoded->color.palettesize))]++;
        outcomes[344 + (decoded->interlace_method & 1)]++;
    }
}

} // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned seed) {
    std::minstd_rand random(seed);
    std::optional<std::vector<Chunk>> list = chunks(data, size);
    if (!list || list->empty() || random() % 8 == 0) {
        // Anything goes now and then, and for what is no PNG at all; the
        // CRCs are repaired when the result still reads as chunks.
        size = LLVMFuzzerMutate(data, size, maxSize);
        if (std::optional<std::vector<Chunk>> repaired = chunks(data, size)) {
            const Bytes out = assemble(*repaired);
            std::memcpy(data, out.data(), out.size());
        }
        return size;
    }

    // The image data is one zlib stream over every IDAT chunk, in order.
    Bytes compressed;
    size_t firstData = list->size();
    for (size_t i = 0; i < list->size(); ++i) {
        if ((*list)[i].type == "IDAT") {
            firstData = std::min(firstData, i);
            compressed.insert(compressed.end(), (*list)[i].body.begin(), (*list)[i].body.end());
        }
    }
    // (Only a small image is worth recompressing on every mutation.)
    std::optional<Bytes> raw =
        firstData < list->size() ? inflateAll(compressed, 1 << 16) : std::nullopt;
    if (raw && raw->size() == 1 << 16)
        raw.reset();

    switch (random() % 4) {
    case 0: // the header, or any other chunk, keeping the image data
        mutate((*list)[random() % list->size()].body, 64);
        break;
    case 1: // the order and set of the chunks
        if (list->size() > 1 && random() % 2 == 0) {
            list->erase(list->begin() + long(random() % list->size()));
        } else {
            static const char* const types[] = {"PLTE", "tRNS", "IDAT", "IEND",
                                                "IHDR", "gAMA", "bKGD", "sBIT"};
            Chunk chunk{types[random() % 8], Bytes(random() % 16)};
            for (uint8_t& byte : chunk.body)
                byte = uint8_t(random());
            list->insert(list->begin() + long(random() % (list->size() + 1)), chunk);
        }
        break;
    default: // the uncompressed scanlines, compressed again
        if (raw) {
            mutate(*raw, raw->size() + 256);
            Chunk data{"IDAT", deflateAll(*raw)};
            std::vector<Chunk> rebuilt;
            for (size_t i = 0; i < list->size(); ++i) {
                if (i == firstData)
                    rebuilt.push_back(data);
                else if ((*list)[i].type != "IDAT")
                    rebuilt.push_back((*list)[i]);
            }
            *list = rebuilt;
        } else {
            mutate((*list)[random() % list->size()].body, 64);
        }
        break;
    }

    const Bytes out = assemble(*list);
    if (out.size() > maxSize)
        return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, out.data(), out.size());
    return out.size();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pngFile = (makeScratchDir("texture_asset") / "asset.png").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeFile(pngFile, data, size);

    Common::Asset dynamic;
    dynamic.type = Common::DYNAMIC_TEXTURE;
    dynamic.name = "feedback";
    dynamic.once = true;
    dynamic.width = 64;
    dynamic.height = 32;

    TextureManager manager;
    manager.setTextures(
        {dynamic, staticAsset("png", pngFile), staticAsset("missing", pngFile + ".none")});

    // The decoder's own verdict on the bytes, asked the same way, for an
    // image whose header claims no more than the manager accepts.
    std::vector<unsigned char> pixels;
    unsigned width = 0;
    unsigned height = 0;
    lodepng::State header;
    unsigned error = lodepng_inspect(&width, &height, &header, data, size);
    const bool fits = error == 0 && width <= TextureManager::MAX_IMAGE_SIDE &&
                      height <= TextureManager::MAX_IMAGE_SIDE &&
                      uint64_t(width) * height <= TextureManager::MAX_IMAGE_PIXELS;
    lodepng::State state;
    if (fits) {
        state.info_raw.colortype = LCT_RGBA;
        state.info_raw.bitdepth = 8;
        error = lodepng::decode(pixels, width, height, state, data, size);
    }
    const bool decodes = fits && error == 0;
    noteOutcome(error, fits, header.info_png, decodes ? &state.info_png : nullptr, width, height);

    Texture* texture = manager.getTexture("png");
    FUZZ_CHECK((texture != nullptr) == decodes);
    if (texture != nullptr) {
        StaticTexture* image = dynamic_cast<StaticTexture*>(texture);
        FUZZ_CHECK(image != nullptr);
        FUZZ_CHECK(image->id == 0);
        FUZZ_CHECK(image->width == width && image->height == height);
        FUZZ_CHECK(width > 0 && height > 0);
        FUZZ_CHECK(image->image.size() == size_t(width) * height * 4);
        FUZZ_CHECK(image->image == pixels);
    }

    FUZZ_CHECK(manager.getTexture("missing") == nullptr);
    DynamicTexture* feedback = dynamic_cast<DynamicTexture*>(manager.getTexture("feedback"));
    FUZZ_CHECK(feedback != nullptr);
    FUZZ_CHECK(feedback->once && feedback->width == 64 && feedback->height == 32 &&
               feedback->id == 0);

    // Looking up a name that was never registered adds nothing, and a name
    // registered again replaces the texture.
    FUZZ_CHECK(manager.getTexture("") == nullptr);
    dynamic.name = "png";
    manager.setTextures({dynamic});
    FUZZ_CHECK(dynamic_cast<DynamicTexture*>(manager.getTexture("png")) != nullptr);
    FUZZ_CHECK(manager.getTexture("feedback") == feedback);
    return 0;
}
