// The Linux backend: ALSA through libasound. It reaches bare cards
// (hw:..., plughw:...) and, through ALSA's plugins, the sound servers
// (default, pulse, pipewire).
//
// This file: the devices, and opening one (alsa_params.cpp: its parameters;
// alsa_stream.cpp: the streams; alsa_pcm.cpp: what they share).
// Every stream is opened non-blocking; a call that has to wait does so in
// snd_pcm_wait with what is left of its deadline, so a device that stops
// answering gives Timeout, never a hang. An xrun (EPIPE) or a suspend
// (ESTRPIPE) is recovered and reported with the stream's position; an
// error that cannot be recovered (ENODEV, EBADFD, EIO, a failed resume or
// prepare, ...) makes the stream Lost, with the device's own words.
#include "audio/audio_device.h"
#include "audio/alsa_params.h"
#include "audio/alsa_stream.h"
#include "audio/alsa_support.h"

#include <alsa/asoundlib.h>

#include <cerrno>
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

// An open, configured PCM, or the error text.
struct OpenedPcm {
    snd_pcm_t* pcm = nullptr;
    std::string name;
    AlsaSetup setup;
};

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

    std::unique_ptr<AudioCapture> OpenCapture(const std::string& device, int sampleRate, int leastChannels,
                                              std::string& error) override
    {
        OpenedPcm opened;
        if (!OpenPcm(AudioDirection::Capture, device, sampleRate, leastChannels, opened, error))
            return nullptr;
        return MakeAlsaCapture(opened.pcm, opened.name, sampleRate, opened.setup);
    }

    std::unique_ptr<AudioPlayback> OpenPlayback(const std::string& device, int sampleRate, int channels,
                                                std::string& error) override
    {
        OpenedPcm opened;
        if (!OpenPcm(AudioDirection::Playback, device, sampleRate, channels, opened, error))
            return nullptr;
        return MakeAlsaPlayback(opened.pcm, opened.name, sampleRate, opened.setup);
    }

private:
    // The PCM name `device` means (an index from Devices(), or a name), or
    // false with `error` set.
    bool Resolve(AudioDirection direction, const std::string& device, std::string& name, std::string& error)
    {
        name = device.empty() ? "default" : device;
        if (device.empty() || device.find_first_not_of("0123456789") != std::string::npos)
            return true;
        const std::vector<AudioDeviceInfo> devices = Devices(direction);
        const unsigned long index = std::strtoul(device.c_str(), nullptr, 10);
        if (device.size() > 6 || index >= devices.size()) {
            error = std::string("there is no ") + DirectionWord(direction) + " device " + device + " (" +
                    std::to_string(devices.size()) + " listed, 0 to " + std::to_string(devices.size() - 1) +
                    "; soundclock devices shows them)";
            return false;
        }
        name = devices[index].name;
        return true;
    }

    bool OpenPcm(AudioDirection direction, const std::string& device, int sampleRate, int channels, OpenedPcm& opened,
                 std::string& error)
    {
        if (!Resolve(direction, device, opened.name, error))
            return false;
        const std::string asked = std::string(DirectionWord(direction)) + " device " + Quoted(opened.name) + " (" +
                                  (direction == AudioDirection::Capture ? "at least " : "") + ChannelWords(channels) +
                                  " at " + std::to_string(sampleRate) + " Hz)";
        ForgetAlsaMessage();
        int err = snd_pcm_open(&opened.pcm, opened.name.c_str(),
                               direction == AudioDirection::Playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE,
                               SND_PCM_NONBLOCK);
        if (err < 0) {
            const std::string advice = err == -EBUSY ? BusyCardAdvice(opened.name) : "";
            error = "cannot open the " + asked + ": " + AlsaErrorWords(err) + (advice.empty() ? "" : "; " + advice);
            return false;
        }
        error = ConfigureAlsa(opened.pcm, direction, sampleRate, static_cast<unsigned>(channels), asked, opened.setup);
        if (error.empty())
            return true;
        snd_pcm_close(opened.pcm);
        return false;
    }
};

}  // namespace

std::unique_ptr<AudioSystem> MakeAudioSystem()
{
    return std::make_unique<AlsaSystem>();
}
