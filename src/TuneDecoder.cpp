#include "TuneDecoder.h"

#include "Platform.h"

#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

namespace Tolvane {

namespace {

// Sample rates and channel counts outside these are refused.
constexpr int LOWEST_RATE = 4000;
constexpr int HIGHEST_RATE = 768000;
constexpr int MOST_CHANNELS = 64;
// See openMp3.
constexpr long SEEK_PREFRAMES = 16;

// Whether the file starts like a format of libsndfile's. Everything else
// is taken for MP3, which may start with tags or junk; libsndfile's own
// probe would report its failed attempts on the standard error stream.
bool isSndfileFormat(const std::string& path) {
    std::ifstream in(Platform::filePath(path), std::ios::binary);
    char h[4] = {};
    if (!in.read(h, sizeof h))
        return false;
    static const char* const signatures[] = {"RIFF", "RIFX", "RF64", "BW64", "riff",
                                             "OggS", "fLaC", "FORM", ".snd", "caff"};
    for (const char* signature : signatures) {
        if (std::memcmp(h, signature, 4) == 0)
            return true;
    }
    return false;
}

} // namespace

TuneDecoder::~TuneDecoder() {
    close();
}

void TuneDecoder::close() {
    if (mp3) {
        mpg123_close(mp3);
        mpg123_delete(mp3);
        mp3 = nullptr;
    }
    if (other) {
        sf_close(other);
        other = nullptr;
    }
    channelCount = 0;
    sampleRate = 0;
    length = 0;
    position = 0;
    rateChanged = false;
}

bool TuneDecoder::open(const std::string& path) {
    close();
    why.clear();
    {
        std::ifstream probe(Platform::filePath(path), std::ios::binary);
        if (!probe) {
            why = "cannot be read";
            return false;
        }
    }
    const bool opened = isSndfileFormat(path) ? openOther(path) : openMp3(path);
    if (opened && (sampleRate < LOWEST_RATE || sampleRate > HIGHEST_RATE)) {
        why = "sample rate " + std::to_string(sampleRate) + " Hz is out of range";
    } else if (opened && (channelCount < 1 || channelCount > MOST_CHANNELS)) {
        why = std::to_string(channelCount) + " channels";
    } else if (opened) {
        return true;
    }
    close();
    return false;
}

bool TuneDecoder::openMp3(const std::string& path) {
    int error = MPG123_OK;
    mp3 = mpg123_new(nullptr, &error);
    if (!mp3) {
        why = "the MP3 decoder cannot start";
        return false;
    }
    // Junk before the first frame is skipped however long it is.
    mpg123_param(mp3, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_SKIP_ID3V2, 0.0);
    mpg123_param(mp3, MPG123_RESYNC_LIMIT, -1, 0.0);
    // A seek decodes this many frames before the target to refill the bit
    // reservoir, which a VBR frame may reach back into over several small
    // frames (511 bytes at most); the library's default of two gives
    // silence there instead of the tune.
    mpg123_param(mp3, MPG123_PREFRAMES, SEEK_PREFRAMES, 0.0);
    mpg123_format_none(mp3);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i) {
        mpg123_format(mp3, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_open(mp3, path.c_str()) != MPG123_OK ||
        mpg123_getformat(mp3, &rate, &channels, &encoding) != MPG123_OK) {
        why = "is no tune (neither MP3 nor a format of libsndfile's)";
        return false;
    }
    // The output keeps its channel count should the stream change on the
    // way; a change of rate ends the tune there (see read).
    mpg123_format_none(mp3);
    for (size_t i = 0; i < rateCount; ++i) {
        mpg123_format(mp3, rates[i], channels, MPG123_ENC_FLOAT_32);
    }
    // The exact length needs every frame's header, not an estimate from
    // the first frame's bit rate.
    const off_t frames = mpg123_scan(mp3) == MPG123_OK ? mpg123_length(mp3) : off_t{-1};
    if (frames <= 0) {
        why = "holds no MP3 audio";
        return false;
    }
    sampleRate = static_cast<int>(rate);
    channelCount = channels;
    length = static_cast<int64_t>(frames);
    return true;
}

bool TuneDecoder::openOther(const std::string& path) {
    SF_INFO info{};
    other = Platform::openSoundFile(path, SFM_READ, &info);
    if (!other) {
        why = "cannot be decoded";
        return false;
    }
    if (info.frames <= 0 || info.frames >= std::numeric_limits<sf_count_t>::max() / 2) {
        why = "holds no audio";
        return false;
    }
    sampleRate = info.samplerate;
    channelCount = info.channels;
    length = static_cast<int64_t>(info.frames);
    return true;
}

bool TuneDecoder::seek(int64_t frame) {
    if (frame < 0 || frame > length)
        return false;
    rateChanged = false;
    position = frame;
    if (mp3)
        return mpg123_seek(mp3, static_cast<off_t>(frame), SEEK_SET) >= 0;
    if (other)
        return sf_seek(other, static_cast<sf_count_t>(frame), SEEK_SET) >= 0;
    return false;
}

int64_t TuneDecoder::read(float* out, int64_t count) {
    // A damaged stream may decode to more than its scan counted: the tune
    // ends at its length all the same, so that its clock never runs past.
    count = std::min(count, length - position);
    const int64_t got = count > 0 ? decode(out, count) : 0;
    position += got;
    return got;
}

int64_t TuneDecoder::decode(float* out, int64_t count) {
    if (other) {
        const sf_count_t got = sf_readf_float(other, out, static_cast<sf_count_t>(count));
        return got > 0 ? static_cast<int64_t>(got) : 0;
    }
    if (!mp3 || rateChanged)
        return 0;
    const size_t frameBytes = sizeof(float) * static_cast<size_t>(channelCount);
    size_t done = 0;
    int result = mpg123_read(mp3, out, static_cast<size_t>(count) * frameBytes, &done);
    if (result == MPG123_NEW_FORMAT && done == 0) {
        // A stream glued from parts of different rates plays up to the
        // first part that the device's conversion was not set up for.
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        mpg123_getformat(mp3, &rate, &channels, &encoding);
        rateChanged = rate != sampleRate || channels != channelCount;
        if (rateChanged)
            return 0;
        result = mpg123_read(mp3, out, static_cast<size_t>(count) * frameBytes, &done);
    }
    if (result != MPG123_OK && result != MPG123_DONE && done == 0)
        return 0;
    return static_cast<int64_t>(done / frameBytes);
}

} // namespace Tolvane
