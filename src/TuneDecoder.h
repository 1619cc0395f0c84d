#pragma once

// Reads a tune file as interleaved float frames, from any frame on.
//
// Use: open(path), then read() front to back, seek() anywhere in between,
// and let the destructor close the file. MP3 is decoded with libmpg123:
// the whole file is scanned when it is opened, so frames() is the exact
// length with or without a Xing/Info header, CBR or VBR; the encoder's
// delay and padding are left out where the header names them (gapless);
// ID3v2 tags (padding included), junk before the first frame, and APE and
// ID3v1 tags at the end are skipped. WAV, AIFF, OGG and FLAC are decoded
// with libsndfile. Neither library prints anything.

#include <cstdint>
#include <string>

struct mpg123_handle_struct;
struct sf_private_tag;

namespace Tolvane {

class TuneDecoder {
public:
    TuneDecoder() = default;
    ~TuneDecoder();
    TuneDecoder(const TuneDecoder&) = delete;
    TuneDecoder& operator=(const TuneDecoder&) = delete;

    // Opens the tune at path. Returns false, with nothing open, when the
    // file cannot be read, is no tune, or its rate or channel count is out
    // of range; failure() then says why.
    bool open(const std::string& path);

    // Channels of a frame (at least 1), frames a second, and the tune's
    // length in frames.
    int channels() const { return channelCount; }
    int rate() const { return sampleRate; }
    int64_t frames() const { return length; }

    // Moves to frame (0 to frames()): the next read starts with exactly the
    // frame that reading from the start would give there. Returns false
    // when the file refuses.
    bool seek(int64_t frame);

    // Reads up to count frames into out (count * channels() floats).
    // Returns the number of frames read: 0 at the end of the tune. A
    // decoding error, or an MP3 going on at another sample rate, ends the
    // tune there, short of frames().
    int64_t read(float* out, int64_t count);

    // Why the last open() failed, for a person to read.
    const std::string& failure() const { return why; }

private:
    bool openMp3(const std::string& path);
    bool openOther(const std::string& path);
    void close();
    // read() without the limit to the length.
    int64_t decode(float* out, int64_t count);

    mpg123_handle_struct* mp3 = nullptr;
    sf_private_tag* other = nullptr;
    int channelCount = 0;
    int sampleRate = 0;
    int64_t length = 0;
    int64_t position = 0;     // the frame the next read starts with
    bool rateChanged = false; // the MP3 went on at another rate: its end
    std::string why;
};

} // namespace Tolvane
