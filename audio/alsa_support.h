// What the ALSA backend's two halves (the system: devices and opening; the
// stream) share: the device's own words for an error, and names.
#pragma once

#include "audio/audio_device.h"

#include <string>

// From then on the library's diagnostics ("Unknown PCM nosuch") are kept
// for the error text instead of going to standard error.
void TakeOverAlsaMessages();
void ForgetAlsaMessage();
// snd_strerror(err), and what the library said about it, if anything.
std::string AlsaErrorWords(int err);
const char* DirectionWord(AudioDirection direction);
std::string Quoted(const std::string& name);
