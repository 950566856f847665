// What the ALSA backend's parts (the system: devices and opening; the
// parameters; the streams) share: the device's own words for an error,
// names, and what to do about a card that is busy.
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

// The card number of a card's own device name ("hw:1", "plughw:1,0",
// "hw:CARD=PCH,DEV=0", "plughw:PCH"), or -1 when `name` is not one or no
// card has that name.
int CardNumberOf(const std::string& name);
// What to say when opening `name` failed as busy (EBUSY): on a card's own
// device (hw:, plughw:) most likely the desktop's sound server holds the
// card, and how to reach it anyway; empty for any other device.
std::string BusyCardAdvice(const std::string& name);
