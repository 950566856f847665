#include "audio/winmm_format.h"

#include "audio/audio_device.h"

namespace {

// KSDATAFORMAT_SUBTYPE_PCM, spelt out: the SDK's definition needs a GUID
// library the build does not otherwise link.
constexpr GUID SUBTYPE_PCM = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Speaker positions in Windows' order: mono, stereo, quadraphonic, 5.1 and
// 7.1; other counts are left unplaced.
constexpr DWORD FRONT_CENTER = 0x4;
constexpr DWORD FRONT_LEFT_RIGHT = 0x3;
constexpr DWORD QUAD = 0x33;
constexpr DWORD SURROUND_5_1 = 0x3F;
constexpr DWORD SURROUND_7_1 = 0x63F;

DWORD ChannelMask(WORD channels)
{
    switch (channels) {
    case 1: return FRONT_CENTER;
    case 2: return FRONT_LEFT_RIGHT;
    case 4: return QUAD;
    case 6: return SURROUND_5_1;
    case 8: return SURROUND_7_1;
    default: return 0;
    }
}

// The layout's count first (audio_device.h: LayoutChannels), then the count
// asked for, then stereo for a device that refuses mono.
std::vector<WinmmFormat> Formats(int channels, std::initializer_list<SampleEncoding> encodings)
{
    std::vector<WORD> channelCounts{static_cast<WORD>(LayoutChannels(channels))};
    if (channels != channelCounts.front())
        channelCounts.push_back(static_cast<WORD>(channels));
    if (channels == 1)
        channelCounts.push_back(2);
    std::vector<WinmmFormat> formats;
    for (WORD count : channelCounts)
        for (SampleEncoding encoding : encodings)
            formats.push_back({count, encoding});
    return formats;
}

}  // namespace

std::vector<WinmmFormat> CaptureFormats(int leastChannels)
{
    return Formats(leastChannels, {SampleEncoding::S24In3, SampleEncoding::S16});
}

std::vector<WinmmFormat> PlaybackFormats(int channels)
{
    return Formats(channels, {SampleEncoding::S16, SampleEncoding::S24In3});
}

WAVEFORMATEXTENSIBLE MakeWaveFormat(const WinmmFormat& format, int sampleRate)
{
    WAVEFORMATEXTENSIBLE block{};
    const WORD bits = static_cast<WORD>(8 * SampleBytes(format.encoding));
    SetWaveFormat(block.Format, format.channels, sampleRate, bits);
    if (format.encoding == SampleEncoding::S16 && format.channels <= 2)
        return block;
    block.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    block.Format.cbSize = sizeof block - sizeof block.Format;
    block.Samples.wValidBitsPerSample = bits;
    block.dwChannelMask = ChannelMask(format.channels);
    block.SubFormat = SUBTYPE_PCM;
    return block;
}

std::string WinmmFormatWords(const WinmmFormat& format)
{
    const std::string bits = SampleWords(format.encoding);
    if (format.channels == 1)
        return bits + " mono";
    if (format.channels == 2)
        return bits + " stereo";
    return bits + ", " + std::to_string(format.channels) + " channels";
}
