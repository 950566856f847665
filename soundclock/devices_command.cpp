// soundclock devices: what --device, --play and --record can name.
#include "soundclock/commands.h"

#include "audio/audio_device.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

int DevicesCommand()
{
    std::unique_ptr<AudioSystem> system = MakeAudioSystem();
    const struct {
        AudioDirection direction;
        const char* title;
    } sides[] = {{AudioDirection::Playback, "playback"}, {AudioDirection::Capture, "capture"}};
    for (const auto& side : sides) {
        const std::vector<AudioDeviceInfo> devices = system->Devices(side.direction);
        std::printf("%s devices (%s):\n", side.title, system->Name().c_str());
        if (devices.empty())
            std::printf("  none\n");
        size_t width = 0;
        for (const AudioDeviceInfo& device : devices)
            width = std::max(width, device.name.size());
        for (const AudioDeviceInfo& device : devices)
            std::printf("  %2d %c %-*s  %s\n", device.index, device.isDefault ? '*' : ' ', static_cast<int>(width),
                        device.name.c_str(), device.description.c_str());
        std::printf("\n");
    }
    std::printf("* the default. --device, --play and --record take the index or the name.\n");
    return EXIT_WITHIN;
}
