#include "Capture.h"

#include "Configuration.h"
#include "OffscreenRenderer.h"
#include "Platform.h"
#include "PngSequence.h"
#include "ProgressBar.h"
#include "TuneReader.h"
#include "VideoEncoder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include <unistd.h>

namespace fs = std::filesystem;

namespace Tolvane::Capture {

namespace {

constexpr const char* kAudioName = "audio.wav";

// Removes a temporary file when it goes out of scope.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path(std::move(path)) {}
    ~TemporaryFile() {
        if (!path.empty()) {
            std::error_code ignored;
            fs::remove(Platform::filePath(path), ignored);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

private:
    std::string path;
};

// Whether files can be created beside path; the reason in error when not.
// Tries with a scratch file of its own, so that a file already at path is
// left as it is until the capture is ready to replace it.
bool canWriteBeside(const std::string& path, std::string& error) {
    const std::string probe = path + ".tolvane-capture-" + std::to_string(getpid());
    std::FILE* file = Platform::openFile(probe, "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    std::error_code ignored;
    fs::remove(Platform::filePath(probe), ignored);
    return true;
}

std::string sizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string rateText(int64_t numerator, int64_t denominator) {
    return denominator == 1 ? std::to_string(numerator) : std::to_string(numerator) + "/" + std::to_string(denominator);
}

} // namespace

Capture::Capture(std::FILE* messages) : messages(messages) {}

int64_t Capture::frameCount(double from, double to, int64_t numerator, int64_t denominator) {
    const double frames = (to - from) * static_cast<double>(numerator) / static_cast<double>(denominator);
    if (!(frames > 0.0)) {
        return 0;
    }
    // A range that is a whole number of frames long, give or take rounding
    // in the decimal times, does not gain a frame at its end.
    return static_cast<int64_t>(std::ceil(frames - 1e-9 * std::max(1.0, frames)));
}

double Capture::frameTime(double from, int64_t n, int64_t numerator, int64_t denominator) {
    return from + static_cast<double>(n) * static_cast<double>(denominator) / static_cast<double>(numerator);
}

bool Capture::drawFrames(OffscreenRenderer& renderer, FrameSink& sink, double from, int64_t count, int64_t numerator,
                         int64_t denominator, ProgressBar* progress) {
    for (int64_t n = 0; n < count; ++n) {
        renderer.render(frameTime(from, n, numerator, denominator));
        std::vector<uint8_t> pixels;
        renderer.readBack(pixels);
        if (!sink.write(n, std::move(pixels))) {
            return false;
        }
        if (progress != nullptr) {
            progress->update(n + 1);
        }
    }
    return true;
}

int Capture::fail(int status, const std::string& message) {
    std::fprintf(messages, "tolvane-capture: %s\n", message.c_str());
    if (status == kBadRequest) {
        std::fprintf(messages, "run tolvane-capture --help for usage\n");
    }
    std::fflush(messages);
    return status;
}

void Capture::warn(const std::string& message) {
    std::fprintf(messages, "tolvane-capture: warning: %s\n", message.c_str());
}

int Capture::run(const CaptureOptions& options) {
    // The demo.
    Configuration configuration;
    if (!configuration.read(options.configuration)) {
        return fail(kFailure, "cannot read the configuration \"" + options.configuration + "\"");
    }
    const int width = options.width.value_or(configuration.demo.width);
    const int height = options.height.value_or(configuration.demo.height);
    if (width <= 0 || height <= 0) {
        return fail(kBadRequest, "bad size " + sizeText(width, height) +
                                     " in the configuration: give one with --size WxH");
    }
    const bool video = !options.video.empty();
    if (video && (width % 2 != 0 || height % 2 != 0)) {
        return fail(kBadRequest, "bad size " + sizeText(width, height) +
                                     " for a video: H.264 needs an even width and height");
    }

    TuneReader tune;
    std::string why;
    if (!tune.open(configuration.tune.file, why)) {
        std::error_code code;
        const std::string hint = fs::exists(Platform::filePath(configuration.tune.file), code)
                                     ? ""
                                     : " (paths in the configuration are relative to the working directory)";
        return fail(kFailure, "cannot open the tune \"" + configuration.tune.file + "\": " + why + hint);
    }

    // The range, against the tune's length (the last sample frame may end
    // a rounding step past the length in seconds).
    const double length = tune.seconds();
    const double from = options.from;
    const double to = options.to.value_or(length);
    const double slack = 0.5 / tune.rate();
    if (from >= length) {
        return fail(kBadRequest, "bad range: --from " + formatSeconds(from) + " is not before the end of the tune (" +
                                     formatSeconds(length) + " s)");
    }
    if (to > length + slack) {
        return fail(kBadRequest, "bad range: --to " + formatSeconds(to) + " is past the end of the tune (" +
                                     formatSeconds(length) + " s)");
    }
    const int64_t count = frameCount(from, to, options.fpsNumerator, options.fpsDenominator);
    if (count < 1) {
        return fail(kBadRequest, "bad range: from " + formatSeconds(from) + " to " + formatSeconds(to) +
                                     " s holds no frame");
    }

    // Everything the capture writes, checked before the slow part starts.
    std::string ffmpeg;
    if (video && *VideoEncoder::kUnavailable) {
        return fail(kBadRequest, VideoEncoder::kUnavailable);
    }
    if (video) {
        ffmpeg = VideoEncoder::findFfmpeg();
        if (ffmpeg.empty()) {
            return fail(kFailure, "ffmpeg is not on PATH, and it is needed to make a video: install it, or "
                                  "leave out --video to write PNG frames");
        }
    }
    std::string outDir;
    std::string audioPath;
    std::unique_ptr<TemporaryFile> temporaryAudio;
    if (!options.outDir.empty()) {
        std::error_code code;
        const fs::path outPath = Platform::filePath(options.outDir);
        fs::create_directories(outPath, code);
        const std::error_code created = code;
        if (!fs::is_directory(outPath, code)) {
            return fail(kFailure, "cannot write to the output directory \"" + options.outDir + "\": " +
                                      (created ? created.message() : "it is not a directory"));
        }
        outDir = fs::absolute(outPath).lexically_normal().u8string();
        audioPath = (Platform::filePath(outDir) / kAudioName).u8string();
        if (!canWriteBeside(audioPath, why)) {
            return fail(kFailure, "cannot write to the output directory \"" + options.outDir + "\": " + why);
        }
    } else {
        audioPath = (fs::temp_directory_path() / ("tolvane-capture-" + std::to_string(getpid()) + ".wav")).u8string();
        temporaryAudio = std::make_unique<TemporaryFile>(audioPath);
    }
    if (video && !canWriteBeside(options.video, why)) {
        return fail(kFailure, "cannot write the video \"" + options.video + "\": " + why);
    }

    // The demo must draw before anything is written.
    OffscreenRenderer renderer;
    std::vector<std::string> warnings;
    if (!renderer.open(configuration, width, height, why, warnings)) {
        return fail(renderer.sizeRefused() ? kBadRequest : kFailure, why);
    }
    for (const std::string& warning : warnings) {
        warn(warning);
    }

    if (!tune.writeExcerpt(from, to, audioPath, why)) {
        return fail(kFailure, "cannot write the audio \"" + audioPath + "\": " + why);
    }

    std::unique_ptr<FrameSink> sink;
    if (video) {
        auto encoder = std::make_unique<VideoEncoder>();
        if (!encoder->start(ffmpeg, width, height, options.fpsNumerator, options.fpsDenominator, audioPath,
                            options.video, why)) {
            return fail(kFailure, why);
        }
        sink = std::move(encoder);
    } else {
        sink = std::make_unique<PngSequence>(outDir, width, height,
                                             std::max(1u, std::thread::hardware_concurrency()));
    }

    std::fprintf(messages, "capturing %lld frames, %s at %s frames/s, from %s to %s s of the tune\n",
                 static_cast<long long>(count), sizeText(width, height).c_str(),
                 rateText(options.fpsNumerator, options.fpsDenominator).c_str(), formatSeconds(from).c_str(),
                 formatSeconds(to).c_str());
    std::fflush(messages);
    ProgressBar progress(messages, count, isatty(fileno(messages)) != 0);
    const bool drawn = drawFrames(renderer, *sink, from, count, options.fpsNumerator, options.fpsDenominator,
                                  &progress);
    const bool written = sink->finish();
    renderer.close();
    if (!drawn || !written) {
        progress.clear();
        if (video) {
            // What ffmpeg left behind is no playable video.
            std::error_code ignored;
            fs::remove(Platform::filePath(options.video), ignored);
        }
        return fail(kFailure, sink->error());
    }
    progress.finish();

    if (video) {
        std::fprintf(messages, "wrote %s\n", options.video.c_str());
    } else {
        const std::string frames = count == 1 ? PngSequence::frameName(0)
                                              : PngSequence::frameName(0) + " to " + PngSequence::frameName(count - 1);
        std::fprintf(messages, "wrote %s and %s to %s\n", frames.c_str(), kAudioName, outDir.c_str());
        // Frames of an earlier, longer capture would be taken for part of
        // this one by anything that reads the numbered files in order.
        std::error_code code;
        if (fs::exists(Platform::filePath(outDir) / PngSequence::frameName(count), code)) {
            warn(outDir + " still holds " + PngSequence::frameName(count) +
                 " and maybe more frames from an earlier capture: remove them before using these frames");
        }
    }
    if (video && !outDir.empty()) {
        std::fprintf(messages, "wrote %s to %s\n", kAudioName, outDir.c_str());
    }
    return 0;
}

} // namespace Tolvane::Capture
