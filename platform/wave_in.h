// The waveIn calls the receiver and soundclock's capture make, behind an interface so that a test
// can put a scripted device in place of the sound card. The real one,
// Win32WaveIn, passes each call straight to WINMM, except that it refuses
// sample rates the audio server cannot represent (platform/audio_rates.h).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "platform/wave_catalog.h"

class WaveInDevice : public WaveDeviceCatalog {
public:
    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT deviceId, WAVEINCAPSA* caps, UINT capsSize) = 0;
    // With CALLBACK_WINDOW in flags, callback is the window that receives
    // MM_WIM_OPEN, MM_WIM_DATA (lParam = the WAVEHDR) and MM_WIM_CLOSE; with
    // CALLBACK_EVENT, an event set at each of them (platform/wave_event.h).
    virtual MMRESULT Open(HWAVEIN* handle, UINT deviceId, const WAVEFORMATEX* format,
                          DWORD_PTR callback, DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize) = 0;
    virtual MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header, UINT headerSize) = 0;
    virtual MMRESULT Start(HWAVEIN handle) = 0;
    virtual MMRESULT Stop(HWAVEIN handle) = 0;
    virtual MMRESULT Reset(HWAVEIN handle) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize) = 0;
    virtual MMRESULT Close(HWAVEIN handle) = 0;
    virtual MMRESULT GetErrorText(MMRESULT error, char* text, UINT textSize) = 0;

    unsigned DeviceCount() override;
    std::string ProductName(unsigned index) override;
};

class Win32WaveIn final : public WaveInDevice {
public:
    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(UINT deviceId, WAVEINCAPSA* caps, UINT capsSize) override;
    MMRESULT Open(HWAVEIN* handle, UINT deviceId, const WAVEFORMATEX* format,
                  DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override;
    MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Start(HWAVEIN handle) override;
    MMRESULT Stop(HWAVEIN handle) override;
    MMRESULT Reset(HWAVEIN handle) override;
    MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize) override;
    MMRESULT Close(HWAVEIN handle) override;
    MMRESULT GetErrorText(MMRESULT error, char* text, UINT textSize) override;
};
