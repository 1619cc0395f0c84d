#pragma once

// Shows how far a capture has got. On a terminal a bar is redrawn in place,
// a few times a second: frames done, frames captured per second and the time
// left. Written anywhere else (a log, a pipe) it stays quiet until the end.
// Either way finish() leaves one summary line.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace Tolvane::Capture {

class ProgressBar {
public:
    // Counts up to total frames on stream; live draws the bar as it goes.
    ProgressBar(std::FILE* stream, int64_t total, bool live);

    // Records that done frames are finished.
    void update(int64_t done);

    // Clears the bar and writes the summary line.
    void finish();
    // Clears the bar, for a message in its place.
    void clear();

    // The bar's text for done of total frames after seconds.
    static std::string line(int64_t done, int64_t total, double seconds);

private:
    using Clock = std::chrono::steady_clock;

    std::FILE* stream;
    int64_t total;
    bool live;
    int64_t done = 0;
    Clock::time_point started;
    Clock::time_point lastDrawn;
    size_t lastLength = 0;
};

} // namespace Tolvane::Capture
