// soundclock's device layer on Windows: winmm's wave devices through
// platform/'s wrappers. A console program has no window to be told on, so
// every stream waits on an event the driver sets (CALLBACK_EVENT).
#include "audio/winmm_backend.h"

#include "audio/winmm_capture.h"
#include "audio/winmm_playback.h"
#include "platform/wave_in.h"
#include "platform/wave_out.h"

#include <algorithm>
#include <cctype>

namespace {

std::string DirectionWord(AudioDirection direction)
{
    return direction == AudioDirection::Playback ? "playback" : "capture";
}

bool IsIndex(const std::string& text)
{
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool SameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

class WinmmAudioSystem final : public AudioSystem {
public:
    WinmmAudioSystem(WaveInDevice& waveIn, WaveOutDevice& waveOut, const WinmmStreamSettings& settings)
        : waveIn(waveIn), waveOut(waveOut), settings(settings)
    {
    }

    std::string Name() const override { return "winmm"; }
    std::vector<AudioDeviceInfo> Devices(AudioDirection direction) override;
    std::unique_ptr<AudioCapture> OpenCapture(const std::string& device, int sampleRate, int leastChannels,
                                              std::string& error) override;
    std::unique_ptr<AudioPlayback> OpenPlayback(const std::string& device, int sampleRate, int channels,
                                                std::string& error) override;

private:
    WaveDeviceCatalog& Catalog(AudioDirection direction)
    {
        return direction == AudioDirection::Playback ? static_cast<WaveDeviceCatalog&>(waveOut) : waveIn;
    }
    // The device index `device` means, or false with `error` set.
    bool Resolve(AudioDirection direction, const std::string& device, UINT& index, std::string& error);
    std::string Label(AudioDirection direction, UINT index, int sampleRate);
    // After a failed open: how many devices Windows lists, where the index
    // was beyond them.
    void SayHowManyListed(AudioDirection direction, UINT index, std::string& error);
    std::string Description(AudioDirection direction, UINT index);

    WaveInDevice& waveIn;
    WaveOutDevice& waveOut;
    WinmmStreamSettings settings;
};

std::vector<AudioDeviceInfo> WinmmAudioSystem::Devices(AudioDirection direction)
{
    WaveDeviceCatalog& catalog = Catalog(direction);
    std::vector<AudioDeviceInfo> devices;
    const unsigned count = catalog.DeviceCount();
    for (unsigned index = 0; index < count; ++index) {
        AudioDeviceInfo info;
        info.index = static_cast<int>(index);
        info.name = catalog.ProductName(index);
        info.description = Description(direction, index);
        info.isDefault = index == 0;
        devices.push_back(info);
    }
    return devices;
}

// A number is an index; anything else is a product name, matched whole,
// first exactly and then ignoring case. Two cards of one model share their
// name: such a name is refused rather than one of them guessed.
bool WinmmAudioSystem::Resolve(AudioDirection direction, const std::string& device, UINT& index, std::string& error)
{
    if (device.empty()) {
        index = 0;
        return true;
    }
    if (IsIndex(device)) {
        index = static_cast<UINT>(std::stoul(device));
        return true;
    }
    const std::vector<AudioDeviceInfo> devices = Devices(direction);
    for (bool ignoreCase : {false, true}) {
        std::vector<int> matches;
        for (const AudioDeviceInfo& info : devices)
            if (ignoreCase ? SameIgnoringCase(info.name, device) : info.name == device)
                matches.push_back(info.index);
        if (matches.size() == 1) {
            index = static_cast<UINT>(matches[0]);
            return true;
        }
        if (matches.size() > 1) {
            error = "the " + DirectionWord(direction) + " devices " + std::to_string(matches[0]) + " and " +
                    std::to_string(matches[1]) + " are both named " + Quoted(device) + ": give the index";
            return false;
        }
    }
    error = "there is no " + DirectionWord(direction) + " device named " + Quoted(device);
    if (devices.empty())
        error += " (Windows lists none)";
    for (size_t i = 0; i < devices.size(); ++i)
        error += (i == 0 ? " (the devices: " : ", ") + std::to_string(i) + " " + Quoted(devices[i].name) +
                 (i + 1 == devices.size() ? ")" : "");
    return false;
}

// winmm says little more about a device than its name: its channels.
std::string WinmmAudioSystem::Description(AudioDirection direction, UINT index)
{
    WORD channels = 0;
    if (direction == AudioDirection::Playback) {
        WAVEOUTCAPSA caps{};
        if (waveOut.GetDevCaps(index, &caps, sizeof caps) == MMSYSERR_NOERROR)
            channels = caps.wChannels;
    } else {
        WAVEINCAPSA caps{};
        if (waveIn.GetDevCaps(index, &caps, sizeof caps) == MMSYSERR_NOERROR)
            channels = caps.wChannels;
    }
    std::string description = std::string("winmm wave ") + (direction == AudioDirection::Playback ? "output" : "input");
    if (channels > 0)
        description += ", " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
    return description;
}

std::string WinmmAudioSystem::Label(AudioDirection direction, UINT index, int sampleRate)
{
    WaveDeviceCatalog& catalog = Catalog(direction);
    std::string label = DirectionWord(direction) + " device " + std::to_string(index);
    if (index < catalog.DeviceCount())
        label += " (" + Quoted(catalog.ProductName(index)) + ")";
    return label + " at " + std::to_string(sampleRate) + " Hz";
}

void WinmmAudioSystem::SayHowManyListed(AudioDirection direction, UINT index, std::string& error)
{
    const unsigned count = Catalog(direction).DeviceCount();
    if (index >= count)
        error += "; Windows lists " + std::to_string(count) + " " + DirectionWord(direction) + " device" +
                 (count == 1 ? "" : "s");
}

std::unique_ptr<AudioCapture> WinmmAudioSystem::OpenCapture(const std::string& device, int sampleRate,
                                                            int leastChannels, std::string& error)
{
    UINT index = 0;
    if (!Resolve(AudioDirection::Capture, device, index, error))
        return nullptr;
    const std::string label = Label(AudioDirection::Capture, index, sampleRate);
    std::unique_ptr<AudioCapture> stream = OpenWinmmCapture(waveIn, index, label, sampleRate, leastChannels, settings, error);
    if (stream == nullptr)
        SayHowManyListed(AudioDirection::Capture, index, error);
    return stream;
}

std::unique_ptr<AudioPlayback> WinmmAudioSystem::OpenPlayback(const std::string& device, int sampleRate, int channels,
                                                              std::string& error)
{
    UINT index = 0;
    if (!Resolve(AudioDirection::Playback, device, index, error))
        return nullptr;
    const std::string label = Label(AudioDirection::Playback, index, sampleRate);
    std::unique_ptr<AudioPlayback> stream = OpenWinmmPlayback(waveOut, index, label, sampleRate, channels, settings, error);
    if (stream == nullptr)
        SayHowManyListed(AudioDirection::Playback, index, error);
    return stream;
}

}  // namespace

std::unique_ptr<AudioSystem> MakeWinmmAudioSystem(WaveInDevice& waveIn, WaveOutDevice& waveOut,
                                                  const WinmmStreamSettings& settings)
{
    return std::make_unique<WinmmAudioSystem>(waveIn, waveOut, settings);
}

// The real devices hold no state, so they outlive every system and stream.
std::unique_ptr<AudioSystem> MakeAudioSystem()
{
    static Win32WaveIn waveIn;
    static Win32WaveOut waveOut;
    return MakeWinmmAudioSystem(waveIn, waveOut);
}
