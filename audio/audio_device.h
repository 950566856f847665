// soundclock's sound devices: one small interface, one backend per platform
// (ALSA on Linux, winmm on Windows), chosen by the build. Everything above
// this header (the commands, the meter) sees only these types and never
// knows which backend runs.
//
// Streams are 16-bit mono at one sample rate. Every call that waits on the
// device takes a deadline, so a device that stops answering (a USB card
// pulled out, an audio server gone) gives an error instead of a hang.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class AudioDirection { Playback, Capture };

struct AudioDeviceInfo {
    int index = 0;            // what --device N opens
    std::string name;         // what --device NAME opens (ALSA: the PCM name)
    std::string description;  // for people
    bool isDefault = false;
};

// An underrun (playback) or overrun (capture): samples the device did not
// get or could not keep.
struct AudioXrun {
    uint64_t frame = 0;   // the stream position where it happened
    double seconds = 0;   // the same in seconds of the stream
};

// Where the stream was at a moment of the system's monotonic clock: the
// frames the device had played or captured by then. Taken where the sound
// system stamps it itself (ALSA: the status's timestamp; winmm: the
// performance counter when a buffer comes back), once per period.
// `segment` goes up by one after each xrun: the stream's position keeps
// counting, but what the card did meanwhile is unknown.
struct AudioClockPoint {
    uint64_t frames = 0;
    double systemSeconds = 0;
    uint32_t segment = 0;
};

// How far the lateness of a stream's clock points may drift over a run
// without any of them showing it, as a standard uncertainty in seconds (a
// rate taken from them allows for it). Through an audio server the points
// follow the server's wake-ups: on the shared 2-core test machine the
// least late points of every stream on both servers moved together by up
// to 0.2 ms over a minute, and repeated minutes scattered accordingly. A
// card's own driver stamps its interrupts, which wander far less (not
// measured here: no card).
constexpr double SERVER_LATENESS_DRIFT_S = 2e-4;
constexpr double CARD_LATENESS_DRIFT_S = 2e-5;

enum class AudioResult {
    Ok,        // the call did what it could (see the count)
    Timeout,   // the deadline passed with nothing done
    Lost,      // the device is gone or failed for good: ErrorText() says why
};

class AudioStream {
public:
    virtual ~AudioStream() = default;

    int SampleRate() const { return sampleRate; }
    AudioDirection Direction() const { return direction; }

    // Capture: up to `count` samples into `samples`, waiting at most
    // `timeoutMs` for the first; `done` gets the number read.
    virtual AudioResult Read(int16_t* samples, size_t count, size_t& done, int timeoutMs) = 0;
    // Playback: up to `count` samples, waiting at most `timeoutMs` for room;
    // `done` gets the number queued.
    virtual AudioResult Write(const int16_t* samples, size_t count, size_t& done, int timeoutMs) = 0;
    // Playback: waits up to `timeoutMs` until what was written has played.
    virtual AudioResult Drain(int timeoutMs) = 0;
    // Ends the stream at once (what is queued is dropped). Idempotent.
    virtual void Stop() = 0;

    // The xruns and clock points since the last call, oldest first.
    virtual std::vector<AudioXrun> TakeXruns() = 0;
    virtual std::vector<AudioClockPoint> TakeClockPoints() = 0;
    // Their lateness's unseen drift over a run (above); a server's unless
    // the backend knows its points come from the card.
    virtual double LatenessDriftSeconds() const { return SERVER_LATENESS_DRIFT_S; }

    // The last error in the device's own words (with what was asked).
    virtual std::string ErrorText() const = 0;

protected:
    AudioStream(AudioDirection direction, int sampleRate) : direction(direction), sampleRate(sampleRate) {}

private:
    AudioDirection direction;
    int sampleRate;
};

class AudioSystem {
public:
    virtual ~AudioSystem() = default;

    // The backend this build has ("ALSA", "winmm").
    virtual std::string Name() const = 0;
    virtual std::vector<AudioDeviceInfo> Devices(AudioDirection direction) = 0;
    // `device` is an index from Devices() or a name; empty opens the
    // default. Null on failure, with `error` in the device's own words and
    // what was asked (device, direction, rate).
    virtual std::unique_ptr<AudioStream> Open(AudioDirection direction, const std::string& device, int sampleRate,
                                              std::string& error) = 0;
};

// The backend of this build.
std::unique_ptr<AudioSystem> MakeAudioSystem();
