// The winmm backend over platform/'s wave devices. MakeAudioSystem() gives
// it with the real ones; a test hands in scripted devices and, where it
// needs them, a shorter ring or stall limit.
//
// Devices are listed in index order with their product names, as the
// programs' "Select soundcard" dialog lists them, and device 0 is the
// default: an empty device opens device 0, not WAVE_MAPPER, so the device
// `soundclock devices` marks is the one a run without --device uses. (Under
// Wine device 0 is the audio server's default; on Windows it is normally
// the preferred device, which the mapper would follow as well.)
#pragma once

#include "audio/audio_device.h"

#include <cstddef>
#include <memory>

class WaveInDevice;
class WaveOutDevice;

struct WinmmStreamSettings {
    // The rings: buffers of `samplesPerBufferAt8000` frames at 8000 Hz,
    // scaled with the rate (128 ms each). Playback keeps about a second
    // queued, so a drain ends soon. Capture keeps four seconds, because a
    // driver may hand over the capture in chunks of seconds (Wine's on
    // PulseAudio with a long PULSE_LATENCY_MSEC).
    // Why four: docs/accuracy.md#winmm-capture-ring
    size_t playbackBufferCount = 8;
    size_t captureBufferCount = 32;
    size_t samplesPerBufferAt8000 = 1024;
    // A device that holds queued buffers this long without returning one is
    // lost (0: the longer of 5 s and one and a half rings' worth of audio).
    int stallLimitMs = 0;
};

std::unique_ptr<AudioSystem> MakeWinmmAudioSystem(WaveInDevice& waveIn, WaveOutDevice& waveOut,
                                                  const WinmmStreamSettings& settings = {});
