#pragma once

// The command line of tolvane-capture, checked and turned into settings.
//
//   tolvane-capture [configuration] --out DIR [--video FILE.mp4]
//                   [--fps N | --fps N/D] [--size WxH]
//                   [--from SECONDS] [--to SECONDS]
//
// Parsing checks the form of every value (a size of two positive integers,
// a positive frame rate, finite non-negative times, --from before --to). What
// needs the demo itself (the tune's length, the GL's largest framebuffer) is
// checked later, by the capture.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Tolvane::Capture {

struct CaptureOptions {
    std::string configuration = "configuration.json";
    // Where the frames and audio.wav go; empty when only a video is made.
    std::string outDir;
    // The H.264 + AAC video to make instead of keeping the frames; empty for
    // numbered PNG frames.
    std::string video;
    // Frames per second as a fraction, so that rates like 30000/1001 are
    // exact: frame n is drawn at from + n * fpsDenominator / fpsNumerator.
    int64_t fpsNumerator = 60;
    int64_t fpsDenominator = 1;
    // Unset: the configuration's screen size.
    std::optional<int> width;
    std::optional<int> height;
    double from = 0.0;
    // Unset: the end of the tune.
    std::optional<double> to;
};

struct ParsedArguments {
    CaptureOptions options;
    // Set when the command line is wrong; the text says what and why.
    std::string error;
    // --help was asked for.
    bool help = false;
    // --version was asked for.
    bool version = false;
};

// Parses the arguments that follow the program name.
ParsedArguments parseArguments(const std::vector<std::string>& arguments);

// A time in seconds as short as it can be written exactly enough: "2.5".
std::string formatSeconds(double seconds);

// The usage text printed for --help and after a command-line error.
std::string usageText();

} // namespace Tolvane::Capture
