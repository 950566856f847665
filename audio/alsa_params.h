// The ALSA backend's hardware and software parameters: the channels and the
// sample layout negotiated against the device's configuration space, the
// rate, the period and buffer, non-blocking timestamps on the monotonic
// clock.
#pragma once

#include "audio/audio_device.h"

#include <alsa/asoundlib.h>

#include <string>

struct AlsaSetup {
    unsigned channels = 1;
    snd_pcm_format_t format = SND_PCM_FORMAT_S16_LE;
    SampleEncoding encoding = SampleEncoding::S16;
    snd_pcm_uframes_t period = 0;  // frames
    snd_pcm_uframes_t buffer = 0;  // frames
};

// Configures `pcm` (opened, not configured) and prepares it. A capture
// takes at least `channels` channels (more where the device's least is
// more) in the widest integer layout offered; a playback `channels`, or
// the device's least where it takes no fewer, 16-bit where offered.
// Returns the error text (with `asked`, the device and what was asked), or
// empty with `setup` filled.
std::string ConfigureAlsa(snd_pcm_t* pcm, AudioDirection direction, int sampleRate, unsigned channels,
                          const std::string& asked, AlsaSetup& setup);
