// The live side of soundclock: Ctrl-C, the signal played on a device
// without gaps, a device's capture fed to a measure session, and the
// capture kept as a WAV file. Portable: the device is only an AudioCapture
// or AudioPlayback.
#pragma once

#include "audio/audio_device.h"
#include "soundclock/text_format.h"
#include "soundclock/measure_session.h"
#include "soundclock/options.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Ctrl-C (SIGINT, std::signal on both platforms): the first asks the run
// to end with its result; a second ends the program as usual.
void CatchInterrupt();
bool Interrupted();

// Waits on a device are this long at a time, so Ctrl-C and a stop are
// seen within it.
constexpr int DEVICE_WAIT_MS = 200;
// A device that takes or gives nothing for this long counts as lost.
constexpr double DEVICE_SILENT_LIMIT_S = 5;

// How long a device has moved no samples, call after call: one idle for
// DEVICE_SILENT_LIMIT_S counts as lost.
class IdleWatch {
public:
    // Before a call on the device.
    void Start() { before = std::chrono::steady_clock::now(); }
    // After it, with the samples it moved: true once the device has been
    // idle too long.
    bool TooLong(size_t moved)
    {
        idleSeconds = moved > 0 ? 0 : idleSeconds + std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        return idleSeconds > DEVICE_SILENT_LIMIT_S;
    }

private:
    std::chrono::steady_clock::time_point before;
    double idleSeconds = 0;
};

// How a run on a device ended.
struct DeviceRunEnd {
    enum Kind { Complete, Interrupted, Stopped, Lost } kind = Complete;
    std::string text;    // Lost: the device's words
    double seconds = 0;  // of the stream, when it ended
};

// A WAV file written as the frames come, at the device's resolution and
// channels; the header gets its sizes when it is closed (on Ctrl-C too).
class WavWriter {
public:
    ~WavWriter() { Close(); }
    bool Open(const std::string& path, int sampleRate, int channels, SampleEncoding encoding);
    // `frames` frames of the channels given to Open, at full scale 2^31.
    bool Write(const int32_t* samples, size_t frames);
    bool Close();

private:
    std::FILE* file = nullptr;
    int sampleRate = 0;
    int channels = 1;
    SampleEncoding encoding = SampleEncoding::S16;
    uint64_t bytes = 0;
    bool failed = false;
};

// Where a capture's frames go as they are read.
struct CaptureSink {
    // `count` interleaved frames of `channels` samples, full scale 2^31.
    std::function<void(const int32_t* frames, size_t count, int channels)> frames;
    // An overrun: samples the capture lost, at this position.
    std::function<void(const AudioXrun& xrun)> overrun;
};

// Reads `stream` into `sink` (and `save`, when given) until `limit`
// frames, Ctrl-C, `stop()`, or the device is lost. Between reads,
// `between()` may report what other threads saw.
DeviceRunEnd CaptureFrames(AudioCapture& stream, const CaptureSink& sink, uint64_t limit, WavWriter* save,
                           const std::function<bool()>& stop, const std::function<void()>& between);

// The same into a measure session, channel `channel` (0-based) as 16-bit;
// overruns are reported and counted in the session's facts.
DeviceRunEnd CaptureInto(AudioCapture& stream, MeasureSession& session, int channel, uint64_t limit, WavWriter* save,
                         const std::function<bool()>& stop, const std::function<void()>& between);

// The channels to ask a capture for, to take `channel` (0-based; -1: not
// given, the device's mix will do): the card's own channel N needs at least
// two (audio_device.h: LayoutChannels).
int CaptureChannels(int channel);

// Channel `channel` of `count` frames of `channels` samples (full scale
// 2^31), as 16-bit samples or at full scale 1.0.
void TakeChannel(const int32_t* frames, size_t count, int channels, int channel, int16_t* out);
void TakeChannel(const int32_t* frames, size_t count, int channels, int channel, float* out);

// "overrun at 12.34 s of the recording: the capture lost samples there"
std::string OverrunText(const AudioXrun& xrun);

// A sink that hands channel `channel` of the frames to `push`, as 16-bit
// samples or at full scale 1.0 (Sample: int16_t or float).
template <typename Sample>
CaptureSink ChannelSink(int channel, std::function<void(const Sample*, size_t)> push,
                        std::function<void(const AudioXrun&)> overrun)
{
    auto samples = std::make_shared<std::vector<Sample>>();
    CaptureSink sink;
    sink.frames = [channel, samples, push = std::move(push)](const int32_t* frames, size_t count, int channels) {
        samples->resize(count);
        TakeChannel(frames, count, channels, channel, samples->data());
        push(samples->data(), count);
    };
    sink.overrun = std::move(overrun);
    return sink;
}

// Plays the test signal on `stream` until `limit` samples (then waits for
// them to play), Ctrl-C, `stop()`, or the device is lost; each underrun
// goes to `underrun` with its time in the signal.
// `signalChannels`: the channels that play it (bit c: channel c), silence
// on the others.
DeviceRunEnd PlaySignal(AudioPlayback& stream, const SignalChoice& signal, uint64_t limit, const std::function<bool()>& stop,
                        const std::function<void(const AudioXrun&)>& underrun, uint32_t signalChannels = ALL_CHANNELS);

// Writes up to `count` samples of a mono signal, on every channel of
// `stream`; `done` gets the samples taken. `frames` is scratch.
AudioResult WriteMono(AudioPlayback& stream, const int16_t* mono, size_t count, size_t& done, int timeoutMs,
                      std::vector<int16_t>& frames, uint32_t signalChannels = ALL_CHANNELS);

// "device lost at 20.31 s of the recording: TEXT" (`stream`: "recording"
// or "signal").
std::string LostText(const char* stream, const DeviceRunEnd& end);

// What a capture's end means for the result: why it covers only part of
// the run (a device lost; empty otherwise), and what to say of it (empty:
// nothing), always (a loss) or as a report (Ctrl-C).
struct EndWords {
    std::string partial;
    std::string say;
    bool always = false;
};
EndWords CaptureEndWords(const DeviceRunEnd& end);

// A capture's end told: the saved recording closed (`save` may be null),
// the end's words in the session's facts and lines. Session: one with
// Say(text, always) and Facts().partial (MeasureSession, ReferenceSession).
template <class Session>
void SayCaptureEnd(Session& session, const DeviceRunEnd& end, WavWriter* save, const std::string& savePath)
{
    if (save != nullptr && !save->Close())
        session.Say("writing " + savePath + " failed", true);
    const EndWords words = CaptureEndWords(end);
    session.Facts().partial = words.partial;
    if (!words.say.empty())
        session.Say(words.say, words.always);
}
