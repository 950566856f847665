// The formats soundclock opens wave devices in, the order they are tried,
// and the open itself: the first format the device accepts. 16-bit mono
// and stereo go as a plain WAVEFORMATEX; more channels or more bits as
// WAVEFORMATEXTENSIBLE, as Windows asks (Wine's driver on PulseAudio
// takes both).
#pragma once

#include "common/sample_format.h"
#include "platform/wave_format.h"

#include <mmreg.h>

#include <string>
#include <vector>

struct WinmmFormat {
    WORD channels = 1;
    SampleEncoding encoding = SampleEncoding::S16;  // S16 or S24In3: what wave devices take
};

// A capture: 24-bit before 16-bit (the card's full resolution), the
// channels asked for, then two where mono is refused.
std::vector<WinmmFormat> CaptureFormats(int leastChannels);
// A playback: 16-bit (the signal's own) before 24-bit, the channels asked
// for, then two where mono is refused.
std::vector<WinmmFormat> PlaybackFormats(int channels);

// The open call's format block for `format` at `sampleRate`.
WAVEFORMATEXTENSIBLE MakeWaveFormat(const WinmmFormat& format, int sampleRate);
// For messages: "24-bit mono", "16-bit, 4 channels".
std::string WinmmFormatWords(const WinmmFormat& format);

// Opens `device` in the first of `formats` it accepts: MMSYSERR_NOERROR
// with `opened` and `handle` set, or the result of the last try. A refusal
// other than WAVERR_BADFORMAT (the device is missing or busy) ends the
// tries at once; `tried` is the format of the last one.
template <typename Device, typename Handle>
MMRESULT OpenInFirstFormat(Device& device, Handle& handle, UINT deviceId, int sampleRate,
                           const std::vector<WinmmFormat>& formats, DWORD_PTR eventCallback, WinmmFormat& tried)
{
    MMRESULT result = WAVERR_BADFORMAT;
    for (const WinmmFormat& format : formats) {
        tried = format;
        const WAVEFORMATEXTENSIBLE block = MakeWaveFormat(format, sampleRate);
        result = device.Open(&handle, deviceId, &block.Format, eventCallback, 0, CALLBACK_EVENT);
        if (result == MMSYSERR_NOERROR)
            return result;
        handle = nullptr;
        if (result != WAVERR_BADFORMAT)
            return result;
    }
    return result;
}
