// The ALSA backend's stream: reads or writes of an open, configured PCM,
// each wait on it bounded by the caller's deadline; xruns and suspends
// recovered and reported with the stream's position, anything else the
// stream's loss, in the device's own words.
#pragma once

#include "audio/audio_device.h"

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

// Takes over `pcm` (non-blocking, prepared, with timestamps on the
// monotonic clock) and closes it at the end; `period` and `buffer` in
// frames.
std::unique_ptr<AudioStream> MakeAlsaStream(AudioDirection direction, int sampleRate, snd_pcm_t* pcm, std::string name,
                                            snd_pcm_uframes_t period, snd_pcm_uframes_t buffer);
