#include "audio/audio_device.h"

std::string AudioStream::FormatWords() const
{
    return ChannelWords(channels) + ", " + SampleWords(encoding);
}

std::string ChannelWords(int channels)
{
    return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}
