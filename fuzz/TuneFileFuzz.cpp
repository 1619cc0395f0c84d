// Fuzzes the tune decoder: the input is the whole tune file. TuneDecoder
// must open it or refuse it without crashing, printing or running away;
// an opened tune has a rate and channel count in range and a length, and
// reading it front to back, or on from any seek, gives no more frames than
// that length. (That an MP3 gives exactly its length, and that a seek lands
// on the very samples of a front-to-back read, holds for well-formed
// streams, which the unit tests check: a damaged one ends where decoding
// fails, and the frames before the target that a seek decodes again may
// resynchronise differently.)
//
// The decoding libraries are system libraries without the fuzzer's
// coverage feedback; the seeds cover MP3 (CBR with an Info header, VBR
// without one, and behind 2 KiB of junk), OGG, FLAC and WAV.

#include "FuzzSupport.h"
#include "TuneDecoder.h"

#include <vector>

using namespace Tolvane;
using namespace Tolvane::Fuzz;

namespace {

std::string tuneFile;

// Frames read at most (a tiny FLAC file may hold hours of constant sound):
// beyond, the tune is long enough for any check here.
constexpr int64_t MOST_FRAMES = int64_t{1} << 26;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tuneFile = (makeScratchDir("tune_file") / "tune").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeFile(tuneFile, data, size);
    TuneDecoder decoder;
    if (!decoder.open(tuneFile)) {
        FUZZ_CHECK(!decoder.failure().empty());
        return 0;
    }
    const int channels = decoder.channels();
    FUZZ_CHECK(channels >= 1 && channels <= 64);
    FUZZ_CHECK(decoder.rate() >= 4000 && decoder.rate() <= 768000);
    FUZZ_CHECK(decoder.frames() > 0);

    std::vector<float> chunk(size_t(4096) * size_t(channels));
    int64_t total = 0;
    for (int64_t got; total < MOST_FRAMES && (got = decoder.read(chunk.data(), 4096)) > 0;
         total += got)
        FUZZ_CHECK(got <= 4096);
    FUZZ_CHECK(total <= decoder.frames());
    if (total == 0 || total >= MOST_FRAMES)
        return 0;

    // Seeks at frames picked by the input's last bytes.
    for (size_t i = 0; i < 3 && i < size; ++i) {
        const int64_t at = int64_t(data[size - 1 - i]) * 977 % total;
        if (!decoder.seek(at))
            continue;
        int64_t rest = 0;
        for (int64_t got; rest < MOST_FRAMES && (got = decoder.read(chunk.data(), 4096)) > 0;)
            rest += got;
        FUZZ_CHECK(rest <= decoder.frames() - at);
    }
    return 0;
}
