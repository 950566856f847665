// Capture from a wave-in device: every buffer of the ring is queued at the
// open; each one that comes back is copied out and queued again at
// once, so the driver always has the most room the ring can give it.
#pragma once

#include "audio/winmm_ring.h"
#include "platform/wave_in.h"

#include <memory>
#include <string>

// Opens `deviceId` at `sampleRate` with at least `leastChannels` channels
// (CaptureFormats: 24-bit first), with the ring queued (the first read
// starts the recording); null with `error` (the driver's words, with
// `label`) when it cannot.
std::unique_ptr<AudioCapture> OpenWinmmCapture(WaveInDevice& device, UINT deviceId, const std::string& label,
                                               int sampleRate, int leastChannels, const WinmmStreamSettings& settings,
                                               std::string& error);
