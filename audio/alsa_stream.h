// The ALSA backend's streams: a capture and a playback over one AlsaPcm
// each, converting between the device's layout and the interface's.
#pragma once

#include "audio/alsa_params.h"
#include "audio/audio_device.h"

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

// Each takes over `pcm` (non-blocking, configured as `setup`, prepared)
// and closes it at the end.
std::unique_ptr<AudioCapture> MakeAlsaCapture(snd_pcm_t* pcm, std::string name, int sampleRate, const AlsaSetup& setup);
std::unique_ptr<AudioPlayback> MakeAlsaPlayback(snd_pcm_t* pcm, std::string name, int sampleRate, const AlsaSetup& setup);
