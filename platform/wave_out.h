// The waveOut calls the transmitter and soundclock's playback make, behind an interface so that a
// test can put a scripted device in place of the sound card. The real one,
// Win32WaveOut, passes each call straight to WINMM, except that it refuses
// sample rates the audio server cannot represent (platform/audio_rates.h).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "platform/wave_catalog.h"

class WaveOutDevice : public WaveDeviceCatalog {
public:
    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT deviceId, WAVEOUTCAPSA* caps, UINT capsSize) = 0;
    // With CALLBACK_WINDOW in flags, callback is the window that receives
    // MM_WOM_OPEN, MM_WOM_DONE (lParam = the WAVEHDR) and MM_WOM_CLOSE; with
    // CALLBACK_EVENT, an event set at each of them (platform/wave_event.h).
    virtual MMRESULT Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format,
                          DWORD_PTR callback, DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT PrepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) = 0;
    virtual MMRESULT Write(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) = 0;
    virtual MMRESULT Reset(HWAVEOUT handle) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) = 0;
    virtual MMRESULT Close(HWAVEOUT handle) = 0;
    virtual MMRESULT GetErrorText(MMRESULT error, char* text, UINT textSize) = 0;

    unsigned DeviceCount() override;
    std::string ProductName(unsigned index) override;
};

class Win32WaveOut final : public WaveOutDevice {
public:
    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(UINT deviceId, WAVEOUTCAPSA* caps, UINT capsSize) override;
    MMRESULT Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format,
                  DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override;
    MMRESULT PrepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Write(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Reset(HWAVEOUT handle) override;
    MMRESULT UnprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Close(HWAVEOUT handle) override;
    MMRESULT GetErrorText(MMRESULT error, char* text, UINT textSize) override;
};
