// Gap-free playback through a ring of BUFFER_COUNT one-symbol wave-out
// buffers. The device returns each buffer with MM_WOM_DONE on the GUI
// thread; the buffer is refilled in place with the next symbol and queued
// again at the tail, so the ring's order never changes and the synthesis
// state advances exactly once per refilled buffer. The buffers and headers
// are allocated once, at start-up; while a transmission runs nothing is
// copied or prepared, and the only allocation is the synthesis's delay
// line, made once, on the first refill.
#include "transmitter/transmitter.h"

#include "common/ui_facts.h"
#include "platform/controls.h"

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
    SetWaveFormat(waveFormat, 1, sampleRate, 16);
    const MMRESULT result = waveOut.Open(&waveOutHandle, static_cast<UINT>(selectedDevice), &waveFormat,
                                         reinterpret_cast<DWORD_PTR>(mainDialog), 0, CALLBACK_WINDOW);
    if (result != MMSYSERR_NOERROR) {
        waveOutHandle = nullptr;
        deviceState = DeviceState::Closed;
        messageBoxes.Beep(MB_ICONEXCLAMATION);
        messageBoxes.Show(nullptr, "Error opening waveform audio device!", TRANSMITTER_BOX_CAPTION, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    deviceState = DeviceState::Opening;
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        SetWaveHeader(waveHeaders[i], SampleBuffer(i), BUFFER_BYTES, 1);
        waveOut.PrepareHeader(waveOutHandle, &waveHeaders[i], WAVE_HEADER_SIZE);
    }
}

// Output stops at once: the reset discards what is queued and returns
// every buffer with MM_WOM_DONE; the first of those closes the device.
void Transmitter::StopTransmission()
{
    if (deviceState != DeviceState::Opening && deviceState != DeviceState::Playing)
        return;
    deviceState = DeviceState::Stopping;
    waveOut.Reset(waveOutHandle);
}

// All buffers go out with what they hold: silence after start-up, or the
// samples each slot held when the previous transmission stopped.
void Transmitter::OnWaveOutOpen()
{
    if (deviceState == DeviceState::Closed)
        return;
    SetControlText(mainDialog, ID_TRANSMIT_BUTTON, "Turn Off");
    if (deviceState == DeviceState::Stopping) {
        // Stopped before the device reported open: nothing was queued, so
        // no buffer will come back to close it.
        CloseDevice();
        return;
    }
    if (deviceState != DeviceState::Opening)
        return; // the device reports its open once; the buffers are queued already
    for (int i = 0; i < BUFFER_COUNT; ++i)
        waveOut.Write(waveOutHandle, &waveHeaders[i], WAVE_HEADER_SIZE);
    deviceState = DeviceState::Playing;
}

void Transmitter::OnWaveOutDone(WAVEHDR* header)
{
    if (!IsOwnHeader(header))
        return;
    if (deviceState == DeviceState::Stopping || deviceState == DeviceState::Closing) {
        CloseDevice(); // the first buffer back after the reset; the others do nothing
        return;
    }
    if (deviceState != DeviceState::Playing)
        return; // nothing is queued before the open notification

    synthesis.AdvanceSymbol();
    synthesis.FillSymbolSamples(reinterpret_cast<unsigned char*>(header->lpData), synthesis.currentSymbol);
    waveOut.Write(waveOutHandle, header, WAVE_HEADER_SIZE);
}

// Every header is unprepared before the device is closed; the handle stays
// set until MM_WOM_CLOSE.
void Transmitter::CloseDevice()
{
    if (deviceState == DeviceState::Closing)
        return;
    deviceState = DeviceState::Closing;
    for (int i = 0; i < BUFFER_COUNT; ++i)
        waveOut.UnprepareHeader(waveOutHandle, &waveHeaders[i], WAVE_HEADER_SIZE);
    waveOut.Close(waveOutHandle);
}

void Transmitter::OnWaveOutClose()
{
    deviceState = DeviceState::Closed;
    waveOutHandle = nullptr;
    SetControlText(mainDialog, ID_TRANSMIT_BUTTON, "Turn On");
    if (closePending)
        EndDialogWindow(mainDialog);
}
