#include "VideoEncoder.h"

#ifdef _WIN32

// The Windows build has no video output: the encoder is started through
// POSIX process spawning and a pipe. Capture refuses --video there before
// anything is drawn, so these are never reached with a running encoder.
namespace Tolvane::Capture {

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

std::string VideoEncoder::findFfmpeg() {
    return "";
}

bool VideoEncoder::start(const std::string&, int, int, int64_t, int64_t, const std::string&,
                         const std::string&, std::string& error) {
    error = UNAVAILABLE;
    return false;
}

bool VideoEncoder::write(int64_t, std::vector<uint8_t>&&) {
    failure = UNAVAILABLE;
    return false;
}

bool VideoEncoder::finish() {
    return failure.empty();
}

std::string VideoEncoder::error() {
    return failure;
}

} // namespace Tolvane::Capture

#else

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Tolvane::Capture {

namespace {

// Whether path names an executable regular file.
bool isExecutable(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Writes all of size bytes, retrying after interruptions and short writes.
bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

} // namespace

VideoEncoder::VideoEncoder() = default;

VideoEncoder::~VideoEncoder() {
    if (child > 0) {
        // Abandoned half way (the capture failed): stop ffmpeg rather than
        // leave it waiting for frames.
        if (input >= 0) {
            ::close(input);
            input = -1;
        }
        kill(child, SIGTERM);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        child = -1;
    }
}

std::string VideoEncoder::findFfmpeg() {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return "";
    }
    std::string directories = path;
    size_t start = 0;
    for (;;) {
        const size_t end = directories.find(':', start);
        std::string directory =
            directories.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // An empty entry means the working directory.
        const std::string candidate =
            (directory.empty() ? std::string(".") : directory) + "/ffmpeg";
        if (isExecutable(candidate)) {
            return candidate;
        }
        if (end == std::string::npos) {
            return "";
        }
        start = end + 1;
    }
}

bool VideoEncoder::start(const std::string& ffmpeg, int width, int height, int64_t numerator,
                         int64_t denominator, const std::string& audioPath,
                         const std::string& videoPath, std::string& error) {
    frameBytes = static_cast<size_t>(width) * height * 4;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string rate = std::to_string(numerator) + "/" + std::to_string(denominator);
    const std::vector<std::string> arguments = {
        ffmpeg, "-hide_banner", "-loglevel", "error", "-nostats", "-y",
        // The frames, exactly as drawn, one after another on standard input.
        "-f", "rawvideo", "-pix_fmt", "rgba", "-video_size", size, "-framerate", rate, "-i",
        "pipe:0", "-i", audioPath, "-map", "0:v:0", "-map", "1:a:0",
        // H.264 in 4:2:0 as every player takes it, converted and tagged as
        // BT.709 so that the colours come out as drawn.
        "-vf", "scale=out_color_matrix=bt709:out_range=tv", "-c:v", "libx264", "-preset", "medium",
        "-crf", "18", "-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709",
        "-color_trc", "bt709", "-color_range", "tv", "-c:a", "aac", "-b:a", "192k", "-movflags",
        "+faststart", videoPath};
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe to ffmpeg: ") + std::strerror(errno);
        return false;
    }
    std::signal(SIGPIPE, SIG_IGN);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // ffmpeg gets SIGPIPE back as it would be by default.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const int spawned =
        posix_spawn(&child, ffmpeg.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[0]);
    if (spawned != 0) {
        child = -1;
        ::close(ends[1]);
        error = "cannot start " + ffmpeg + ": " + std::strerror(spawned);
        return false;
    }
    input = ends[1];
    // A larger pipe lets ffmpeg take a frame in fewer wake-ups.
    fcntl(input, F_SETPIPE_SZ, 1 << 20);
    return true;
}

bool VideoEncoder::write(int64_t, std::vector<uint8_t>&& pixels) {
    if (!failure.empty()) {
        return false;
    }
    if (input < 0 || pixels.size() != frameBytes) {
        failure = "ffmpeg is not running";
        return false;
    }
    if (!writeAll(input, pixels.data(), pixels.size())) {
        failure = std::string("ffmpeg stopped taking frames (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

bool VideoEncoder::finish() {
    if (input >= 0) {
        ::close(input);
        input = -1;
    }
    if (child > 0) {
        int status = 0;
        pid_t waited = 0;
        while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
        }
        child = -1;
        if (waited < 0) {
            failure = std::string("cannot wait for ffmpeg: ") + std::strerror(errno);
        } else if (WIFSIGNALED(status)) {
            failure = "ffmpeg was killed by signal " + std::to_string(WTERMSIG(status));
        } else if (WEXITSTATUS(status) != 0) {
            const std::string exit =
                "ffmpeg failed with exit status " + std::to_string(WEXITSTATUS(status));
            failure = failure.empty() ? exit : failure + "; " + exit;
        }
    }
    return failure.empty();
}

std::string VideoEncoder::error() {
    return failure;
}

} // namespace Tolvane::Capture

#endif
