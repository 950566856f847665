// The Linux backend: ALSA through libasound. It reaches bare cards
// (hw:..., plughw:...) and, through ALSA's plugins, the sound servers
// (default, pulse, pipewire).
//
// Every stream is opened non-blocking; a call that has to wait does so in
// snd_pcm_wait with what is left of its deadline, so a device that stops
// answering gives Timeout, never a hang. An xrun (EPIPE) or a suspend
// (ESTRPIPE) is recovered and reported with the stream's position; an
// error that cannot be recovered (ENODEV, EBADFD, EIO, a failed resume or
// prepare, ...) makes the stream Lost, with the device's own words.
#include "audio/audio_device.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// ALSA's library writes its own diagnostics ("Unknown PCM nosuch") to
// standard error. They are the device's own words: kept, per thread, for
// the error text instead.
thread_local std::string lastLibraryMessage;

void KeepLibraryMessage(const char*, int, const char*, int, const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    lastLibraryMessage = text;
}

void TakeOverLibraryMessages()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(KeepLibraryMessage); });
}

// snd_strerror(err), and what the library said about it, if anything.
std::string ErrorWords(int err)
{
    std::string text = snd_strerror(err);
    if (!lastLibraryMessage.empty()) {
        text += " (ALSA: " + lastLibraryMessage + ")";
        lastLibraryMessage.clear();
    }
    return text;
}

const char* DirectionWord(AudioDirection direction)
{
    return direction == AudioDirection::Playback ? "playback" : "capture";
}

std::string Quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

// The ALSA hint's description: lines joined.
std::string OneLine(const char* text)
{
    std::string line;
    for (const char* c = text; *c != '\0'; ++c)
        if (*c == '\n')
            line += ", ";
        else
            line += *c;
    return line;
}

// Frames per period and in the buffer, as asked (the device picks the
// nearest it can): short periods so that positions and xruns are seen
// early; enough buffer to ride out a busy moment.
constexpr unsigned PERIOD_US = 20000;
constexpr unsigned PLAYBACK_BUFFER_US = 250000;
constexpr unsigned CAPTURE_BUFFER_US = 500000;
// Clock points kept between two TakeClockPoints calls, at most.
constexpr size_t CLOCK_POINT_LIMIT = 1 << 16;

class AlsaStream : public AudioStream {
public:
    AlsaStream(AudioDirection direction, int sampleRate, snd_pcm_t* pcm, std::string name, snd_pcm_uframes_t period)
        : AudioStream(direction, sampleRate), pcm(pcm), name(std::move(name)), period(period)
    {
    }
    ~AlsaStream() override
    {
        Stop();
        snd_pcm_close(pcm);
    }

    AudioResult Read(int16_t* samples, size_t count, size_t& done, int timeoutMs) override
    {
        done = 0;
        if (lost)
            return AudioResult::Lost;
        if (Direction() != AudioDirection::Capture)
            return Misuse("Read on a playback stream");
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
            const int err = snd_pcm_start(pcm);
            if (err < 0 && !Recover(err))
                return AudioResult::Lost;
        }
        while (count > 0) {
            const snd_pcm_sframes_t got = snd_pcm_readi(pcm, samples, count);
            if (got > 0) {
                done = static_cast<size_t>(got);
                frames += done;
                NoteClockPoint();
                return AudioResult::Ok;
            }
            const AudioResult waited = got == -EAGAIN || got == 0 ? WaitUntil(deadline) : RecoverOrLose(static_cast<int>(got));
            if (waited != AudioResult::Ok)
                return waited;
            if (interrupted) {  // a signal: back to the caller, which may want to stop
                interrupted = false;
                return AudioResult::Ok;
            }
        }
        return AudioResult::Ok;
    }

    AudioResult Write(const int16_t* samples, size_t count, size_t& done, int timeoutMs) override
    {
        done = 0;
        if (lost)
            return AudioResult::Lost;
        if (Direction() != AudioDirection::Playback)
            return Misuse("Write on a capture stream");
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (count > 0) {
            const snd_pcm_sframes_t put = snd_pcm_writei(pcm, samples, count);
            if (put > 0) {
                done = static_cast<size_t>(put);
                frames += done;
                NoteClockPoint();
                return AudioResult::Ok;
            }
            const AudioResult waited = put == -EAGAIN || put == 0 ? WaitUntil(deadline) : RecoverOrLose(static_cast<int>(put));
            if (waited != AudioResult::Ok)
                return waited;
            if (interrupted) {  // a signal: back to the caller, which may want to stop
                interrupted = false;
                return AudioResult::Ok;
            }
        }
        return AudioResult::Ok;
    }

    AudioResult Drain(int timeoutMs) override
    {
        if (lost)
            return AudioResult::Lost;
        if (Direction() != AudioDirection::Playback || frames == 0)
            return AudioResult::Ok;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        // Less than a buffer written: the stream waits for its start
        // threshold; start it by hand.
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
            const int err = snd_pcm_start(pcm);
            if (err < 0)
                return Lose(err, "starting");
        }
        // Not snd_pcm_drain: in non-blocking mode the plugins differ in
        // how its end shows, and some (pulse) never let the delay reach
        // nothing. What is queued has played once the delay is gone, the
        // stream has run dry (the underrun at the end is the end, not an
        // xrun), or the time it takes to play has passed.
        snd_pcm_sframes_t queued = 0;
        int err = snd_pcm_delay(pcm, &queued);
        if (err == -EPIPE || (err == 0 && queued <= 0))
            return AudioResult::Ok;
        if (err < 0)
            return Lose(err, "draining");
        const auto playedOut = Clock::now() + std::chrono::milliseconds(1000 * queued / SampleRate() + 100);
        if (playedOut > deadline)
            return AudioResult::Timeout;
        while (Clock::now() < playedOut) {
            snd_pcm_sframes_t delay = 0;
            err = snd_pcm_delay(pcm, &delay);
            if (err == -EPIPE || (err == 0 && delay <= 0))
                return AudioResult::Ok;
            if (err < 0 && err != -EAGAIN)
                return Lose(err, "draining");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return AudioResult::Ok;
    }

    void Stop() override
    {
        if (!stopped)
            snd_pcm_drop(pcm);
        stopped = true;
    }

    std::vector<AudioXrun> TakeXruns() override
    {
        std::vector<AudioXrun> taken;
        taken.swap(xruns);
        return taken;
    }

    std::vector<AudioClockPoint> TakeClockPoints() override
    {
        std::vector<AudioClockPoint> taken;
        taken.swap(points);
        return taken;
    }

    std::string ErrorText() const override { return error; }

private:
    AudioResult Misuse(const std::string& what)
    {
        error = what;
        return AudioResult::Lost;
    }

    // Waits for the device until `deadline`: Ok when it is ready (or a
    // signal came: the caller may want to look at its flags), Timeout,
    // or Lost.
    AudioResult WaitUntil(Clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return AudioResult::Timeout;
        const int ready = snd_pcm_wait(pcm, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready >= 0)
            return AudioResult::Ok;
        if (ready == -EINTR) {
            interrupted = true;
            return AudioResult::Ok;
        }
        return RecoverOrLose(ready);
    }

    AudioResult RecoverOrLose(int err) { return Recover(err) ? AudioResult::Ok : AudioResult::Lost; }

    // An xrun or a suspend: reported, and the stream prepared again
    // (capture also started again). False, with the stream lost, for
    // anything else or when that fails.
    bool Recover(int err)
    {
        if (err == -EPIPE || err == -ESTRPIPE) {
            xruns.push_back({frames, static_cast<double>(frames) / SampleRate()});
            ++segment;
            int fixed = 0;
            if (err == -ESTRPIPE) {
                const auto deadline = Clock::now() + std::chrono::seconds(1);
                while ((fixed = snd_pcm_resume(pcm)) == -EAGAIN && Clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (fixed < 0)
                    fixed = snd_pcm_prepare(pcm);
            } else
                fixed = snd_pcm_prepare(pcm);
            if (fixed == 0 && Direction() == AudioDirection::Capture)
                fixed = snd_pcm_start(pcm);
            if (fixed == 0)
                return true;
            Lose(fixed, err == -EPIPE ? "recovering from an xrun" : "resuming after a suspend");
            return false;
        }
        Lose(err, Direction() == AudioDirection::Capture ? "reading" : "writing");
        return false;
    }

    AudioResult Lose(int err, const char* during)
    {
        lost = true;
        error = std::string("the ") + DirectionWord(Direction()) + " device " + Quoted(name) + " failed while " + during +
                ": " + ErrorWords(err);
        return AudioResult::Lost;
    }

    // Where the stream is, stamped by the sound system, about once a period.
    void NoteClockPoint()
    {
        if (!points.empty() && frames - lastPointFrames < period)
            return;
        snd_pcm_status_t* status = nullptr;
        snd_pcm_status_alloca(&status);
        if (snd_pcm_status(pcm, status) < 0 || snd_pcm_status_get_state(status) != SND_PCM_STATE_RUNNING)
            return;
        snd_htimestamp_t stamp{};
        snd_pcm_status_get_htstamp(status, &stamp);
        if (stamp.tv_sec == 0 && stamp.tv_nsec == 0)
            return;
        int64_t position = static_cast<int64_t>(frames);
        if (Direction() == AudioDirection::Capture)
            position += static_cast<int64_t>(snd_pcm_status_get_avail(status));
        else
            position -= static_cast<int64_t>(snd_pcm_status_get_delay(status));
        if (position < 0)
            return;
        if (points.size() >= CLOCK_POINT_LIMIT)
            points.erase(points.begin(), points.begin() + CLOCK_POINT_LIMIT / 2);
        points.push_back({static_cast<uint64_t>(position), static_cast<double>(stamp.tv_sec) + stamp.tv_nsec * 1e-9, segment});
        lastPointFrames = frames;
    }

    snd_pcm_t* pcm;
    std::string name;
    snd_pcm_uframes_t period;
    uint64_t frames = 0;  // read or written so far
    uint64_t lastPointFrames = 0;
    uint32_t segment = 0;
    bool lost = false;
    bool stopped = false;
    bool interrupted = false;
    std::string error;
    std::vector<AudioXrun> xruns;
    std::vector<AudioClockPoint> points;
};

class AlsaSystem : public AudioSystem {
public:
    AlsaSystem() { TakeOverLibraryMessages(); }

    std::string Name() const override { return "ALSA"; }

    std::vector<AudioDeviceInfo> Devices(AudioDirection direction) override
    {
        std::vector<AudioDeviceInfo> devices;
        AudioDeviceInfo fallback;
        fallback.name = "default";
        fallback.description = "ALSA's default device";
        fallback.isDefault = true;
        void** hints = nullptr;
        if (snd_device_name_hint(-1, "pcm", &hints) == 0) {
            const char* wanted = direction == AudioDirection::Playback ? "Output" : "Input";
            for (void** hint = hints; *hint != nullptr; ++hint) {
                char* name = snd_device_name_get_hint(*hint, "NAME");
                char* description = snd_device_name_get_hint(*hint, "DESC");
                char* io = snd_device_name_get_hint(*hint, "IOID");
                if (name != nullptr && (io == nullptr || std::string(io) == wanted)) {
                    AudioDeviceInfo info;
                    info.name = name;
                    info.description = description != nullptr ? OneLine(description) : "";
                    info.isDefault = info.name == "default";
                    if (info.isDefault)
                        fallback = info;
                    else
                        devices.push_back(info);
                }
                std::free(name);
                std::free(description);
                std::free(io);
            }
            snd_device_name_free_hint(hints);
        }
        lastLibraryMessage.clear();
        // The default first, always: what an empty --device opens.
        devices.insert(devices.begin(), fallback);
        for (size_t i = 0; i < devices.size(); ++i)
            devices[i].index = static_cast<int>(i);
        return devices;
    }

    std::unique_ptr<AudioStream> Open(AudioDirection direction, const std::string& device, int sampleRate,
                                      std::string& error) override
    {
        std::string name = device.empty() ? "default" : device;
        if (!device.empty() && device.find_first_not_of("0123456789") == std::string::npos) {
            const std::vector<AudioDeviceInfo> devices = Devices(direction);
            const unsigned long index = std::strtoul(device.c_str(), nullptr, 10);
            if (device.size() > 6 || index >= devices.size()) {
                error = std::string("there is no ") + DirectionWord(direction) + " device " + device + " (" +
                        std::to_string(devices.size()) + " listed, 0 to " + std::to_string(devices.size() - 1) +
                        "; soundclock devices shows them)";
                return nullptr;
            }
            name = devices[index].name;
        }
        const std::string asked = std::string(DirectionWord(direction)) + " device " + Quoted(name) + " (16-bit mono at " +
                                  std::to_string(sampleRate) + " Hz)";
        lastLibraryMessage.clear();
        snd_pcm_t* pcm = nullptr;
        int err = snd_pcm_open(&pcm, name.c_str(),
                               direction == AudioDirection::Playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE,
                               SND_PCM_NONBLOCK);
        if (err < 0) {
            error = "cannot open the " + asked + ": " + ErrorWords(err);
            return nullptr;
        }
        snd_pcm_uframes_t period = 0;
        error = Configure(pcm, direction, sampleRate, asked, period);
        if (!error.empty()) {
            snd_pcm_close(pcm);
            return nullptr;
        }
        return std::make_unique<AlsaStream>(direction, sampleRate, pcm, name, period);
    }

private:
    // The hardware and software parameters; the error text, or empty.
    static std::string Configure(snd_pcm_t* pcm, AudioDirection direction, int sampleRate, const std::string& asked,
                                 snd_pcm_uframes_t& period)
    {
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        int err = snd_pcm_hw_params_any(pcm, hw);
        if (err < 0)
            return "the " + asked + " gives no parameters: " + ErrorWords(err);
        if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
            return "the " + asked + " refuses interleaved read/write access: " + ErrorWords(err);
        if ((err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0)
            return "the " + asked + " refuses 16-bit samples (S16_LE): " + ErrorWords(err);
        if ((err = snd_pcm_hw_params_set_channels(pcm, hw, 1)) < 0) {
            unsigned lowest = 0, highest = 0;
            snd_pcm_hw_params_get_channels_min(hw, &lowest);
            snd_pcm_hw_params_get_channels_max(hw, &highest);
            return "the " + asked + " refuses one channel: " + ErrorWords(err) + "; it offers " + std::to_string(lowest) +
                   (highest != lowest ? " to " + std::to_string(highest) : "") + " channels";
        }
        unsigned lowestRate = 0, highestRate = 0;
        int dir = 0;
        snd_pcm_hw_params_get_rate_min(hw, &lowestRate, &dir);
        snd_pcm_hw_params_get_rate_max(hw, &highestRate, &dir);
        if ((err = snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(sampleRate), 0)) < 0)
            return "the " + asked + " refuses " + std::to_string(sampleRate) + " Hz: " + ErrorWords(err) + "; it offers " +
                   (lowestRate == highestRate ? std::to_string(lowestRate) + " Hz"
                                              : std::to_string(lowestRate) + " to " + std::to_string(highestRate) + " Hz");
        unsigned periodUs = PERIOD_US;
        unsigned bufferUs = direction == AudioDirection::Playback ? PLAYBACK_BUFFER_US : CAPTURE_BUFFER_US;
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
        snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
        if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
            return "the " + asked + " refuses its parameters: " + ErrorWords(err);
        snd_pcm_uframes_t buffer = 0;
        snd_pcm_hw_params_get_period_size(hw, &period, &dir);
        snd_pcm_hw_params_get_buffer_size(hw, &buffer);

        snd_pcm_sw_params_t* sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0)
            return "the " + asked + " gives no software parameters: " + ErrorWords(err);
        snd_pcm_sw_params_set_avail_min(pcm, sw, period);
        // Playback starts once the buffer is full: no underrun at the start.
        snd_pcm_sw_params_set_start_threshold(pcm, sw, direction == AudioDirection::Playback ? buffer : 1);
        snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
        snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
        if ((err = snd_pcm_sw_params(pcm, sw)) < 0)
            return "the " + asked + " refuses its software parameters: " + ErrorWords(err);
        if ((err = snd_pcm_prepare(pcm)) < 0)
            return "the " + asked + " cannot be prepared: " + ErrorWords(err);
        return "";
    }
};

}  // namespace

std::unique_ptr<AudioSystem> MakeAudioSystem()
{
    return std::make_unique<AlsaSystem>();
}
