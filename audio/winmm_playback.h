// Playback on a wave-out device: Write fills the ring's free buffers in
// order and queues each one as it fills; Drain queues the last, shorter one.
#pragma once

#include "audio/winmm_ring.h"
#include "platform/wave_out.h"

#include <memory>
#include <string>

// Opens `deviceId` at `sampleRate` with `channels` channels (two where it
// refuses mono; PlaybackFormats: 16-bit first); null with `error` (the
// driver's words, with `label`) when the device refuses.
std::unique_ptr<AudioPlayback> OpenWinmmPlayback(WaveOutDevice& device, UINT deviceId, const std::string& label,
                                                 int sampleRate, int channels, const WinmmStreamSettings& settings,
                                                 std::string& error);
