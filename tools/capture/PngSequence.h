#pragma once

// Writes captured frames as numbered PNG files, frame-000000.png,
// frame-000001.png, ... in one directory. Encoding a PNG takes longer than
// drawing a frame, so worker threads encode and write while the caller draws
// the next frames; write() blocks only when a few frames are already waiting.
// The files are RGB (the picture as seen: the alpha the shader wrote is not
// shown on screen either) and do not depend on the number of workers.

#include "FrameSink.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace Tolvane::Capture {

class PngSequence : public FrameSink {
public:
    // Frames of width x height go into directory, which must exist; threads
    // is the number of encoding threads (at least one).
    PngSequence(std::string directory, int width, int height, unsigned threads);
    ~PngSequence() override;

    // The file name of frame index: "frame-000042.png".
    static std::string frameName(int64_t index);

    bool write(int64_t index, std::vector<uint8_t>&& pixels) override;
    bool finish() override;
    std::string error() override;

private:
    struct Job {
        int64_t index;
        std::vector<uint8_t> pixels;
    };

    void work();
    bool encodeAndSave(const Job& job, std::string& problem) const;

    const std::string directory;
    const int width;
    const int height;
    const size_t capacity;
    std::mutex lock;
    std::condition_variable jobReady;
    std::condition_variable jobTaken;
    std::deque<Job> jobs;
    bool closing = false;
    std::string failure;
    std::vector<std::thread> workers;
};

} // namespace Tolvane::Capture
