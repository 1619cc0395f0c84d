// The music player: the output device, the open tune with its decoder
// thread, ring and clock, and the Music class that the player calls.
//
// Index of this file:
// [SECTION] Constants and helpers
// [SECTION] Music::Device: the output device
// [SECTION] Music::Stream: the open tune (clock, transport, decoder thread,
//           ring, device callback)
// [SECTION] Music
//
// The tune is read by TuneDecoder and converted to the device's rate by
// Resampler, each in its own file.

#include "Music.h"

#include "Resampler.h"
#include "TuneDecoder.h"

#include <SDL.h>
#ifdef __linux__
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace Tolvane {

// ---------------------------------------------------------------------------
// [SECTION] Constants and helpers

namespace {

constexpr int OUTPUT_CHANNELS = 2;
// Frames the decoder reads from the file at a time.
constexpr int64_t DECODE_CHUNK = 2048;
// How far ahead of the device the decoder runs, in seconds.
constexpr double READ_AHEAD = 0.5;
// The clock follows the device's consumption with this time constant...
constexpr double SETTLE_SECONDS = 0.25;
// ...never running more than this fraction faster or slower than real time...
constexpr double MAX_SLEW = 0.05;
// ...and jumps or waits only when the two are further apart than this.
constexpr double RESYNC_SECONDS = 0.1;
// Seeks go no further than this when the tune's length is not known.
constexpr double LONGEST_TUNE = 1e7;
// Device sample rates outside this range are refused.
constexpr int LOWEST_RATE = 4000;
constexpr int HIGHEST_RATE = 768000;

int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SDLCALL discardLog(void*, int, SDL_LogPriority, const char*) {}

// Device buffer size: a power of two near 20 ms of sound.
Uint16 bufferFrames(int frequency) {
    int frames = 256;
    while (frames < 8192 && frames < frequency / 50)
        frames *= 2;
    return static_cast<Uint16>(frames);
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
        if (!library)
            return;
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        auto setHandler =
            reinterpret_cast<int (*)(Handler)>(dlsym(library, "snd_lib_error_set_handler"));
        if (setHandler)
            setHandler(quietAlsa);
    });
}
#else
// Other systems' sound back ends do not write to standard error.
void silenceSoundCardLibrary() {}
#endif

} // namespace

// ---------------------------------------------------------------------------
// [SECTION] Music::Device: the output device and the audio back end's
// subsystem that it lives in.

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
            if (openDevice())
                return true;
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
        dummyHintSet = true;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            if (openDevice())
                return true;
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
        want.channels = OUTPUT_CHANNELS;
        want.samples = bufferFrames(frequency);
        want.callback = feed;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No changes allowed: the back end converts to the hardware itself.
        id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (id == 0)
            return false;
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
        if (id == 0)
            return;
        SDL_CloseAudioDevice(id);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        if (dummyHintSet)
            SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    }
};

// ---------------------------------------------------------------------------
// [SECTION] Music::Stream: the open tune: its decoder thread, the buffer of converted sound ahead of
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
    TuneDecoder tune; // decoder thread only, once open
    SDL_AudioDeviceID device = 0;
    double frequency = 0.0;
    bool pacedByClock = false;
    void (*onEnd)(void*) = nullptr;
    void* onEndUser = nullptr;

    Resampler resampler;       // decoder thread only
    std::vector<float> input;  // decoder thread only: a chunk as read
    std::vector<float> stereo; // decoder thread only: the chunk in stereo
    std::thread decoder;
    std::mutex lock;
    std::condition_variable wake;

    // Guarded by lock.
    std::vector<float> ring;
    uint64_t ringFrames = 0;
    uint64_t readIndex = 0;
    uint64_t writeIndex = 0;
    int64_t readFrame = 0; // tune frame at readIndex
    uint64_t generation = 0;
    bool seekPending = false;
    int64_t seekFrame = 0;    // where the decoder is to continue
    bool decoderDone = false; // the last frame of the tune is in the ring
    bool endKnown = false;
    bool endReported = false;
    bool running = false; // the device is unpaused
    bool armed = false;   // the clock waits for the first sound
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
    }

    // Opens the file and prepares the conversion to the device's format.
    bool open(const std::string& path, const Device& output) {
        if (!tune.open(path))
            return false;
        device = output.id;
        frequency = output.frequency;
        pacedByClock = output.pacedByClock;
        resampler.configure(tune.rate(), output.frequency);
        seekPending = true;
        ringFrames = static_cast<uint64_t>(
            std::max(frequency * READ_AHEAD, 4.0 * bufferFrames(output.frequency)));
        ring.assign(ringFrames * OUTPUT_CHANNELS, 0.0f);
        clockLimit.store(static_cast<double>(tune.frames()) / tune.rate());
        return true;
    }

    void startDecoder() {
        decoder = std::thread([this] { decode(); });
    }

    // --- Clock -------------------------------------------------------------

    double clockAt(int64_t now) const {
        const double elapsed =
            std::max<int64_t>(0, now - clockBaseTime.load(std::memory_order_relaxed)) * 1e-9;
        const double p = clockBase.load(std::memory_order_relaxed) +
                         clockRate.load(std::memory_order_relaxed) * elapsed;
        return std::min(p, clockLimit.load(std::memory_order_relaxed));
    }

    // Lock-free read of the position being heard.
    double position() const {
        for (;;) {
            const uint32_t before = clockSequence.load(std::memory_order_acquire);
            if (before & 1u)
                continue;
            const double p = clockAt(steadyNow());
            std::atomic_thread_fence(std::memory_order_acquire);
            if (clockSequence.load(std::memory_order_relaxed) == before)
                return p;
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
        if (error > RESYNC_SECONDS) {
            setClock(heard, now, 1.0);
        } else if (error < -RESYNC_SECONDS) {
            setClock(clock, now, 0.0);
        } else {
            setClock(clock, now,
                     std::clamp(1.0 + error / SETTLE_SECONDS, 1.0 - MAX_SLEW, 1.0 + MAX_SLEW));
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
        if (seconds < clockLimit.load(std::memory_order_relaxed))
            endReported = false;
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
            if (!pacedByClock)
                reposition(heard);
        }
        wake.notify_all();
    }

    void seek(double seconds) {
        if (!(seconds >= 0.0))
            seconds = 0.0; // also not a number
        {
            std::lock_guard<std::mutex> guard(lock);
            seconds = std::min({seconds, clockLimit.load(std::memory_order_relaxed), LONGEST_TUNE});
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
        std::vector<float> pending; // converted frames not yet in the ring
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
                fileDone = !tune.seek(resampler.restart(target));
                if (fileDone)
                    resampler.finish();
                pending.clear();
                pendingFrame = 0;
                guard.lock();
                continue;
            }
            const size_t pendingFrames = pending.size() / OUTPUT_CHANNELS - pendingFrame;
            if (pendingFrames > 0) {
                const uint64_t space = ringFrames - (writeIndex - readIndex);
                if (space == 0) {
                    wake.wait(guard);
                    continue;
                }
                const uint64_t count = std::min<uint64_t>(space, pendingFrames);
                ringWrite(pending.data() + pendingFrame * OUTPUT_CHANNELS, count);
                pendingFrame += count;
                continue;
            }
            if (fileDone) {
                if (!decoderDone)
                    finish();
                wake.wait(guard);
                continue;
            }
            guard.unlock();
            fileDone = !decodeChunk();
            pending.clear();
            pendingFrame = 0;
            resampler.get(pending);
            guard.lock();
            if (decoding != generation)
                pending.clear();
        }
    }

    // Decoder thread, not holding lock: feeds the next chunk of the tune,
    // as stereo, to the resampler. Returns false at the end of the tune.
    bool decodeChunk() {
        const int channels = tune.channels();
        input.resize(static_cast<size_t>(DECODE_CHUNK) * channels);
        stereo.resize(static_cast<size_t>(DECODE_CHUNK) * OUTPUT_CHANNELS);
        const int64_t read = tune.read(input.data(), DECODE_CHUNK);
        if (read <= 0) {
            resampler.finish();
            return false;
        }
        // Mono plays on both sides; beyond two channels the first two,
        // front left and right, are played.
        for (int64_t f = 0; f < read; ++f) {
            stereo[f * 2] = input[f * channels];
            stereo[f * 2 + 1] = input[f * channels + (channels > 1 ? 1 : 0)];
        }
        resampler.put(stereo.data(), static_cast<size_t>(read));
        return true;
    }

    // --- Ring ---------------------------------------------------------------

    // Calls copy(ring frame, data frame, frames) for each of the one or two
    // runs that count frames from ring index make, wrapping round.
    template <class Copy>
    void ringRuns(uint64_t index, uint64_t count, Copy copy) const {
        const uint64_t at = index % ringFrames;
        const uint64_t first = std::min(count, ringFrames - at);
        copy(at, 0, first);
        if (first < count)
            copy(0, first, count - first);
    }

    // Holding lock: appends count frames to the ring, which has room.
    void ringWrite(const float* frames, uint64_t count) {
        assert(count <= ringFrames - (writeIndex - readIndex));
        ringRuns(writeIndex, count, [&](uint64_t at, uint64_t from, uint64_t n) {
            std::memcpy(&ring[at * OUTPUT_CHANNELS], frames + from * OUTPUT_CHANNELS,
                        n * OUTPUT_CHANNELS * sizeof(float));
        });
        writeIndex += count;
    }

    // Holding lock: copies the first count frames of the ring, which holds
    // them, to out (they stay in the ring).
    void ringRead(float* out, uint64_t count) const {
        assert(count <= writeIndex - readIndex);
        ringRuns(readIndex, count, [&](uint64_t at, uint64_t to, uint64_t n) {
            std::memcpy(out + to * OUTPUT_CHANNELS, &ring[at * OUTPUT_CHANNELS],
                        n * OUTPUT_CHANNELS * sizeof(float));
        });
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

    // Plays the frames due to the device, or silence, and reports the end
    // of the tune once.
    void render(float* out, int frames) {
        const int64_t now = steadyNow();
        bool reachedEnd = false;
        {
            std::lock_guard<std::mutex> guard(lock);
            reachedEnd = pacedByClock ? renderPacedByClock(out, frames, now)
                                      : renderToDevice(out, frames, now);
            if (reachedEnd && !endReported) {
                endReported = true;
            } else {
                reachedEnd = false;
            }
        }
        wake.notify_one();
        if (reachedEnd && onEnd)
            onEnd(onEndUser);
    }

    // Holding lock. The dummy device: the clock decides what has been
    // heard, and the device gets silence. Returns whether the tune is over.
    bool renderPacedByClock(float* out, int frames, int64_t now) {
        const uint64_t available = writeIndex - readIndex;
        const int64_t target = static_cast<int64_t>(std::floor(clockAt(now) * frequency));
        const uint64_t taken = std::min<uint64_t>(
            available, static_cast<uint64_t>(std::max<int64_t>(0, target - readFrame)));
        readIndex += taken;
        readFrame += static_cast<int64_t>(taken);
        std::memset(out, 0, static_cast<size_t>(frames) * OUTPUT_CHANNELS * sizeof(float));
        return decoderDone && taken == available &&
               clockAt(now) >= clockLimit.load(std::memory_order_relaxed);
    }

    // Holding lock. A real device: hands it the next frames and steers the
    // clock by them. Returns whether the tune is over.
    bool renderToDevice(float* out, int frames, int64_t now) {
        const uint64_t available = writeIndex - readIndex;
        uint64_t taken = std::min<uint64_t>(available, static_cast<uint64_t>(frames));
        if (taken < std::min<uint64_t>(frames, ringFrames) && !decoderDone) {
            // The decoder is behind (just after a seek or resume, or starved
            // of time): part of the tune and then silence would cut a gap
            // into it while the clock runs on. Play silence instead and hold
            // the clock until a whole buffer is ready; the tune then goes on
            // without a gap.
            taken = 0;
            if (!armed) {
                armed = true;
                setClock(clockAt(now), now, 0.0);
            }
        }
        ringRead(out, taken);
        std::memset(out + taken * OUTPUT_CHANNELS, 0,
                    (frames - taken) * OUTPUT_CHANNELS * sizeof(float));
        if (taken > 0)
            followDevice(readFrame, now);
        readIndex += taken;
        readFrame += static_cast<int64_t>(taken);
        // Everything was handed over by earlier callbacks and has now been
        // played.
        const bool reachedEnd = decoderDone && available == 0;
        if (reachedEnd && !endReported)
            setClock(readFrame / frequency, now, 0.0);
        applyVolume(out, frames);
        return reachedEnd;
    }

    // Scales the buffer by the volume, ramping over it after a change so
    // that muting does not click.
    void applyVolume(float* out, int frames) {
        const float target = targetVolume.load(std::memory_order_relaxed);
        const float from = currentVolume;
        currentVolume = target;
        if (from == 1.0f && target == 1.0f)
            return;
        for (int i = 0; i < frames; ++i) {
            const float gain =
                from + (target - from) * static_cast<float>(i + 1) / static_cast<float>(frames);
            out[i * OUTPUT_CHANNELS] *= gain;
            out[i * OUTPUT_CHANNELS + 1] *= gain;
        }
    }
};

void SDLCALL Music::Device::feed(void* user, Uint8* bytes, int length) {
    auto* self = static_cast<Device*>(user);
    float* out = reinterpret_cast<float*>(bytes);
    const int frames = length / static_cast<int>(OUTPUT_CHANNELS * sizeof(float));
    if (self->stream) {
        self->stream->render(out, frames);
    } else {
        std::memset(bytes, 0, static_cast<size_t>(length));
    }
}

// ---------------------------------------------------------------------------
// [SECTION] Music

Music::Music() : playing(false), silenceToggle(false), ended(false), volumeLevel(1.0f) {}

Music::~Music() {
    cleanUp();
}

bool Music::initialize(int frequency, std::string file) {
    cleanUp();
    failureText.clear();
    if (frequency < LOWEST_RATE || frequency > HIGHEST_RATE) {
        failureText = "the output frequency " + std::to_string(frequency) + " Hz is out of range";
        return false;
    }
    auto output = std::make_unique<Device>();
    if (!output->open(frequency)) {
        failureText = "no sound device, not even a silent one, can be opened";
        return false;
    }
    auto stream = std::make_unique<Stream>();
    if (!stream->open(file, *output)) {
        failureText = "the tune \"" + file + "\" " + stream->tune.failure();
        return false;
    }
    stream->onEnd = &Music::musicEndCallback;
    stream->onEndUser = this;
    stream->targetVolume.store(volumeLevel);
    stream->currentVolume = volumeLevel;
    stream->startDecoder();
    output->attach(stream.get());
    device = std::move(output);
    channel = std::move(stream);
    // A player that already considers itself playing plays the new tune.
    if (playing)
        channel->start();
    return true;
}

void Music::play() {
    if (!playing && channel)
        channel->start();
    playing = true;
}

void Music::pause() {
    if (!playing)
        return;
    if (channel)
        channel->stop();
    playing = false;
}

bool Music::isPlaying() {
    return playing;
}

double Music::position() {
    return channel ? channel->position() : 0.0;
}

void Music::seek(double seconds) {
    if (channel)
        channel->seek(seconds);
}

bool Music::hasMusicEnded() {
    return ended.load();
}

void Music::silence() {
    silenceToggle = !silenceToggle;
    volumeLevel = silenceToggle ? 0.0f : 1.0f;
    if (channel)
        channel->targetVolume.store(volumeLevel);
}

const std::string& Music::failure() const {
    return failureText;
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
