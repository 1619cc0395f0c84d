#include "Music.h"

#include "Platform.h"

#include <SDL.h>
#ifdef __linux__
#include <dlfcn.h>
#endif
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace Tolvane {

namespace {

constexpr int kOutputChannels = 2;
// Frames the decoder reads from the file at a time.
constexpr sf_count_t kDecodeChunk = 2048;
// How far ahead of the device the decoder runs, in seconds.
constexpr double kReadAhead = 0.5;
// The clock follows the device's consumption with this time constant...
constexpr double kSettleSeconds = 0.25;
// ...never running more than this fraction faster or slower than real time...
constexpr double kMaxSlew = 0.05;
// ...and jumps or waits only when the two are further apart than this.
constexpr double kResyncSeconds = 0.1;
// Seeks go no further than this when the tune's length is not known.
constexpr double kLongestTune = 1e7;
// Sample rates outside this range are refused, for the device and the file.
constexpr int kLowestRate = 4000;
constexpr int kHighestRate = 768000;

int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SDLCALL discardLog(void*, int, SDL_LogPriority, const char*) {}

// Device buffer size: a power of two near 20 ms of sound.
Uint16 bufferFrames(int frequency) {
    int frames = 256;
    while (frames < 8192 && frames < frequency / 50) frames *= 2;
    return static_cast<Uint16>(frames);
}

// Whether an MPEG audio frame header starts at h.
bool isMpegFrameHeader(const unsigned char* h) {
    const bool sync = h[0] == 0xFF && (h[1] & 0xE0) == 0xE0;
    const bool version = ((h[1] >> 3) & 3) != 1;
    const bool layer = ((h[1] >> 1) & 3) != 0;
    const bool bitrate = (h[2] >> 4) != 0xF;
    const bool rate = ((h[2] >> 2) & 3) != 3;
    return sync && version && layer && bitrate && rate;
}

// Whether the file starts like one of the formats the player decodes. The
// decoder's own probe of an unknown file would report its failed attempts on
// the standard error stream, so files that match nothing are refused here.
bool hasAudioSignature(const std::string& path) {
    std::ifstream in(Platform::filePath(path), std::ios::binary);
    unsigned char h[4] = {};
    if (!in.read(reinterpret_cast<char*>(h), sizeof h)) return false;
    static const char* const signatures[] = {
        "RIFF", "RIFX", "RF64", "BW64", "riff", "OggS", "fLaC", "FORM", ".snd", "caff", "ID3",
    };
    for (const char* signature : signatures) {
        if (std::memcmp(h, signature, std::strlen(signature)) == 0) return true;
    }
    return isMpegFrameHeader(h);
}

#ifdef __linux__
// Called by the sound card library instead of printing to standard error.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// The back end loads the sound card library itself; when it cannot find a
// card that library reports on standard error unless given a handler. The
// library stays loaded so that the back end finds the handler in place.
void silenceSoundCardLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        auto setHandler = reinterpret_cast<int (*)(Handler)>(dlsym(library, "snd_lib_error_set_handler"));
        if (setHandler) setHandler(quietAlsa);
    });
}
#else
// Other systems' sound back ends do not write to standard error.
void silenceSoundCardLibrary() {}
#endif

// Zeroth-order modified Bessel function of the first kind.
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-12) break;
    }
    return sum;
}

// Converts stereo frames from the tune's rate to the device's, with a
// windowed-sinc filter. Frames are numbered from the start of the tune on
// both sides, and output frame n is the input interpolated at exactly
// n * inRate / outRate: a restart anywhere produces the very frames that
// playing through from the start would have, and a tune of N input frames
// becomes ceil(N * outRate / inRate) output frames.
class Resampler {
public:
    void configure(int inRate, int outRate) {
        const int64_t divisor = std::gcd(static_cast<int64_t>(inRate), static_cast<int64_t>(outRate));
        up = outRate / divisor;
        down = inRate / divisor;
        if (up == down) return;
        const double cutoff = std::min(1.0, static_cast<double>(outRate) / inRate) * kPassBand;
        halfWidth = static_cast<int>(std::ceil(kZeroCrossings / cutoff));
        const int taps = 2 * halfWidth;
        // Row p holds the weights of input frames i0 - halfWidth + 1 ...
        // i0 + halfWidth for an output at i0 + p / kPhases.
        table.assign(static_cast<size_t>(kPhases + 1) * taps, 0.0f);
        const double beta = besselI0(kKaiserBeta);
        for (int p = 0; p <= kPhases; ++p) {
            double sum = 0.0;
            std::vector<double> row(taps);
            for (int k = 0; k < taps; ++k) {
                const double t = static_cast<double>(p) / kPhases - (k - halfWidth + 1);
                const double x = cutoff * t * M_PI;
                const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
                const double r = t / halfWidth;
                const double window = std::fabs(r) >= 1.0 ? 0.0 : besselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / beta;
                row[k] = sinc * window;
                sum += row[k];
            }
            for (int k = 0; k < taps; ++k) table[static_cast<size_t>(p) * taps + k] = static_cast<float>(row[k] / sum);
        }
    }

    // Starts over at output frame first; returns the input frame to feed
    // from.
    int64_t restart(int64_t first) {
        next = first;
        finished = false;
        history.clear();
        if (up == down) {
            historyStart = first;
        } else {
            historyStart = std::max<int64_t>(0, first * down / up - halfWidth + 1);
        }
        inputEnd = historyStart;
        return historyStart;
    }

    void put(const float* frames, size_t count) {
        history.insert(history.end(), frames, frames + count * 2);
        inputEnd += static_cast<int64_t>(count);
    }

    // No input follows what was put: the tune ends there.
    void finish() { finished = true; }

    // Appends every output frame that can be computed so far to out.
    void get(std::vector<float>& out) {
        if (up == down) {
            out.insert(out.end(), history.begin(), history.end());
            history.clear();
            historyStart = inputEnd;
            next = inputEnd;
            return;
        }
        const int taps = 2 * halfWidth;
        for (;; ++next) {
            const int64_t position = next * down;
            const int64_t center = position / up;
            if (finished ? position >= inputEnd * up : center + halfWidth >= inputEnd) break;
            const double phase = static_cast<double>(position % up) / up * kPhases;
            const int row = static_cast<int>(phase);
            const float blend = static_cast<float>(phase - row);
            const float* a = &table[static_cast<size_t>(row) * taps];
            const float* b = row < kPhases ? a + taps : a;
            float left = 0.0f;
            float right = 0.0f;
            const int64_t first = center - halfWidth + 1;
            for (int k = 0; k < taps; ++k) {
                const int64_t j = first + k;
                if (j < historyStart || j >= inputEnd) continue;
                const float weight = a[k] + (b[k] - a[k]) * blend;
                const size_t at = static_cast<size_t>(j - historyStart) * 2;
                left += weight * history[at];
                right += weight * history[at + 1];
            }
            out.push_back(left);
            out.push_back(right);
        }
        // Drop the input no later output reaches back to.
        const int64_t keep = std::max<int64_t>(historyStart, next * down / up - halfWidth + 1);
        const int64_t drop = std::min(keep, inputEnd) - historyStart;
        if (drop > 4096) {
            history.erase(history.begin(), history.begin() + drop * 2);
            historyStart += drop;
        }
    }

private:
    static constexpr int kPhases = 256;
    static constexpr double kZeroCrossings = 24.0;
    static constexpr double kPassBand = 0.95;
    static constexpr double kKaiserBeta = 9.0;

    int64_t up = 1;
    int64_t down = 1;
    int halfWidth = 0;
    std::vector<float> table;
    std::vector<float> history;  // stereo input frames from historyStart
    int64_t historyStart = 0;
    int64_t inputEnd = 0;        // input frame after the last one put
    int64_t next = 0;            // next output frame
    bool finished = false;
};

} // namespace

// ---------------------------------------------------------------------------
// The output device and the audio back end's subsystem that it lives in.

struct Music::Device {
    SDL_AudioDeviceID id = 0;
    int frequency = 0;
    // The dummy device consumes sound on a timer of its own that does not
    // keep real time; with it the tune is paced by the steady clock instead.
    bool pacedByClock = false;
    bool dummyHintSet = false;
    // What the device callback plays from; changed only with the device
    // locked.
    Stream* stream = nullptr;

    static void SDLCALL feed(void* user, Uint8* bytes, int length);

    // Opens the default output device, or the dummy one when there is none.
    bool open(int requestedFrequency) {
        SDL_LogSetOutputFunction(discardLog, nullptr);
        silenceSoundCardLibrary();
        // The audio library would turn Ctrl+C and SIGTERM into a quit event
        // that nothing here reads, leaving the player impossible to stop
        // from its terminal; keep the default signal behaviour.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        frequency = requestedFrequency;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            if (openDevice()) return true;
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
        dummyHintSet = true;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            if (openDevice()) return true;
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
        dummyHintSet = false;
        return false;
    }

    bool openDevice() {
        SDL_AudioSpec want{};
        want.freq = frequency;
        want.format = AUDIO_F32SYS;
        want.channels = kOutputChannels;
        want.samples = bufferFrames(frequency);
        want.callback = feed;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No changes allowed: the back end converts to the hardware itself.
        id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (id == 0) return false;
        const char* driver = SDL_GetCurrentAudioDriver();
        pacedByClock = driver && std::strcmp(driver, "dummy") == 0;
        return true;
    }

    // Sets what the device plays from; null makes it play silence.
    void attach(Stream* s) {
        SDL_LockAudioDevice(id);
        stream = s;
        SDL_UnlockAudioDevice(id);
    }

    ~Device() {
        if (id == 0) return;
        SDL_CloseAudioDevice(id);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        if (dummyHintSet) SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    }
};

// ---------------------------------------------------------------------------
// The open tune: its decoder thread, the buffer of converted sound ahead of
// the device, and the clock.
//
// Positions inside are counted in device frames from the start of the tune.
// The decoder writes converted frames into a ring; the device callback takes
// them out. A seek or pause empties the ring and bumps the generation, so
// that frames decoded for the old position are dropped.
//
// The clock is base + rate * (now - baseTime), limited to the tune's length.
// Its writers (main thread and device callback) hold the lock; position()
// reads it without locking, under a sequence counter.

struct Music::Stream {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    SDL_AudioDeviceID device = 0;
    double frequency = 0.0;
    bool pacedByClock = false;
    void (*onEnd)(void*) = nullptr;
    void* onEndUser = nullptr;

    Resampler resampler;         // decoder thread only
    std::thread decoder;
    std::mutex lock;
    std::condition_variable wake;

    // Guarded by lock.
    std::vector<float> ring;
    uint64_t ringFrames = 0;
    uint64_t readIndex = 0;
    uint64_t writeIndex = 0;
    int64_t readFrame = 0;       // tune frame at readIndex
    uint64_t generation = 0;
    bool seekPending = false;
    int64_t seekFrame = 0;       // where the decoder is to continue
    bool decoderDone = false;    // the last frame of the tune is in the ring
    bool endKnown = false;
    bool endReported = false;
    bool running = false;        // the device is unpaused
    bool armed = false;          // the clock waits for the first sound
    bool quit = false;

    // The clock.
    std::atomic<uint32_t> clockSequence{0};
    std::atomic<double> clockBase{0.0};
    std::atomic<int64_t> clockBaseTime{0};
    std::atomic<double> clockRate{0.0};
    std::atomic<double> clockLimit{std::numeric_limits<double>::infinity()};

    // Volume: set by the main thread, ramped to by the device callback.
    std::atomic<float> targetVolume{1.0f};
    float currentVolume = 1.0f;

    ~Stream() {
        if (decoder.joinable()) {
            {
                std::lock_guard<std::mutex> guard(lock);
                quit = true;
            }
            wake.notify_all();
            decoder.join();
        }
        if (file) sf_close(file);
    }

    // Opens the file and prepares the conversion to the device's format.
    bool open(const std::string& path, const Device& output) {
        if (!hasAudioSignature(path)) return false;
        file = Platform::openSoundFile(path, SFM_READ, &info);
        if (!file || info.channels <= 0) return false;
        if (info.samplerate < kLowestRate || info.samplerate > kHighestRate) return false;
        device = output.id;
        frequency = output.frequency;
        pacedByClock = output.pacedByClock;
        resampler.configure(info.samplerate, output.frequency);
        seekPending = true;
        ringFrames = static_cast<uint64_t>(std::max(frequency * kReadAhead, 4.0 * bufferFrames(output.frequency)));
        ring.assign(ringFrames * kOutputChannels, 0.0f);
        if (info.frames > 0 && info.frames < std::numeric_limits<sf_count_t>::max() / 2) {
            clockLimit.store(static_cast<double>(info.frames) / info.samplerate);
        }
        return true;
    }

    void startDecoder() { decoder = std::thread([this] { decode(); }); }

    // --- Clock -------------------------------------------------------------

    double clockAt(int64_t now) const {
        const double elapsed = std::max<int64_t>(0, now - clockBaseTime.load(std::memory_order_relaxed)) * 1e-9;
        const double p = clockBase.load(std::memory_order_relaxed) + clockRate.load(std::memory_order_relaxed) * elapsed;
        return std::min(p, clockLimit.load(std::memory_order_relaxed));
    }

    // Lock-free read of the position being heard.
    double position() const {
        for (;;) {
            const uint32_t before = clockSequence.load(std::memory_order_acquire);
            if (before & 1u) continue;
            const double p = clockAt(steadyNow());
            std::atomic_thread_fence(std::memory_order_acquire);
            if (clockSequence.load(std::memory_order_relaxed) == before) return p;
        }
    }

    // Holding lock.
    void setClock(double base, int64_t time, double rate) {
        const uint32_t sequence = clockSequence.load(std::memory_order_relaxed);
        clockSequence.store(sequence + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        clockBase.store(base, std::memory_order_relaxed);
        clockBaseTime.store(time, std::memory_order_relaxed);
        clockRate.store(rate, std::memory_order_relaxed);
        clockSequence.store(sequence + 2, std::memory_order_release);
    }

    // Holding lock.
    void setLimit(double limit) {
        const uint32_t sequence = clockSequence.load(std::memory_order_relaxed);
        clockSequence.store(sequence + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        clockLimit.store(limit, std::memory_order_relaxed);
        clockSequence.store(sequence + 2, std::memory_order_release);
    }

    // Holding lock. The device is about to play the frame at firstFrame:
    // steer the clock towards it without ever stepping backwards.
    void followDevice(int64_t firstFrame, int64_t now) {
        if (armed) {
            armed = false;
            setClock(clockBase.load(std::memory_order_relaxed), now, 1.0);
            return;
        }
        const double heard = firstFrame / frequency;
        const double clock = clockAt(now);
        const double error = heard - clock;
        if (error > kResyncSeconds) {
            setClock(heard, now, 1.0);
        } else if (error < -kResyncSeconds) {
            setClock(clock, now, 0.0);
        } else {
            setClock(clock, now, std::clamp(1.0 + error / kSettleSeconds, 1.0 - kMaxSlew, 1.0 + kMaxSlew));
        }
    }

    // --- Transport (main thread) --------------------------------------------

    // Holding lock. Drops what is buffered and has the decoder continue from
    // seconds.
    void reposition(double seconds) {
        ++generation;
        seekPending = true;
        readIndex = writeIndex;
        readFrame = std::llround(seconds * frequency);
        seekFrame = readFrame;
        decoderDone = false;
        if (seconds < clockLimit.load(std::memory_order_relaxed)) endReported = false;
    }

    void start() {
        {
            std::lock_guard<std::mutex> guard(lock);
            running = true;
            const int64_t now = steadyNow();
            const double base = clockAt(now);
            if (pacedByClock) {
                setClock(base, now, 1.0);
            } else {
                armed = true;
                setClock(base, now, 0.0);
            }
        }
        SDL_PauseAudioDevice(device, 0);
    }

    void stop() {
        // Returns once no callback runs any more.
        SDL_PauseAudioDevice(device, 1);
        {
            std::lock_guard<std::mutex> guard(lock);
            running = false;
            armed = false;
            const int64_t now = steadyNow();
            const double heard = clockAt(now);
            setClock(heard, now, 0.0);
            // A real device has taken frames beyond what has been heard;
            // resume from the sample heard last.
            if (!pacedByClock) reposition(heard);
        }
        wake.notify_all();
    }

    void seek(double seconds) {
        if (!(seconds >= 0.0)) seconds = 0.0;  // also not a number
        {
            std::lock_guard<std::mutex> guard(lock);
            seconds = std::min({seconds, clockLimit.load(std::memory_order_relaxed), kLongestTune});
            reposition(seconds);
            const int64_t now = steadyNow();
            if (pacedByClock) {
                setClock(seconds, now, running ? 1.0 : 0.0);
            } else {
                armed = running;
                setClock(seconds, now, 0.0);
            }
        }
        wake.notify_all();
    }

    // --- Decoder thread -----------------------------------------------------

    // Reads the tune, makes it stereo at the device's rate and keeps the
    // ring filled ahead of the device.
    void decode() {
        const int channels = info.channels;
        std::vector<float> input(static_cast<size_t>(kDecodeChunk) * channels);
        std::vector<float> stereo(static_cast<size_t>(kDecodeChunk) * kOutputChannels);
        std::vector<float> pending;  // converted frames not yet in the ring
        size_t pendingFrame = 0;
        bool fileDone = false;
        uint64_t decoding = 0;
        std::unique_lock<std::mutex> guard(lock);
        while (!quit) {
            if (seekPending) {
                seekPending = false;
                decoding = generation;
                const int64_t target = seekFrame;
                guard.unlock();
                const int64_t from = resampler.restart(target);
                fileDone = sf_seek(file, from, SEEK_SET) < 0;
                if (fileDone) resampler.finish();
                pending.clear();
                pendingFrame = 0;
                guard.lock();
                continue;
            }
            const size_t pendingFrames = pending.size() / kOutputChannels - pendingFrame;
            if (pendingFrames > 0) {
                const uint64_t space = ringFrames - (writeIndex - readIndex);
                if (space == 0) {
                    wake.wait(guard);
                    continue;
                }
                const uint64_t count = std::min<uint64_t>(space, pendingFrames);
                write(pending.data() + pendingFrame * kOutputChannels, count);
                pendingFrame += count;
                continue;
            }
            if (fileDone) {
                if (!decoderDone) finish();
                wake.wait(guard);
                continue;
            }
            guard.unlock();
            const sf_count_t read = sf_readf_float(file, input.data(), kDecodeChunk);
            if (read > 0) {
                // Mono plays on both sides; beyond two channels the first
                // two, front left and right, are played.
                for (sf_count_t f = 0; f < read; ++f) {
                    stereo[f * 2] = input[f * channels];
                    stereo[f * 2 + 1] = input[f * channels + (channels > 1 ? 1 : 0)];
                }
                resampler.put(stereo.data(), static_cast<size_t>(read));
            } else {
                resampler.finish();
                fileDone = true;
            }
            pending.clear();
            pendingFrame = 0;
            resampler.get(pending);
            guard.lock();
            if (decoding != generation) pending.clear();
        }
    }

    // Holding lock: copies frames into the ring.
    void write(const float* frames, uint64_t count) {
        for (uint64_t i = 0; i < count;) {
            const uint64_t at = (writeIndex + i) % ringFrames;
            const uint64_t run = std::min(count - i, ringFrames - at);
            std::memcpy(&ring[at * kOutputChannels], frames + i * kOutputChannels, run * kOutputChannels * sizeof(float));
            i += run;
        }
        writeIndex += count;
    }

    // Holding lock: the whole tune up to its end is in the ring.
    void finish() {
        decoderDone = true;
        if (!endKnown) {
            endKnown = true;
            const int64_t end = readFrame + static_cast<int64_t>(writeIndex - readIndex);
            setLimit(end / frequency);
        }
    }

    // --- Device callback ----------------------------------------------------

    void render(float* out, int frames) {
        const int64_t now = steadyNow();
        bool reachedEnd = false;
        {
            std::lock_guard<std::mutex> guard(lock);
            const uint64_t available = writeIndex - readIndex;
            if (pacedByClock) {
                const int64_t target = static_cast<int64_t>(std::floor(clockAt(now) * frequency));
                const uint64_t taken = std::min<uint64_t>(available, static_cast<uint64_t>(std::max<int64_t>(0, target - readFrame)));
                readIndex += taken;
                readFrame += static_cast<int64_t>(taken);
                std::memset(out, 0, static_cast<size_t>(frames) * kOutputChannels * sizeof(float));
                reachedEnd = decoderDone && taken == available && clockAt(now) >= clockLimit.load(std::memory_order_relaxed);
            } else {
                uint64_t taken = std::min<uint64_t>(available, static_cast<uint64_t>(frames));
                if (taken < std::min<uint64_t>(frames, ringFrames) && !decoderDone) {
                    // The decoder is behind (just after a seek or resume, or
                    // starved of time): part of the tune and then silence
                    // would cut a gap into it while the clock runs on. Play
                    // silence instead and hold the clock until a whole
                    // buffer is ready; the tune then goes on without a gap.
                    taken = 0;
                    if (!armed) {
                        armed = true;
                        setClock(clockAt(now), now, 0.0);
                    }
                }
                for (uint64_t i = 0; i < taken;) {
                    const uint64_t at = (readIndex + i) % ringFrames;
                    const uint64_t run = std::min(taken - i, ringFrames - at);
                    std::memcpy(out + i * kOutputChannels, &ring[at * kOutputChannels], run * kOutputChannels * sizeof(float));
                    i += run;
                }
                std::memset(out + taken * kOutputChannels, 0, (frames - taken) * kOutputChannels * sizeof(float));
                if (taken > 0) followDevice(readFrame, now);
                readIndex += taken;
                readFrame += static_cast<int64_t>(taken);
                // Everything was handed over by earlier callbacks and has now
                // been played.
                reachedEnd = decoderDone && available == 0;
                if (reachedEnd && !endReported) setClock(readFrame / frequency, now, 0.0);
                applyVolume(out, frames);
            }
            if (reachedEnd && !endReported) {
                endReported = true;
            } else {
                reachedEnd = false;
            }
        }
        wake.notify_one();
        if (reachedEnd && onEnd) onEnd(onEndUser);
    }

    // Scales the buffer by the volume, ramping over it after a change so
    // that muting does not click.
    void applyVolume(float* out, int frames) {
        const float target = targetVolume.load(std::memory_order_relaxed);
        const float from = currentVolume;
        currentVolume = target;
        if (from == 1.0f && target == 1.0f) return;
        for (int i = 0; i < frames; ++i) {
            const float gain = from + (target - from) * static_cast<float>(i + 1) / static_cast<float>(frames);
            out[i * kOutputChannels] *= gain;
            out[i * kOutputChannels + 1] *= gain;
        }
    }
};

void SDLCALL Music::Device::feed(void* user, Uint8* bytes, int length) {
    auto* self = static_cast<Device*>(user);
    float* out = reinterpret_cast<float*>(bytes);
    const int frames = length / static_cast<int>(kOutputChannels * sizeof(float));
    if (self->stream) {
        self->stream->render(out, frames);
    } else {
        std::memset(bytes, 0, static_cast<size_t>(length));
    }
}

// ---------------------------------------------------------------------------
// Music

Music::Music() : playing(false), silenceToggle(false), ended(false), volumeLevel(1.0f) {}

Music::~Music() {
    cleanUp();
}

bool Music::initialize(int frequency, std::string file) {
    cleanUp();
    if (frequency < kLowestRate || frequency > kHighestRate) return false;
    auto output = std::make_unique<Device>();
    if (!output->open(frequency)) return false;
    auto stream = std::make_unique<Stream>();
    if (!stream->open(file, *output)) return false;
    stream->onEnd = &Music::musicEndCallback;
    stream->onEndUser = this;
    stream->targetVolume.store(volumeLevel);
    stream->currentVolume = volumeLevel;
    stream->startDecoder();
    output->attach(stream.get());
    device = std::move(output);
    channel = std::move(stream);
    // A player that already considers itself playing plays the new tune.
    if (playing) channel->start();
    return true;
}

void Music::play() {
    if (!playing && channel) channel->start();
    playing = true;
}

void Music::pause() {
    if (!playing) return;
    if (channel) channel->stop();
    playing = false;
}

bool Music::isPlaying() {
    return playing;
}

double Music::position() {
    return channel ? channel->position() : 0.0;
}

void Music::seek(double seconds) {
    if (channel) channel->seek(seconds);
}

bool Music::hasMusicEnded() {
    return ended.load();
}

void Music::silence() {
    silenceToggle = !silenceToggle;
    volumeLevel = silenceToggle ? 0.0f : 1.0f;
    if (channel) channel->targetVolume.store(volumeLevel);
}

float Music::volume() const {
    return volumeLevel;
}

void Music::cleanUp() {
    if (channel) {
        device->attach(nullptr);
        channel.reset();
    }
    device.reset();
}

uint32_t Music::backendVersion() {
    SDL_version linked{};
    SDL_GetVersion(&linked);
    return static_cast<uint32_t>(linked.major) << 24 | static_cast<uint32_t>(linked.minor) << 16 |
           static_cast<uint32_t>(linked.patch) << 8;
}

void Music::musicEndCallback(void* user) {
    static_cast<Music*>(user)->ended.store(true);
}

} // namespace Tolvane
