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

constexpr const char* AUDIO_NAME = "audio.wav";

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
    return denominator == 1 ? std::to_string(numerator)
                            : std::to_string(numerator) + "/" + std::to_string(denominator);
}

} // namespace

Capture::Capture(std::FILE* messages) : messages(messages) {}

int64_t Capture::frameCount(double from, double to, int64_t numerator, int64_t denominator) {
    const double frames =
        (to - from) * static_cast<double>(numerator) / static_cast<double>(denominator);
    if (!(frames > 0.0)) {
        return 0;
    }
    // A range that is a whole number of frames long, give or take rounding
    // in the decimal times, does not gain a frame at its end.
    return static_cast<int64_t>(std::ceil(frames - 1e-9 * std::max(1.0, frames)));
}

double Capture::frameTime(double from, int64_t n, int64_t numerator, int64_t denominator) {
    return from + static_cast<double>(n) * static_cast<double>(denominator) /
                      static_cast<double>(numerator);
}

bool Capture::drawFrames(OffscreenRenderer& renderer, FrameSink& sink, double from, int64_t count,
                         int64_t numerator, int64_t denominator, ProgressBar* progress) {
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
    if (status == BAD_REQUEST) {
        std::fprintf(messages, "run tolvane-capture --help for usage\n");
    }
    std::fflush(messages);
    return status;
}

void Capture::warn(const std::string& message) {
    std::fprintf(messages, "tolvane-capture: warning: %s\n", message.c_str());
}

// Everything one run has worked out so far, handed from phase to phase.
struct Capture::Job {
    Configuration configuration;
    int width = 0;
    int height = 0;
    bool video = false;
    TuneReader tune;
    double from = 0.0;
    double to = 0.0;
    int64_t count = 0;
    std::string ffmpeg;
    std::string outDir;
    std::string audioPath;
    std::unique_ptr<TemporaryFile> temporaryAudio;
    OffscreenRenderer renderer;
    std::unique_ptr<FrameSink> sink;
};

int Capture::readDemo(const CaptureOptions& options, Job& job) {
    if (!job.configuration.read(options.configuration)) {
        return fail(FAILURE, "cannot read the configuration \"" + options.configuration + "\"");
    }
    job.width = options.width.value_or(job.configuration.demo.width);
    job.height = options.height.value_or(job.configuration.demo.height);
    if (job.width <= 0 || job.height <= 0) {
        return fail(BAD_REQUEST, "bad size " + sizeText(job.width, job.height) +
                                     " in the configuration: give one with --size WxH");
    }
    job.video = !options.video.empty();
    if (job.video && (job.width % 2 != 0 || job.height % 2 != 0)) {
        return fail(BAD_REQUEST, "bad size " + sizeText(job.width, job.height) +
                                     " for a video: H.264 needs an even width and height");
    }

    std::string why;
    const std::string& file = job.configuration.tune.file;
    if (!job.tune.open(file, why)) {
        std::error_code code;
        const std::string hint =
            fs::exists(Platform::filePath(file), code)
                ? ""
                : " (paths in the configuration are relative to the working directory)";
        return fail(FAILURE, "cannot open the tune \"" + file + "\": " + why + hint);
    }
    return 0;
}

// The range is checked against the tune's length; the last sample frame may
// end a rounding step past the length in seconds.
int Capture::checkRange(const CaptureOptions& options, Job& job) {
    const double length = job.tune.seconds();
    job.from = options.from;
    job.to = options.to.value_or(length);
    const double slack = 0.5 / job.tune.rate();
    if (job.from >= length) {
        return fail(BAD_REQUEST, "bad range: --from " + formatSeconds(job.from) +
                                     " is not before the end of the tune (" +
                                     formatSeconds(length) + " s)");
    }
    if (job.to > length + slack) {
        return fail(BAD_REQUEST, "bad range: --to " + formatSeconds(job.to) +
                                     " is past the end of the tune (" + formatSeconds(length) +
                                     " s)");
    }
    job.count = frameCount(job.from, job.to, options.fpsNumerator, options.fpsDenominator);
    if (job.count < 1) {
        return fail(BAD_REQUEST, "bad range: from " + formatSeconds(job.from) + " to " +
                                     formatSeconds(job.to) + " s holds no frame");
    }
    return 0;
}

// Everything the capture writes is checked before the slow part starts.
int Capture::checkOutputs(const CaptureOptions& options, Job& job) {
    if (job.video && *VideoEncoder::UNAVAILABLE) {
        return fail(BAD_REQUEST, VideoEncoder::UNAVAILABLE);
    }
    if (job.video) {
        job.ffmpeg = VideoEncoder::findFfmpeg();
        if (job.ffmpeg.empty()) {
            return fail(FAILURE,
                        "ffmpeg is not on PATH, and it is needed to make a video: install it, or "
                        "leave out --video to write PNG frames");
        }
    }
    std::string why;
    if (!options.outDir.empty()) {
        std::error_code code;
        const fs::path outPath = Platform::filePath(options.outDir);
        fs::create_directories(outPath, code);
        const std::error_code created = code;
        if (!fs::is_directory(outPath, code)) {
            return fail(FAILURE,
                        "cannot write to the output directory \"" + options.outDir +
                            "\": " + (created ? created.message() : "it is not a directory"));
        }
        job.outDir = fs::absolute(outPath).lexically_normal().u8string();
        job.audioPath = (Platform::filePath(job.outDir) / AUDIO_NAME).u8string();
        if (!canWriteBeside(job.audioPath, why)) {
            return fail(FAILURE,
                        "cannot write to the output directory \"" + options.outDir + "\": " + why);
        }
    } else {
        job.audioPath =
            (fs::temp_directory_path() / ("tolvane-capture-" + std::to_string(getpid()) + ".wav"))
                .u8string();
        job.temporaryAudio = std::make_unique<TemporaryFile>(job.audioPath);
    }
    if (job.video && !canWriteBeside(options.video, why)) {
        return fail(FAILURE, "cannot write the video \"" + options.video + "\": " + why);
    }
    return 0;
}

// The demo must draw before anything is written; then the sound of the range
// goes out, and the sink that takes the frames is opened.
int Capture::openOutputs(const CaptureOptions& options, Job& job) {
    std::string why;
    std::vector<std::string> warnings;
    if (!job.renderer.open(job.configuration, job.width, job.height, why, warnings)) {
        return fail(job.renderer.sizeRefused() ? BAD_REQUEST : FAILURE, why);
    }
    for (const std::string& warning : warnings) {
        warn(warning);
    }

    if (!job.tune.writeExcerpt(job.from, job.to, job.audioPath, why)) {
        return fail(FAILURE, "cannot write the audio \"" + job.audioPath + "\": " + why);
    }

    if (job.video) {
        auto encoder = std::make_unique<VideoEncoder>();
        if (!encoder->start(job.ffmpeg, job.width, job.height, options.fpsNumerator,
                            options.fpsDenominator, job.audioPath, options.video, why)) {
            return fail(FAILURE, why);
        }
        job.sink = std::move(encoder);
    } else {
        job.sink = std::make_unique<PngSequence>(job.outDir, job.width, job.height,
                                                 std::max(1u, std::thread::hardware_concurrency()));
    }
    return 0;
}

int Capture::drawAll(const CaptureOptions& options, Job& job) {
    std::fprintf(messages,
                 "capturing %lld frames, %s at %s frames/s, from %s to %s s of the tune\n",
                 static_cast<long long>(job.count), sizeText(job.width, job.height).c_str(),
                 rateText(options.fpsNumerator, options.fpsDenominator).c_str(),
                 formatSeconds(job.from).c_str(), formatSeconds(job.to).c_str());
    std::fflush(messages);
    ProgressBar progress(messages, job.count, isatty(fileno(messages)) != 0);
    const bool drawn = drawFrames(job.renderer, *job.sink, job.from, job.count,
                                  options.fpsNumerator, options.fpsDenominator, &progress);
    const bool written = job.sink->finish();
    job.renderer.close();
    if (!drawn || !written) {
        progress.clear();
        if (job.video) {
            // What ffmpeg left behind is no playable video.
            std::error_code ignored;
            fs::remove(Platform::filePath(options.video), ignored);
        }
        return fail(FAILURE, job.sink->error());
    }
    progress.finish();
    return 0;
}

void Capture::reportWritten(const CaptureOptions& options, const Job& job) {
    if (job.video) {
        std::fprintf(messages, "wrote %s\n", options.video.c_str());
    } else {
        const std::string frames = job.count == 1 ? PngSequence::frameName(0)
                                                  : PngSequence::frameName(0) + " to " +
                                                        PngSequence::frameName(job.count - 1);
        std::fprintf(messages, "wrote %s and %s to %s\n", frames.c_str(), AUDIO_NAME,
                     job.outDir.c_str());
        // Frames of an earlier, longer capture would be taken for part of
        // this one by anything that reads the numbered files in order.
        std::error_code code;
        if (fs::exists(Platform::filePath(job.outDir) / PngSequence::frameName(job.count), code)) {
            warn(job.outDir + " still holds " + PngSequence::frameName(job.count) +
                 " and maybe more frames from an earlier capture: remove them before using these "
                 "frames");
        }
    }
    if (job.video && !job.outDir.empty()) {
        std::fprintf(messages, "wrote %s to %s\n", AUDIO_NAME, job.outDir.c_str());
    }
}

int Capture::run(const CaptureOptions& options) {
    Job job;
    if (const int status = readDemo(options, job); status != 0) {
        return status;
    }
    if (const int status = checkRange(options, job); status != 0) {
        return status;
    }
    if (const int status = checkOutputs(options, job); status != 0) {
        return status;
    }
    if (const int status = openOutputs(options, job); status != 0) {
        return status;
    }
    if (const int status = drawAll(options, job); status != 0) {
        return status;
    }
    reportWritten(options, job);
    return 0;
}

} // namespace Tolvane::Capture
