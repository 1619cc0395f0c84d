#pragma once

// Makes an H.264 + AAC video of captured frames with ffmpeg: the frames go
// down a pipe as raw RGBA video at the capture's exact frame rate, the sound
// comes from the WAV file of the same range, and ffmpeg muxes both.
//
// Use: findFfmpeg() to look the program up on PATH; start(...); write()
// every frame; finish() waits for ffmpeg and tells whether the video was
// made. While started, the process ignores SIGPIPE, so that ffmpeg dying
// shows as a failed write rather than killing the capture.

#include "FrameSink.h"

#include <sys/types.h>

namespace Tolvane::Capture {

class VideoEncoder : public FrameSink {
public:
    VideoEncoder();
    ~VideoEncoder() override;

    // Why there is no video on this system; empty where there is.
#ifdef _WIN32
    static constexpr const char* UNAVAILABLE =
        "this build makes no video: leave out --video to write PNG frames and a WAV";
#else
    static constexpr const char* UNAVAILABLE = "";
#endif

    // The path of the ffmpeg program found on PATH, or empty when there is
    // none.
    static std::string findFfmpeg();

    // Starts ffmpeg to encode width x height frames at numerator/denominator
    // frames per second with the sound of audioPath into videoPath
    // (overwritten). Returns false with the reason in error.
    bool start(const std::string& ffmpeg, int width, int height, int64_t numerator,
               int64_t denominator, const std::string& audioPath, const std::string& videoPath,
               std::string& error);

    bool write(int64_t index, std::vector<uint8_t>&& pixels) override;
    bool finish() override;
    std::string error() override;

private:
    pid_t child = -1;
    // The write end of ffmpeg's standard input.
    int input = -1;
    size_t frameBytes = 0;
    std::string failure;
};

} // namespace Tolvane::Capture
