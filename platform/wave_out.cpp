#include "platform/wave_out.h"

#include "platform/audio_rates.h"

unsigned WaveOutDevice::DeviceCount()
{
    return GetNumDevs();
}

std::string WaveOutDevice::ProductName(unsigned index)
{
    return ProductNameFrom<WAVEOUTCAPSA>([&](WAVEOUTCAPSA* caps) { GetDevCaps(index, caps, sizeof *caps); });
}

UINT Win32WaveOut::GetNumDevs()
{
    return waveOutGetNumDevs();
}

MMRESULT Win32WaveOut::GetDevCaps(UINT deviceId, WAVEOUTCAPSA* caps, UINT capsSize)
{
    return waveOutGetDevCapsA(deviceId, caps, capsSize);
}

MMRESULT Win32WaveOut::Open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format,
                            DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    if (format != nullptr && !IsDeviceSampleRate(format->nSamplesPerSec)) {
        *handle = nullptr;
        return WAVERR_BADFORMAT;
    }
    return waveOutOpen(handle, deviceId, format, callback, instance, flags);
}

MMRESULT Win32WaveOut::PrepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize)
{
    return waveOutPrepareHeader(handle, header, headerSize);
}

MMRESULT Win32WaveOut::Write(HWAVEOUT handle, WAVEHDR* header, UINT headerSize)
{
    return waveOutWrite(handle, header, headerSize);
}

MMRESULT Win32WaveOut::Reset(HWAVEOUT handle)
{
    return waveOutReset(handle);
}

MMRESULT Win32WaveOut::UnprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT headerSize)
{
    return waveOutUnprepareHeader(handle, header, headerSize);
}

MMRESULT Win32WaveOut::Close(HWAVEOUT handle)
{
    return waveOutClose(handle);
}

MMRESULT Win32WaveOut::GetErrorText(MMRESULT error, char* text, UINT textSize)
{
    return waveOutGetErrorTextA(error, text, textSize);
}
