// A placeholder for the Windows backend until the winmm one is merged: it
// lists no devices and opens none, so the Windows build links and says why.
#include "audio/audio_device.h"

namespace {

class PendingWinmmSystem : public AudioSystem {
public:
    std::string Name() const override { return "winmm"; }
    std::vector<AudioDeviceInfo> Devices(AudioDirection) override { return {}; }
    std::unique_ptr<AudioStream> Open(AudioDirection, const std::string&, int, std::string& error) override
    {
        error = "the Windows backend is not built yet";
        return nullptr;
    }
};

}  // namespace

std::unique_ptr<AudioSystem> MakeAudioSystem()
{
    return std::make_unique<PendingWinmmSystem>();
}
