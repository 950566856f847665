#include "platform/wave_format.h"

#include "common/rounding.h"

void SetWaveFormat(WAVEFORMATEX& format, WORD channels, int32_t samplesPerSecond, WORD bitsPerSample)
{
    const long double rate = samplesPerSecond;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = static_cast<DWORD>(samplesPerSecond);
    // Both taken to the nearest integer (halves to even); for 16-bit mono
    // they are exactly 2 x rate and 2. A negative rate wraps like the rate
    // itself, and the device refuses it.
    format.nAvgBytesPerSec = static_cast<DWORD>(RoundHalfEven(channels * rate * bitsPerSample / 8));
    format.nBlockAlign = static_cast<WORD>(RoundHalfEven(static_cast<long double>(bitsPerSample) * channels / 8));
    format.wBitsPerSample = bitsPerSample;
    format.cbSize = 0;
}

void SetWaveHeader(WAVEHDR& header, char* data, DWORD length, DWORD loops)
{
    header = WAVEHDR{};
    header.lpData = data;
    header.dwBufferLength = length;
    header.dwLoops = loops;
}
