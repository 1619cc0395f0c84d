#pragma once

// Converts stereo frames from the tune's rate to the device's, with a
// windowed-sinc filter (Kaiser window, 24 zero crossings, 256 phases).
//
// Use: configure(inRate, outRate) once; restart(first) at every start or
// seek, then feed the input frames it asks for with put(), take what can be
// computed with get(), and call finish() when the input has ended.
//
// Frames are numbered from the start of the tune on both sides, and output
// frame n is the input interpolated at exactly n * inRate / outRate: a
// restart anywhere produces the very frames that playing through from the
// start would have, and a tune of N input frames becomes
// ceil(N * outRate / inRate) output frames. Equal rates pass frames through
// untouched.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tolvane {

class Resampler {
public:
    // Builds the filter for converting inRate to outRate (both positive).
    void configure(int inRate, int outRate);

    // Starts over at output frame first; returns the input frame to feed
    // from.
    int64_t restart(int64_t first);

    // Appends count interleaved stereo input frames.
    void put(const float* frames, size_t count);

    // No input follows what was put: the tune ends there.
    void finish() { finished = true; }

    // Appends every output frame that can be computed so far to out.
    void get(std::vector<float>& out);

private:
    // Computes output frame next from the history into out.
    void interpolate(std::vector<float>& out) const;

    int64_t up = 1;
    int64_t down = 1;
    int halfWidth = 0;
    std::vector<float> table;   // the filter, one row of taps a phase
    std::vector<float> history; // stereo input frames from historyStart
    int64_t historyStart = 0;
    int64_t inputEnd = 0; // input frame after the last one put
    int64_t next = 0;     // next output frame
    bool finished = false;
};

} // namespace Tolvane
