#include "audio/alsa_params.h"
#include "audio/alsa_support.h"

#include <cerrno>

namespace {

// Frames per period and in the buffer, as asked (the device picks the
// nearest it can): short periods so that positions and xruns are seen
// early; enough buffer to ride out a busy moment.
constexpr unsigned PERIOD_US = 20000;
constexpr unsigned PLAYBACK_BUFFER_US = 250000;
constexpr unsigned CAPTURE_BUFFER_US = 500000;

struct AlsaLayout {
    snd_pcm_format_t format;
    SampleEncoding encoding;
};

// A capture takes the card's full resolution: the widest integer layout
// first, float only where nothing else is offered.
constexpr AlsaLayout CAPTURE_LAYOUTS[] = {
    {SND_PCM_FORMAT_S32_LE, SampleEncoding::S32},   {SND_PCM_FORMAT_S24_3LE, SampleEncoding::S24In3},
    {SND_PCM_FORMAT_S24_LE, SampleEncoding::S24In4}, {SND_PCM_FORMAT_S16_LE, SampleEncoding::S16},
    {SND_PCM_FORMAT_FLOAT_LE, SampleEncoding::Float32},
};
// The signal is 16-bit: played as it is where the device takes it.
constexpr AlsaLayout PLAYBACK_LAYOUTS[] = {
    {SND_PCM_FORMAT_S16_LE, SampleEncoding::S16},    {SND_PCM_FORMAT_S32_LE, SampleEncoding::S32},
    {SND_PCM_FORMAT_S24_3LE, SampleEncoding::S24In3}, {SND_PCM_FORMAT_S24_LE, SampleEncoding::S24In4},
    {SND_PCM_FORMAT_FLOAT_LE, SampleEncoding::Float32},
};

std::string OfferedChannels(snd_pcm_hw_params_t* hw)
{
    unsigned lowest = 0, highest = 0;
    snd_pcm_hw_params_get_channels_min(hw, &lowest);
    snd_pcm_hw_params_get_channels_max(hw, &highest);
    return "it offers " + std::to_string(lowest) + (highest != lowest ? " to " + std::to_string(highest) : "") +
           (lowest == 1 && highest == 1 ? " channel" : " channels");
}

std::string ChooseChannels(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, AudioDirection direction, unsigned wanted,
                           const std::string& asked, AlsaSetup& setup)
{
    const std::string offered = OfferedChannels(hw);
    unsigned least = wanted;
    int err = 0;
    const auto layout = static_cast<unsigned>(LayoutChannels(static_cast<int>(wanted)));
    if (snd_pcm_hw_params_test_channels(pcm, hw, layout) == 0)
        err = snd_pcm_hw_params_set_channels(pcm, hw, layout);
    else if (direction == AudioDirection::Capture)
        err = snd_pcm_hw_params_set_channels_min(pcm, hw, &least);
    else if (snd_pcm_hw_params_test_channels(pcm, hw, wanted) == 0)
        err = snd_pcm_hw_params_set_channels(pcm, hw, wanted);
    else if (snd_pcm_hw_params_get_channels_min(hw, &least) == 0 && least > wanted)
        err = 0;
    else
        err = -EINVAL;
    if (err == 0)
        err = snd_pcm_hw_params_set_channels_first(pcm, hw, &setup.channels);
    if (err < 0)
        return "the " + asked + " refuses " + ChannelWords(static_cast<int>(wanted)) + ": " + AlsaErrorWords(err) +
               "; " + offered;
    return "";
}

std::string ChooseLayout(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, AudioDirection direction, const std::string& asked,
                         AlsaSetup& setup)
{
    for (const AlsaLayout& layout : direction == AudioDirection::Capture ? CAPTURE_LAYOUTS : PLAYBACK_LAYOUTS) {
        if (snd_pcm_hw_params_test_format(pcm, hw, layout.format) != 0)
            continue;
        const int err = snd_pcm_hw_params_set_format(pcm, hw, layout.format);
        if (err < 0)
            return "the " + asked + " refuses " + snd_pcm_format_name(layout.format) + " samples: " + AlsaErrorWords(err);
        setup.format = layout.format;
        setup.encoding = layout.encoding;
        return "";
    }
    return "the " + asked +
           " offers none of the sample formats soundclock takes (S32_LE, S24_3LE, S24_LE, S16_LE, FLOAT_LE)";
}

std::string ChooseRate(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, int sampleRate, const std::string& asked)
{
    unsigned lowestRate = 0, highestRate = 0;
    int dir = 0;
    snd_pcm_hw_params_get_rate_min(hw, &lowestRate, &dir);
    snd_pcm_hw_params_get_rate_max(hw, &highestRate, &dir);
    const int err = snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(sampleRate), 0);
    if (err < 0)
        return "the " + asked + " refuses " + std::to_string(sampleRate) + " Hz: " + AlsaErrorWords(err) + "; it offers " +
               (lowestRate == highestRate ? std::to_string(lowestRate) + " Hz"
                                          : std::to_string(lowestRate) + " to " + std::to_string(highestRate) + " Hz");
    return "";
}

std::string SetSoftware(snd_pcm_t* pcm, AudioDirection direction, const std::string& asked, const AlsaSetup& setup)
{
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    int err = snd_pcm_sw_params_current(pcm, sw);
    if (err < 0)
        return "the " + asked + " gives no software parameters: " + AlsaErrorWords(err);
    snd_pcm_sw_params_set_avail_min(pcm, sw, setup.period);
    // Playback starts once the buffer is full: no underrun at the start.
    snd_pcm_sw_params_set_start_threshold(pcm, sw, direction == AudioDirection::Playback ? setup.buffer : 1);
    snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
    snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    if ((err = snd_pcm_sw_params(pcm, sw)) < 0)
        return "the " + asked + " refuses its software parameters: " + AlsaErrorWords(err);
    if ((err = snd_pcm_prepare(pcm)) < 0)
        return "the " + asked + " cannot be prepared: " + AlsaErrorWords(err);
    return "";
}

}  // namespace

std::string ConfigureAlsa(snd_pcm_t* pcm, AudioDirection direction, int sampleRate, unsigned channels,
                          const std::string& asked, AlsaSetup& setup)
{
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err < 0)
        return "the " + asked + " gives no parameters: " + AlsaErrorWords(err);
    if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return "the " + asked + " refuses interleaved read/write access: " + AlsaErrorWords(err);
    std::string error = ChooseChannels(pcm, hw, direction, channels, asked, setup);
    if (error.empty())
        error = ChooseLayout(pcm, hw, direction, asked, setup);
    if (error.empty())
        error = ChooseRate(pcm, hw, sampleRate, asked);
    if (!error.empty())
        return error;
    unsigned periodUs = PERIOD_US;
    unsigned bufferUs = direction == AudioDirection::Playback ? PLAYBACK_BUFFER_US : CAPTURE_BUFFER_US;
    int dir = 0;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
        return "the " + asked + " refuses its parameters: " + AlsaErrorWords(err);
    snd_pcm_hw_params_get_period_size(hw, &setup.period, &dir);
    snd_pcm_hw_params_get_buffer_size(hw, &setup.buffer);
    return SetSoftware(pcm, direction, asked, setup);
}
