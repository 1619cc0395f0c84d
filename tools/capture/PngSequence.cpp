#include "PngSequence.h"

#include "Platform.h"

#include <lodepng.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Tolvane::Capture {

namespace {

// The PNG's compressed stream, made by zlib at its fastest level. With the
// Paeth filter on every row this is several times faster than the PNG
// encoder's own compressor, for files about a tenth larger; a capture's
// frames are working material, not the final video.
unsigned fastZlib(unsigned char** out, size_t* outSize, const unsigned char* in, size_t inSize,
                  const LodePNGCompressSettings*) {
    uLongf size = compressBound(static_cast<uLong>(inSize));
    // The PNG encoder releases the buffer with free().
    auto* buffer = static_cast<unsigned char*>(std::malloc(size));
    if (buffer == nullptr) {
        return 83; // the encoder's code for a failed allocation
    }
    if (compress2(buffer, &size, in, static_cast<uLong>(inSize), 1) != Z_OK) {
        std::free(buffer);
        return 111; // the encoder's code for a failed compression
    }
    *out = buffer;
    *outSize = size;
    return 0;
}

} // namespace

PngSequence::PngSequence(std::string directory, int width, int height, unsigned threads)
    : directory(std::move(directory)), width(width), height(height),
      capacity(2 * static_cast<size_t>(threads == 0 ? 1 : threads)) {
    for (unsigned i = 0; i < (threads == 0 ? 1 : threads); ++i) {
        workers.emplace_back([this] { work(); });
    }
}

PngSequence::~PngSequence() {
    finish();
}

std::string PngSequence::frameName(int64_t index) {
    char name[64];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(index));
    return name;
}

bool PngSequence::write(int64_t index, std::vector<uint8_t>&& pixels) {
    std::unique_lock<std::mutex> guard(lock);
    jobTaken.wait(guard, [this] { return jobs.size() < capacity || !failure.empty(); });
    if (!failure.empty() || closing) {
        return false;
    }
    jobs.push_back(Job{index, std::move(pixels)});
    jobReady.notify_one();
    return true;
}

bool PngSequence::finish() {
    {
        std::lock_guard<std::mutex> guard(lock);
        closing = true;
    }
    jobReady.notify_all();
    for (std::thread& worker : workers) {
        if (worker.joinable()) {
            worker.join();
        }
    }
    std::lock_guard<std::mutex> guard(lock);
    return failure.empty();
}

std::string PngSequence::error() {
    std::lock_guard<std::mutex> guard(lock);
    return failure;
}

void PngSequence::work() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> guard(lock);
            jobReady.wait(guard, [this] { return !jobs.empty() || closing; });
            if (jobs.empty()) {
                return;
            }
            job = std::move(jobs.front());
            jobs.pop_front();
            if (!failure.empty()) {
                // After a failure the rest is dropped, not written.
                jobTaken.notify_all();
                continue;
            }
        }
        jobTaken.notify_all();
        std::string problem;
        if (!encodeAndSave(job, problem)) {
            std::lock_guard<std::mutex> guard(lock);
            if (failure.empty()) {
                failure = problem;
            }
            jobTaken.notify_all();
        }
    }
}

bool PngSequence::encodeAndSave(const Job& job, std::string& problem) const {
    const size_t pixelCount = static_cast<size_t>(width) * height;
    std::vector<uint8_t> rgb(pixelCount * 3);
    for (size_t i = 0; i < pixelCount; ++i) {
        std::memcpy(&rgb[i * 3], &job.pixels[i * 4], 3);
    }

    lodepng::State state;
    state.info_raw.colortype = LCT_RGB;
    state.info_raw.bitdepth = 8;
    state.info_png.color.colortype = LCT_RGB;
    state.info_png.color.bitdepth = 8;
    // A fixed format keeps every frame of a capture alike; searching for a
    // smaller one would only cost time.
    state.encoder.auto_convert = 0;
    state.encoder.filter_strategy = LFS_FOUR;
    state.encoder.zlibsettings.custom_zlib = fastZlib;
    std::vector<unsigned char> png;
    if (unsigned code = lodepng::encode(png, rgb, static_cast<unsigned>(width),
                                        static_cast<unsigned>(height), state)) {
        problem = "cannot encode " + frameName(job.index) + ": " + lodepng_error_text(code);
        return false;
    }

    const std::string path = directory + "/" + frameName(job.index);
    std::FILE* file = Platform::openFile(path, "wb");
    if (file == nullptr) {
        problem = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        problem = "cannot write " + path + ": " + std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}

} // namespace Tolvane::Capture
