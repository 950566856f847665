#include "audio/audio_device.h"

std::string AudioStream::FormatWords() const
{
    return ChannelWords(channels) + ", " + SampleWords(encoding);
}

std::string ChannelWords(int channels)
{
    return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

int LayoutChannels(int needed)
{
    if (needed <= 1)
        return 1;
    for (int count : {2, 4, 6, 8})
        if (count >= needed)
            return count;
    return needed;
}
