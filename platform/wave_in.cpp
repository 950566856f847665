#include "platform/wave_in.h"

#include "platform/audio_rates.h"

unsigned WaveInDevice::DeviceCount()
{
    return GetNumDevs();
}

std::string WaveInDevice::ProductName(unsigned index)
{
    return ProductNameFrom<WAVEINCAPSA>([&](WAVEINCAPSA* caps) { GetDevCaps(index, caps, sizeof *caps); });
}

UINT Win32WaveIn::GetNumDevs()
{
    return waveInGetNumDevs();
}

MMRESULT Win32WaveIn::GetDevCaps(UINT deviceId, WAVEINCAPSA* caps, UINT capsSize)
{
    return waveInGetDevCapsA(deviceId, caps, capsSize);
}

MMRESULT Win32WaveIn::Open(HWAVEIN* handle, UINT deviceId, const WAVEFORMATEX* format,
                           DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    if (format != nullptr && !IsDeviceSampleRate(format->nSamplesPerSec)) {
        *handle = nullptr;
        return WAVERR_BADFORMAT;
    }
    return waveInOpen(handle, deviceId, format, callback, instance, flags);
}

MMRESULT Win32WaveIn::PrepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize)
{
    return waveInPrepareHeader(handle, header, headerSize);
}

MMRESULT Win32WaveIn::AddBuffer(HWAVEIN handle, WAVEHDR* header, UINT headerSize)
{
    return waveInAddBuffer(handle, header, headerSize);
}

MMRESULT Win32WaveIn::Start(HWAVEIN handle)
{
    return waveInStart(handle);
}

MMRESULT Win32WaveIn::Stop(HWAVEIN handle)
{
    return waveInStop(handle);
}

MMRESULT Win32WaveIn::Reset(HWAVEIN handle)
{
    return waveInReset(handle);
}

MMRESULT Win32WaveIn::UnprepareHeader(HWAVEIN handle, WAVEHDR* header, UINT headerSize)
{
    return waveInUnprepareHeader(handle, header, headerSize);
}

MMRESULT Win32WaveIn::Close(HWAVEIN handle)
{
    return waveInClose(handle);
}

MMRESULT Win32WaveIn::GetErrorText(MMRESULT error, char* text, UINT textSize)
{
    return waveInGetErrorTextA(error, text, textSize);
}
