#pragma once

// Where captured frames go: numbered PNG files (PngSequence) or a video
// encoder (VideoEncoder). Frames arrive in order, as top-down RGBA pixels of
// the capture size.

#include <cstdint>
#include <string>
#include <vector>

namespace Tolvane::Capture {

class FrameSink {
public:
    virtual ~FrameSink();

    // Hands over frame index. Returns false once the sink has failed (a frame
    // could not be written); error() then says why and later frames are
    // dropped.
    virtual bool write(int64_t index, std::vector<uint8_t>&& pixels) = 0;

    // Waits until every frame handed over is written out. Returns false when
    // any of them failed.
    virtual bool finish() = 0;

    // Why the sink failed; empty while it has not.
    virtual std::string error() = 0;
};

} // namespace Tolvane::Capture
