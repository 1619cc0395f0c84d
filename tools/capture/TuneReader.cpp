#include "TuneReader.h"

#include "Platform.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Tolvane::Capture {

namespace {

// Frames copied at a time.
constexpr sf_count_t CHUNK = 8192;

// Whether samples of this encoding carry more than 16 bits.
bool isDeep(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        return true;
    default:
        return false;
    }
}

} // namespace

TuneReader::TuneReader() = default;

TuneReader::~TuneReader() {
    if (file != nullptr) {
        sf_close(file);
    }
}

bool TuneReader::open(const std::string& path, std::string& error) {
    SF_INFO info{};
    file = Platform::openSoundFile(path, SFM_READ, &info);
    if (file == nullptr) {
        error = sf_strerror(nullptr);
        return false;
    }
    if (info.samplerate <= 0 || info.channels <= 0 || info.frames <= 0 ||
        info.frames == SF_COUNT_MAX) {
        error = "the decoder cannot tell the tune's length";
        sf_close(file);
        file = nullptr;
        return false;
    }
    sampleRate = info.samplerate;
    channelCount = info.channels;
    frameCount = info.frames;
    format = info.format;
    // Compressed tunes decode to floating point, which may go past full
    // scale: clip it rather than let it wrap round in the integer samples.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

double TuneReader::seconds() const {
    return sampleRate > 0 ? static_cast<double>(frameCount) / sampleRate : 0.0;
}

int64_t TuneReader::frameAt(double seconds) const {
    return static_cast<int64_t>(std::llround(seconds * sampleRate));
}

bool TuneReader::writeExcerpt(double from, double to, const std::string& path, std::string& error) {
    if (file == nullptr) {
        error = "no tune is open";
        return false;
    }
    const int64_t first = frameAt(from);
    const int64_t count = std::max<int64_t>(0, frameAt(to) - first);

    // Integer samples pass 16- and 24-bit data through unchanged.
    SF_INFO outInfo{};
    outInfo.samplerate = sampleRate;
    outInfo.channels = channelCount;
    outInfo.format = SF_FORMAT_WAV | (isDeep(format) ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    SNDFILE* out = Platform::openSoundFile(path, SFM_WRITE, &outInfo);
    if (out == nullptr) {
        error = sf_strerror(nullptr);
        return false;
    }

    // Seek to the first frame; a decoder that cannot seek is read up to it.
    std::vector<int> buffer(static_cast<size_t>(CHUNK) * channelCount);
    if (sf_seek(file, first, SEEK_SET) != first) {
        sf_seek(file, 0, SEEK_SET);
        for (int64_t skipped = 0; skipped < first;) {
            const sf_count_t got =
                sf_readf_int(file, buffer.data(), std::min<int64_t>(CHUNK, first - skipped));
            if (got <= 0) {
                break;
            }
            skipped += got;
        }
    }

    bool ok = true;
    for (int64_t written = 0; written < count && ok;) {
        const sf_count_t want = std::min<int64_t>(CHUNK, count - written);
        sf_count_t got = sf_readf_int(file, buffer.data(), want);
        got = std::max<sf_count_t>(got, 0);
        // Past the decoded end (a length the decoder estimated too long)
        // the excerpt goes on in silence, so it keeps its exact length.
        std::fill(buffer.begin() + got * channelCount, buffer.begin() + want * channelCount, 0);
        ok = sf_writef_int(out, buffer.data(), want) == want;
        written += want;
    }
    if (!ok) {
        error = sf_strerror(out);
    }
    if (sf_close(out) != 0 && ok) {
        error = "the file could not be completed";
        ok = false;
    }
    return ok;
}

} // namespace Tolvane::Capture
