// The Linux backend: ALSA through libasound. It reaches bare cards
// (hw:..., plughw:...) and, through ALSA's plugins, the sound servers
// (default, pulse, pipewire).
//
// This file: the devices, and opening one (alsa_stream.cpp: the stream).
// Every stream is opened non-blocking; a call that has to wait does so in
// snd_pcm_wait with what is left of its deadline, so a device that stops
// answering gives Timeout, never a hang. An xrun (EPIPE) or a suspend
// (ESTRPIPE) is recovered and reported with the stream's position; an
// error that cannot be recovered (ENODEV, EBADFD, EIO, a failed resume or
// prepare, ...) makes the stream Lost, with the device's own words.
#include "audio/audio_device.h"
#include "audio/alsa_stream.h"
#include "audio/alsa_support.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

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

class AlsaSystem : public AudioSystem {
public:
    AlsaSystem() { TakeOverAlsaMessages(); }

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
        ForgetAlsaMessage();
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
        ForgetAlsaMessage();
        snd_pcm_t* pcm = nullptr;
        int err = snd_pcm_open(&pcm, name.c_str(),
                               direction == AudioDirection::Playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE,
                               SND_PCM_NONBLOCK);
        if (err < 0) {
            error = "cannot open the " + asked + ": " + AlsaErrorWords(err);
            return nullptr;
        }
        snd_pcm_uframes_t period = 0, buffer = 0;
        error = Configure(pcm, direction, sampleRate, asked, period, buffer);
        if (!error.empty()) {
            snd_pcm_close(pcm);
            return nullptr;
        }
        return MakeAlsaStream(direction, sampleRate, pcm, name, period, buffer);
    }

private:
    // The hardware and software parameters; the error text, or empty.
    static std::string Configure(snd_pcm_t* pcm, AudioDirection direction, int sampleRate, const std::string& asked,
                                 snd_pcm_uframes_t& period, snd_pcm_uframes_t& buffer)
    {
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        int err = snd_pcm_hw_params_any(pcm, hw);
        if (err < 0)
            return "the " + asked + " gives no parameters: " + AlsaErrorWords(err);
        if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
            return "the " + asked + " refuses interleaved read/write access: " + AlsaErrorWords(err);
        if ((err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0)
            return "the " + asked + " refuses 16-bit samples (S16_LE): " + AlsaErrorWords(err);
        if ((err = snd_pcm_hw_params_set_channels(pcm, hw, 1)) < 0) {
            unsigned lowest = 0, highest = 0;
            snd_pcm_hw_params_get_channels_min(hw, &lowest);
            snd_pcm_hw_params_get_channels_max(hw, &highest);
            return "the " + asked + " refuses one channel: " + AlsaErrorWords(err) + "; it offers " + std::to_string(lowest) +
                   (highest != lowest ? " to " + std::to_string(highest) : "") + " channels";
        }
        unsigned lowestRate = 0, highestRate = 0;
        int dir = 0;
        snd_pcm_hw_params_get_rate_min(hw, &lowestRate, &dir);
        snd_pcm_hw_params_get_rate_max(hw, &highestRate, &dir);
        if ((err = snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(sampleRate), 0)) < 0)
            return "the " + asked + " refuses " + std::to_string(sampleRate) + " Hz: " + AlsaErrorWords(err) + "; it offers " +
                   (lowestRate == highestRate ? std::to_string(lowestRate) + " Hz"
                                              : std::to_string(lowestRate) + " to " + std::to_string(highestRate) + " Hz");
        unsigned periodUs = PERIOD_US;
        unsigned bufferUs = direction == AudioDirection::Playback ? PLAYBACK_BUFFER_US : CAPTURE_BUFFER_US;
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
        snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
        if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
            return "the " + asked + " refuses its parameters: " + AlsaErrorWords(err);
        snd_pcm_hw_params_get_period_size(hw, &period, &dir);
        snd_pcm_hw_params_get_buffer_size(hw, &buffer);

        snd_pcm_sw_params_t* sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0)
            return "the " + asked + " gives no software parameters: " + AlsaErrorWords(err);
        snd_pcm_sw_params_set_avail_min(pcm, sw, period);
        // Playback starts once the buffer is full: no underrun at the start.
        snd_pcm_sw_params_set_start_threshold(pcm, sw, direction == AudioDirection::Playback ? buffer : 1);
        snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
        snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
        if ((err = snd_pcm_sw_params(pcm, sw)) < 0)
            return "the " + asked + " refuses its software parameters: " + AlsaErrorWords(err);
        if ((err = snd_pcm_prepare(pcm)) < 0)
            return "the " + asked + " cannot be prepared: " + AlsaErrorWords(err);
        return "";
    }
};

}  // namespace

std::unique_ptr<AudioSystem> MakeAudioSystem()
{
    return std::make_unique<AlsaSystem>();
}
