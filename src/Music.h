#pragma once

// The music player: plays the demo's one tune and is the demo's clock.
//
// Use: initialize(frequency, file) once, then play(), pause(), seek() and
// position() from the main thread, and cleanUp() last. The tune (MP3, OGG,
// FLAC, WAV or AIFF) is decoded on a background thread a little ahead of
// the audio device, converted to the device's rate, and handed to the device
// from its own thread. position() is the position being heard: it advances
// smoothly with a steady clock between device callbacks, stands still while
// paused, and stops at the tune's length when the tune has played out.
//
// When no output device can be opened the tune plays silently in real time
// on a dummy device, so the demo still runs in step. When the file cannot be
// decoded, initialize() returns false (failure() says why) and every other
// call stays harmless: nothing plays and the position stays at 0.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace Tolvane {

class Music {
public:
    Music();
    ~Music();

    // Opens the output device at frequency Hz (stereo) and the tune file.
    // Returns false, with nothing left open, when either fails.
    bool initialize(int frequency, std::string file);
    // Why the last initialize() failed, as a sentence without its full stop.
    const std::string& failure() const;

    // Starts or resumes playback unless already playing.
    void play();
    // Pauses playback when playing; the position stays where it was heard.
    void pause();
    bool isPlaying();

    // The position being heard, in seconds of the tune.
    double position();
    // Moves playback to seconds (clamped to the tune); does not start or
    // pause it.
    void seek(double seconds);

    // True once playback has reached the end of the tune; never cleared.
    bool hasMusicEnded();

    // Alternately mutes (first call) and restores the tune's volume.
    void silence();
    // The volume the last silence() call set: 1.0 before any call.
    float volume() const;

    // Releases the stream, then the output device.
    void cleanUp();

    // The linked audio back end's version: major << 24 | minor << 16 |
    // patch << 8.
    static uint32_t backendVersion();

    // The end-of-tune notification, called on the audio thread with the
    // Music object as user; it only sets the ended flag.
    static void musicEndCallback(void* user);

private:
    struct Device;
    struct Stream;

    // Members are destroyed in reverse order: the stream before the device.
    std::unique_ptr<Device> device;
    std::unique_ptr<Stream> channel;
    bool playing;
    bool silenceToggle;
    std::atomic<bool> ended;
    float volumeLevel;
    std::string failureText;
};

} // namespace Tolvane
