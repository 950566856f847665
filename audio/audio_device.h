// soundclock's sound devices: one small interface, one backend per platform
// (ALSA on Linux, winmm on Windows), chosen by the build. Everything above
// this header (the commands, the meter) sees only these types and never
// knows which backend runs.
//
// A stream runs at one sample rate, with Channels() channels in a layout
// the device offers (DeviceEncoding()); both are settled when it opens.
//   A capture opens at least the channels asked for (the caller wants
//   channel N: it asks for N), more where the device's least is more, in
//   the widest integer layout the device offers (32-bit, then 24-bit in 3
//   or 4 bytes, then 16-bit; 32-bit float where that is all). Read gives
//   interleaved frames of Channels() int32_t samples at full scale 2^31
//   (a 16-bit sample shifted up 16 bits, a 24-bit one 8 bits).
//   A playback opens the channels asked for, or the device's least where
//   it takes no fewer; Write takes interleaved frames of Channels() 16-bit
//   samples (the caller puts a mono signal on the channels it chooses:
//   SpreadMono in common/sample_format.h) and converts them where the
//   device refuses 16-bit samples.
// Every call that waits on the device takes a deadline, so a device that
// stops answering (a USB card pulled out, an audio server gone) gives an
// error instead of a hang.
#pragma once

#include "audio/stream_life.h"
#include "audio/stream_timeline.h"
#include "common/sample_format.h"

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

// How far the lateness of a stream's clock points may drift over a run
// without any of them showing it, as a standard uncertainty in seconds (a
// rate taken from them allows for it). Through an audio server the points
// follow the server's wake-ups, which drift together; a card's own driver
// stamps its interrupts, which wander far less.
// Why 0.2 ms and 0.02 ms: docs/accuracy.md#server-lateness-drift
constexpr double SERVER_LATENESS_DRIFT_S = 2e-4;
constexpr double CARD_LATENESS_DRIFT_S = 2e-5;

enum class AudioResult {
    Ok,        // the call did what it could (see the count)
    Timeout,   // the deadline passed with nothing done
    Lost,      // the device is gone or failed for good: ErrorText() says why
};

// What capture and playback streams share: the format, the clock, the end.
class AudioStream {
public:
    virtual ~AudioStream() = default;
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    AudioDirection Direction() const { return direction; }
    int SampleRate() const { return sampleRate; }
    int Channels() const { return channels; }
    // The layout the device gives or takes (the stream converts to and
    // from it), and both for messages: "2 channels, 24-bit".
    SampleEncoding DeviceEncoding() const { return encoding; }
    std::string FormatWords() const;

    // Ends the stream at once (what is queued is dropped). Idempotent.
    virtual void Stop() = 0;

    // The xruns and clock points since the last call, oldest first.
    std::vector<AudioXrun> TakeXruns() { return timeline.TakeXruns(); }
    std::vector<AudioClockPoint> TakeClockPoints() { return timeline.TakeClockPoints(); }
    // Their lateness's unseen drift over a run (above); a server's unless
    // the backend knows its points come from the card.
    virtual double LatenessDriftSeconds() const { return SERVER_LATENESS_DRIFT_S; }
    // Whether the clock points time the card itself: not where the backend
    // knows they time something else (a playback under Wine: its buffers
    // come back when Wine's driver takes them, not when they play).
    virtual bool ClockPointsTimeTheCard() const { return true; }

    // The error that lost the stream, in the device's own words (with what
    // was asked).
    std::string ErrorText() const { return life.Words(); }

protected:
    AudioStream(AudioDirection direction, int sampleRate) : timeline(sampleRate), direction(direction), sampleRate(sampleRate) {}
    // Set once the device has accepted a format.
    void SetLayout(int channelCount, SampleEncoding deviceEncoding)
    {
        channels = channelCount;
        encoding = deviceEncoding;
    }

    StreamTimeline timeline;
    StreamLife life;

private:
    AudioDirection direction;
    int sampleRate;
    int channels = 1;
    SampleEncoding encoding = SampleEncoding::S16;
};

class AudioCapture : public AudioStream {
public:
    // Up to `frames` frames into `samples` (frames x Channels() samples),
    // waiting at most `timeoutMs` for the first; `done` gets the frames
    // read. The device records from the first call on (a call for 0 frames
    // starts it).
    virtual AudioResult Read(int32_t* samples, size_t frames, size_t& done, int timeoutMs) = 0;

protected:
    explicit AudioCapture(int sampleRate) : AudioStream(AudioDirection::Capture, sampleRate) {}
};

class AudioPlayback : public AudioStream {
public:
    // Up to `frames` frames of `samples` (frames x Channels() samples),
    // waiting at most `timeoutMs` for room; `done` gets the frames queued.
    virtual AudioResult Write(const int16_t* samples, size_t frames, size_t& done, int timeoutMs) = 0;
    // Waits up to `timeoutMs` until what was written has played.
    virtual AudioResult Drain(int timeoutMs) = 0;

protected:
    explicit AudioPlayback(int sampleRate) : AudioStream(AudioDirection::Playback, sampleRate) {}
};

class AudioSystem {
public:
    virtual ~AudioSystem() = default;

    // The backend this build has ("ALSA", "winmm").
    virtual std::string Name() const = 0;
    virtual std::vector<AudioDeviceInfo> Devices(AudioDirection direction) = 0;
    // `device` is an index from Devices() or a name; empty opens the
    // default. Null on failure, with `error` in the device's own words and
    // what was asked (device, direction, channels, rate).
    virtual std::unique_ptr<AudioCapture> OpenCapture(const std::string& device, int sampleRate, int leastChannels,
                                                      std::string& error) = 0;
    virtual std::unique_ptr<AudioPlayback> OpenPlayback(const std::string& device, int sampleRate, int channels,
                                                        std::string& error) = 0;
};

// The backend of this build.
std::unique_ptr<AudioSystem> MakeAudioSystem();

// The channels a stream is opened with for `needed` of them: one for one
// (a sound server gives the mix of its channels, or plays it on all), and
// for more the first of 2, 4, 6 or 8 that holds them (more than 8:
// `needed`). Those are the counts whose order every layer agrees on (ALSA,
// the sound servers, Windows); a stream of another count a sound server
// remixes, and channel N would no longer be the card's channel N. So a
// caller that wants the card's own channel 1 asks for two. A device that
// takes none of them is opened with the fewest it takes.
int LayoutChannels(int needed);

// "1 channel", "2 channels": for the backends' messages.
std::string ChannelWords(int channels);
