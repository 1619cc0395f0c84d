#include "CaptureOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace Tolvane::Capture {

namespace {

// Parses a whole text as a decimal integer in [1, limit].
bool parsePositive(const std::string& text, int64_t limit, int64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 12) {
        return false;
    }
    value = std::stoll(text);
    return value >= 1 && value <= limit;
}

// Parses a whole text as a finite decimal number.
bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

// "WIDTHxHEIGHT", both positive. Sizes past the GL's limits are refused
// once the GL is up; this only keeps the numbers sane.
bool parseSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) {
        return false;
    }
    int64_t w = 0;
    int64_t h = 0;
    constexpr int64_t limit = 1 << 16;
    if (!parsePositive(text.substr(0, x), limit, w) ||
        !parsePositive(text.substr(x + 1), limit, h)) {
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

// "N" or "N/D", both positive.
bool parseRate(const std::string& text, int64_t& numerator, int64_t& denominator) {
    const size_t slash = text.find('/');
    constexpr int64_t limit = 1000000;
    if (slash == std::string::npos) {
        denominator = 1;
        return parsePositive(text, 1000, numerator);
    }
    return parsePositive(text.substr(0, slash), limit, numerator) &&
           parsePositive(text.substr(slash + 1), limit, denominator) &&
           static_cast<double>(numerator) / static_cast<double>(denominator) <= 1000.0;
}

} // namespace

std::string formatSeconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", seconds);
    return text;
}

std::string usageText() {
    return "usage: tolvane-capture [configuration] --out DIR [--video FILE.mp4] [--fps 60] [--size "
           "WxH]\n"
           "                       [--from SECONDS] [--to SECONDS]\n"
           "\n"
           "Renders a demo offscreen at a fixed frame rate: frame n shows the demo at\n"
           "from + n / fps seconds of its tune, however long the frame takes to draw.\n"
           "\n"
           "  configuration   the demo's configuration (default configuration.json); like the\n"
           "                  player, every path in it is relative to the working directory\n"
           "  --out DIR       write frame-000000.png, frame-000001.png, ... and audio.wav there\n"
           "  --video FILE    encode an H.264 + AAC video with ffmpeg instead of keeping the\n"
           "                  frames (audio.wav is still kept when --out is given too)\n"
           "  --fps N         frames per second, whole (60) or a fraction (30000/1001); default "
           "60\n"
           "  --size WxH      picture size in pixels; default the configuration's screen size\n"
           "  --from SECONDS  start of the range; default 0\n"
           "  --to SECONDS    end of the range; default the end of the tune\n"
           "  --help          print this help and exit\n"
           "  --version       print the version and exit\n";
}

namespace {

// Stores the value of one option that takes a value; returns what is wrong
// with it, or the empty string.
std::string applyOption(CaptureOptions& options, const std::string& option,
                        const std::string& value) {
    if (option == "--out") {
        if (value.empty()) {
            return "--out needs a directory";
        }
        options.outDir = value;
    } else if (option == "--video") {
        if (value.empty()) {
            return "--video needs a file name";
        }
        options.video = value;
    } else if (option == "--fps") {
        if (!parseRate(value, options.fpsNumerator, options.fpsDenominator)) {
            return "bad frame rate \"" + value +
                   "\": give frames per second as a whole number (60) or a fraction (30000/1001), "
                   "above 0 and at most 1000";
        }
    } else if (option == "--size") {
        int width = 0;
        int height = 0;
        if (!parseSize(value, width, height)) {
            return "bad size \"" + value +
                   "\": give WIDTHxHEIGHT in pixels, such as 1280x720, each from 1 to 65536";
        }
        options.width = width;
        options.height = height;
    } else {
        double seconds = 0.0;
        if (!parseNumber(value, seconds) || seconds < 0.0) {
            return "bad range: " + option + " \"" + value +
                   "\" is not a time in seconds from the start of the tune";
        }
        if (option == "--from") {
            options.from = seconds;
        } else {
            options.to = seconds;
        }
    }
    return std::string();
}

} // namespace

ParsedArguments parseArguments(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    CaptureOptions& options = parsed.options;
    bool configurationGiven = false;
    auto fail = [&](const std::string& message) {
        parsed.error = message;
        return parsed;
    };

    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            parsed.help = true;
            return parsed;
        }
        if (argument == "--version") {
            parsed.version = true;
            return parsed;
        }
        const bool isOption = argument.size() > 1 && argument[0] == '-' && argument[1] == '-';
        if (!isOption) {
            if (configurationGiven) {
                return fail("more than one configuration given: \"" + options.configuration +
                            "\" and \"" + argument + "\"");
            }
            options.configuration = argument;
            configurationGiven = true;
            continue;
        }
        static const char* const withValue[] = {"--out",  "--video", "--fps",
                                                "--size", "--from",  "--to"};
        bool known = false;
        for (const char* name : withValue) {
            known = known || argument == name;
        }
        if (!known) {
            return fail("unknown option " + argument);
        }
        if (i + 1 >= arguments.size()) {
            return fail(argument + " needs a value");
        }
        const std::string problem = applyOption(options, argument, arguments[++i]);
        if (!problem.empty()) {
            return fail(problem);
        }
    }

    if (options.outDir.empty() && options.video.empty()) {
        return fail("say where the capture goes: --out DIR (frames and audio) or --video FILE.mp4");
    }
    if (options.to && *options.to <= options.from) {
        return fail("bad range: --from " + formatSeconds(options.from) + " must come before --to " +
                    formatSeconds(*options.to));
    }
    return parsed;
}

} // namespace Tolvane::Capture
