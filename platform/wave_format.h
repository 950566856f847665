// The PCM format and the wave headers both programs hand to WINMM.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

// The headerSize argument of every waveIn/waveOut header call: the WAVEHDR
// of the build (32 bytes in the shipped 32-bit program, 48 in a 64-bit one).
constexpr UINT WAVE_HEADER_SIZE = sizeof(WAVEHDR);

// Fills a PCM format: the rate and the derived byte counts, cbSize 0.
void SetWaveFormat(WAVEFORMATEX& format, WORD channels, int32_t samplesPerSecond, WORD bitsPerSample);
// Points a header at its buffer, every other field 0 (dwFlags too, so the
// header can be prepared again).
void SetWaveHeader(WAVEHDR& header, char* data, DWORD length, DWORD loops);
