// Gap-free playback through a ring of BUFFER_COUNT one-symbol wave-out
// buffers. The device returns each buffer with MM_WOM_DONE on the GUI
// thread; the buffer is refilled in place with the next symbol and queued
// again at the tail, so the ring's order never changes and the synthesis
// state advances exactly once per refilled buffer. Nothing is allocated,
// copied or prepared while a transmission runs.
#include "transmitter/transmitter.h"

#include "common/control_ids.h"
#include "common/rounding.h"
#include "platform/controls.h"

namespace {

constexpr UINT HEADER_SIZE = sizeof(WAVEHDR);

} // namespace

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

// Both stores are allocated once, zero-filled, and never moved: the device
// holds their addresses while a transmission runs.
void Transmitter::AllocateBufferStores()
{
    if (sampleSlots.empty())
        sampleSlots.assign(static_cast<size_t>(BUFFER_COUNT) * SAMPLE_SLOT_BYTES, 0);
    if (waveHeaders.empty())
        waveHeaders.assign(BUFFER_COUNT, WAVEHDR{});
}

char* Transmitter::SampleBuffer(int index)
{
    return reinterpret_cast<char*>(&sampleSlots[static_cast<size_t>(index) * SAMPLE_SLOT_BYTES]);
}

// The header in a notification's lParam is written to: only our own
// headers are accepted, whoever posted the message.
bool Transmitter::IsOwnHeader(const WAVEHDR* header) const
{
    if (waveHeaders.empty() || header < waveHeaders.data() || header >= waveHeaders.data() + waveHeaders.size())
        return false;
    const auto offset = reinterpret_cast<const char*>(header) - reinterpret_cast<const char*>(waveHeaders.data());
    return offset % sizeof(WAVEHDR) == 0;
}

// Opens the device and prepares every header; the buffers are queued only
// when the device reports that it is open (OnWaveOutOpen).
void Transmitter::StartTransmission()
{
    stopRequested = 0;
    closeIssued = 0;
    SetWaveFormat(waveFormat, 1, sampleRate, 16);
    const MMRESULT result = waveOut.Open(&waveOutHandle, static_cast<UINT>(selectedDevice), &waveFormat,
                                         reinterpret_cast<DWORD_PTR>(mainDialog), 0, CALLBACK_WINDOW);
    if (result != MMSYSERR_NOERROR) {
        waveOutHandle = nullptr;
        messageBoxes.Beep(MB_ICONEXCLAMATION);
        messageBoxes.Show(nullptr, "Error opening waveform audio device!", "STANAG 4285", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        SetWaveHeader(waveHeaders[i], SampleBuffer(i), BUFFER_BYTES, 1);
        waveOut.PrepareHeader(waveOutHandle, &waveHeaders[i], HEADER_SIZE);
    }
}

// Output stops at once: the reset discards what is queued and returns
// every buffer with MM_WOM_DONE; the first of those closes the device.
void Transmitter::StopTransmission()
{
    if (stopRequested)
        return;
    stopRequested = 1;
    waveOut.Reset(waveOutHandle);
}

// All buffers go out with what they hold: silence after start-up, or the
// samples each slot held when the previous transmission stopped.
void Transmitter::OnWaveOutOpen()
{
    if (waveOutHandle == nullptr)
        return;
    SetControlText(mainDialog, ID_TRANSMIT_BUTTON, "Turn Off");
    if (stopRequested) {
        // Stopped before the device reported open: nothing was queued, so
        // no buffer will come back to close it.
        CloseDevice();
        return;
    }
    for (int i = 0; i < BUFFER_COUNT; ++i)
        waveOut.Write(waveOutHandle, &waveHeaders[i], HEADER_SIZE);
}

void Transmitter::OnWaveOutDone(WAVEHDR* header)
{
    if (waveOutHandle == nullptr || !IsOwnHeader(header))
        return;
    if (stopRequested) {
        CloseDevice(); // the first buffer back after the reset; the others do nothing
        return;
    }
    synthesis.AdvanceSymbol();
    synthesis.FillSymbolSamples(reinterpret_cast<unsigned char*>(header->lpData), synthesis.currentSymbol);
    waveOut.Write(waveOutHandle, header, HEADER_SIZE);
}

// Every header is unprepared before the device is closed; the handle stays
// set until MM_WOM_CLOSE.
void Transmitter::CloseDevice()
{
    if (closeIssued)
        return;
    closeIssued = 1;
    for (int i = 0; i < BUFFER_COUNT; ++i)
        waveOut.UnprepareHeader(waveOutHandle, &waveHeaders[i], HEADER_SIZE);
    waveOut.Close(waveOutHandle);
}

void Transmitter::OnWaveOutClose()
{
    waveOutHandle = nullptr;
    SetControlText(mainDialog, ID_TRANSMIT_BUTTON, "Turn On");
    if (closePending)
        EndDialogWindow(mainDialog);
}
