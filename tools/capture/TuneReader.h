#pragma once

// The demo's tune as the capture sees it: its length, sample rate and
// channels, and the stretch of it that goes with a captured range, written
// to a WAV file sample-exactly.
//
// Use: open(path); read rate(), channels(), frames() and seconds(); then
// writeExcerpt(from, to, wavPath) as often as needed.

#include <cstdint>
#include <string>

struct sf_private_tag;

namespace Tolvane::Capture {

class TuneReader {
public:
    TuneReader();
    ~TuneReader();
    TuneReader(const TuneReader&) = delete;
    TuneReader& operator=(const TuneReader&) = delete;

    // Opens the tune (any format the audio decoder reads: MP3, OGG, FLAC,
    // WAV, ...). Returns false with the reason in error.
    bool open(const std::string& path, std::string& error);

    int rate() const { return sampleRate; }
    int channels() const { return channelCount; }
    // Length in sample frames (one sample of every channel).
    int64_t frames() const { return frameCount; }
    double seconds() const;

    // The first sample frame of the range that starts at seconds.
    int64_t frameAt(double seconds) const;

    // Writes the tune from seconds from to seconds to as a WAV file with
    // the tune's own rate and channels: exactly frameAt(to) - frameAt(from)
    // sample frames, the first of them the tune's frame frameAt(from).
    // Samples are 16-bit, or 24-bit when the tune has more precision than
    // 16 bits. Returns false with the reason in error.
    bool writeExcerpt(double from, double to, const std::string& path, std::string& error);

private:
    sf_private_tag* file = nullptr;
    int sampleRate = 0;
    int channelCount = 0;
    int64_t frameCount = 0;
    int format = 0;
};

} // namespace Tolvane::Capture
