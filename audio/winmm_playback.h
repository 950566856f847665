// Playback on a wave-out device: Write fills the ring's free buffers in
// order and queues each one as it fills; Drain queues the last, shorter one.
#pragma once

#include "audio/winmm_stream.h"
#include "platform/wave_out.h"

#include <memory>
#include <string>

// Opens `deviceId` at `sampleRate`, 16-bit mono; null with `error` (the
// driver's words, with `label`) when the device refuses.
std::unique_ptr<AudioStream> OpenWinmmPlayback(WaveOutDevice& device, UINT deviceId, const std::string& label,
                                               int sampleRate, const WinmmStreamSettings& settings,
                                               std::string& error);
