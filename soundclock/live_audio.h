// The live side of soundclock: Ctrl-C, the signal played on a device
// without gaps, a device's capture fed to a measure session, and the
// capture kept as a WAV file. Portable: the device is only an AudioStream.
#pragma once

#include "audio/audio_device.h"
#include "soundclock/text_format.h"
#include "soundclock/measure_session.h"
#include "soundclock/options.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Ctrl-C (SIGINT, std::signal on both platforms): the first asks the run
// to end with its result; a second ends the program as usual.
void CatchInterrupt();
bool Interrupted();

// Waits on a device are this long at a time, so Ctrl-C and a stop are
// seen within it.
constexpr int DEVICE_WAIT_MS = 200;
// A device that takes or gives nothing for this long counts as lost.
constexpr double DEVICE_SILENT_LIMIT_S = 5;

// How a run on a device ended.
struct DeviceRunEnd {
    enum Kind { Complete, Interrupted, Stopped, Lost } kind = Complete;
    std::string text;    // Lost: the device's words
    double seconds = 0;  // of the stream, when it ended
};

// A WAV file written as the samples come; the header gets its sizes when
// it is closed (on Ctrl-C too).
class WavWriter {
public:
    ~WavWriter() { Close(); }
    bool Open(const std::string& path, int sampleRate);
    bool Write(const int16_t* samples, size_t count);
    bool Close();

private:
    std::FILE* file = nullptr;
    int sampleRate = 0;
    uint64_t bytes = 0;
    bool failed = false;
};

// Reads `stream` into `session` until `limit` samples, Ctrl-C, `stop()`,
// or the device is lost; overruns are reported (and counted in the
// session's facts) at their time in the recording. Between reads,
// `between()` may report what other threads saw.
DeviceRunEnd CaptureInto(AudioStream& stream, MeasureSession& session, uint64_t limit, WavWriter* save,
                         const std::function<bool()>& stop, const std::function<void()>& between);

// Plays the test signal on `stream` until `limit` samples (then waits for
// them to play), Ctrl-C, `stop()`, or the device is lost; each underrun
// goes to `underrun` with its time in the signal.
DeviceRunEnd PlaySignal(AudioStream& stream, const SignalChoice& signal, uint64_t limit, const std::function<bool()>& stop,
                        const std::function<void(const AudioXrun&)>& underrun);

// "device lost at 20.31 s of the recording: TEXT" (`stream`: "recording"
// or "signal").
std::string LostText(const char* stream, const DeviceRunEnd& end);
