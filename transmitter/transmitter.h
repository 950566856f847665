// pharolet, the transmitter: its whole state, one instance per program.
//
// The main dialog's procedure, TransmitterDialogProc, is the program's hub:
// WM_INITDIALOG sets up the buffer stores and the synthesis; the on/off
// button starts or stops the transmission; the wave-out device's
// notifications come back to it as window messages; a close request is
// held back while the device is open. Playback (playback.cpp) keeps 1500
// one-symbol buffers queued at the device and refills each buffer it gets
// back with the next symbol, so the signal runs without a gap.
#pragma once

#include "common/settings.h"
#include "common/ui_facts.h"
#include "platform/soundcard_dialog.h"
#include "platform/dialog.h"
#include "platform/message_boxes.h"
#include "platform/wave_format.h"
#include "platform/wave_out.h"
#include "transmitter/dsp/synthesis.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

constexpr int BUFFER_COUNT = 1500;                         // one-symbol buffers in flight
constexpr int BUFFER_BYTES = SAMPLES_PER_SYMBOL * 2;       // one symbol of 16-bit samples: 8
constexpr int SAMPLE_SLOT_BYTES = BUFFER_BYTES + 1;        // a buffer and one byte never written or played
// How long a close request waits for the device's close notification. A
// device that vanished (unplugged, its audio server gone) may never send
// it; the window must still close.
constexpr DWORD CLOSE_WAIT_MS = 3000;

// The wave-out device's life, one state at a time:
//   Closed  --open succeeds-------------------> Opening
//   Opening --MM_WOM_OPEN: every buffer queued--> Playing
//   Opening or Playing --StopTransmission: reset--> Stopping
//   Stopping --MM_WOM_OPEN or a buffer back: headers unprepared, close--> Closing
//   Closing --MM_WOM_CLOSE--> Closed
// The on/off button reads "Turn Off" from the open notification to the
// close notification.
enum class DeviceState { Closed, Opening, Playing, Stopping, Closing };

class Transmitter {
public:
    Transmitter(WaveOutDevice& waveOut, MessageBoxes& messageBoxes, TransmitterSettings settings);

    // Start-up: the main dialog and its two buttons, not yet shown.
    HWND CreateMainDialog();
    // Shows the main dialog modally; returns when it has ended.
    void RunMainDialog();
    // The main dialog's framework object (tests start and pump it themselves).
    Dialog& MainDialog() { return *dialog; }

    INT_PTR TransmitterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    // The main dialog's modal loop found nothing to do: ends a held-back
    // close request whose device has not reported its close in time.
    void OnIdle();

    // Playback.
    void AllocateBufferStores();
    void StartTransmission();
    void StopTransmission();
    void OnWaveOutOpen();
    void OnWaveOutDone(WAVEHDR* header);
    void OnWaveOutClose();

    // Start-up state.
    HWND mainDialog = nullptr;
    int32_t sampleRate;
    double carrierFrequency;
    bool closePending = false;  // a close request waits for the device to close
    DWORD closeRequestedAt = 0; // millisecondClock() at the first held-back close request
    // Milliseconds from any fixed point, wrapping; a test puts its own clock here.
    std::function<DWORD()> millisecondClock = [] { return GetTickCount(); };

    // Device state.
    DeviceState deviceState = DeviceState::Closed;
    HWAVEOUT waveOutHandle = nullptr; // set from Opening to Closed
    int32_t selectedDevice = 0; // wave-out device index; -1 is WAVE_MAPPER
    WAVEFORMATEX waveFormat{};
    std::vector<unsigned char> sampleSlots; // BUFFER_COUNT slots of SAMPLE_SLOT_BYTES, one block
    std::vector<WAVEHDR> waveHeaders;       // header i always describes buffer i

    Synthesis synthesis;
    SoundcardSelection soundcard;

private:
    INT_PTR RequestClose(HWND dialog);
    void ToggleTransmission();
    // The selection dialog asks for the device: a running signal stops.
    void ReleaseDevice();
    void CloseDevice();
    char* SampleBuffer(int index);
    bool IsOwnHeader(const WAVEHDR* header) const;

    WaveOutDevice& waveOut;
    MessageBoxes& messageBoxes;
    std::unique_ptr<Dialog> dialog;
};

// The program: reads "STANAG.SET", runs the main dialog, returns 0 when it
// has ended.
int PharoletMain(WaveOutDevice& waveOut, MessageBoxes& messageBoxes);
