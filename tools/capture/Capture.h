#pragma once

// A whole capture: reads the demo, checks the request against it, writes the
// sound of the range, then draws every frame at its exact time and hands it
// to the PNG files or the video encoder, showing progress on the way.
//
// Frame n of a capture from `from` at N/D frames per second is drawn at
// from + n * D / N seconds of the tune, and the frames are those whose time
// lies before `to`; nothing depends on how fast they are drawn.

#include "CaptureOptions.h"

#include <cstdint>
#include <cstdio>

namespace Tolvane::Capture {

class FrameSink;
class OffscreenRenderer;
class ProgressBar;

class Capture {
public:
    // Exit statuses: a request that cannot be met as given (bad size, range,
    // frame rate or arguments), and a failure while trying (unreadable demo,
    // unwritable output, no display, no ffmpeg, ...).
    static constexpr int BAD_REQUEST = 2;
    static constexpr int FAILURE = 1;

    // Messages (errors, warnings, progress) go to messages.
    explicit Capture(std::FILE* messages);

    // Runs the capture; returns the exit status, 0 on success.
    int run(const CaptureOptions& options);

    // The number of frames from `from` up to, not including, `to`.
    static int64_t frameCount(double from, double to, int64_t numerator, int64_t denominator);
    // The tune position of frame n.
    static double frameTime(double from, int64_t n, int64_t numerator, int64_t denominator);

    // Draws frames 0 to count - 1 and hands each to sink, counting them on
    // progress when given. Returns false as soon as the sink fails.
    static bool drawFrames(OffscreenRenderer& renderer, FrameSink& sink, double from, int64_t count,
                           int64_t numerator, int64_t denominator, ProgressBar* progress);

private:
    // The phases of run, in order; each returns 0 to go on, else the exit
    // status after saying what went wrong.
    struct Job;
    int readDemo(const CaptureOptions& options, Job& job);
    int checkRange(const CaptureOptions& options, Job& job);
    int checkOutputs(const CaptureOptions& options, Job& job);
    int openOutputs(const CaptureOptions& options, Job& job);
    int drawAll(const CaptureOptions& options, Job& job);
    void reportWritten(const CaptureOptions& options, const Job& job);

    int fail(int status, const std::string& message);
    void warn(const std::string& message);

    std::FILE* messages;
};

} // namespace Tolvane::Capture
