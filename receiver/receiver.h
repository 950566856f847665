// quorvane, the receiver: its whole state, one instance per program.
//
// The main dialog's procedure, MainDialogProc, is the program's hub:
// WM_INITDIALOG sets up the correlator and starts capture; every filled
// capture buffer comes back from the wave-in driver as MM_WIM_DATA, is fed
// through the correlator (which rewrites the peak label and draws the two
// pictures) and is queued again; WM_HSCROLL from the trackbar sets the
// clock correction. Capture (capture.cpp) keeps a ring of eight buffers
// queued at the device; the "Soundcard" button pauses it around the
// selection dialog and restarts it on the chosen device.
#pragma once

#include "common/settings.h"
#include "common/ui_facts.h"
#include "platform/soundcard_dialog.h"
#include "platform/dialog.h"
#include "platform/message_boxes.h"
#include "platform/picture_control.h"
#include "platform/wave_format.h"
#include "platform/wave_in.h"
#include "receiver/dsp/correlator.h"

#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <cstdint>
#include <memory>

// The capture ring: headers 1..8 of captureHeaders, each with its own
// buffer of CAPTURE_BUFFER_BYTES (1024 samples; correlator.h).
constexpr int CAPTURE_BUFFER_COUNT = 8;

class Receiver final : private ReadoutSink {
public:
    Receiver(WaveInDevice& waveIn, MessageBoxes& messageBoxes, ReceiverSettings settings);
    ~Receiver() override;
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Start-up: the main dialog and its six controls, not yet shown.
    HWND CreateMainDialog();
    // Shows the main dialog modally; returns when it has ended.
    void RunMainDialog();
    // The main dialog's framework object (tests start and pump it themselves).
    Dialog& MainDialog() { return *dialog; }

    INT_PTR MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    // Capture.
    bool StartCapture();
    bool OpenCaptureDevice(HWND notifyWindow);
    bool AllocateCaptureBuffers();
    bool QueueCaptureBuffers();
    void RequeueCaptureBuffer(WAVEHDR* header);
    void PauseCapture();
    void ReportWaveInError(MMRESULT code);
    // Stops and closes the open device and frees the ring's buffers.
    void ReleaseCaptureDevice();
    // MM_WIM_DATA: `device` is its wParam, `header` its lParam.
    void OnCaptureData(HWAVEIN device, WAVEHDR* header);

    // Start-up state.
    HWND mainDialog = nullptr;
    int32_t sampleRate;
    float carrierFrequency;

    // Capture state.
    HWAVEIN waveInHandle = nullptr;
    int32_t selectedDevice = 0; // wave-in device index; -1 is WAVE_MAPPER
    WAVEFORMATEX captureFormat{};
    std::array<WAVEHDR, CAPTURE_BUFFER_COUNT + 1> captureHeaders{}; // 1..8 used, 0 never
    // Where the capture buffers come from: the process heap (a test may
    // give a heap of its own).
    HANDLE captureHeap;

    Correlator correlator;
    PictureControl waterfallPicture;
    PictureControl curvePicture;
    SoundcardSelection soundcard;

private:
    // The readouts the correlator writes, over the two labels.
    void SetPeakText(const char* text) override;
    void SetClockText(const char* text) override;

    void CreateGraphicSurface(int id, int x, int y, int width, int height, PictureControl& picture);
    void CreateClockTrackbar();
    bool StartRecording();
    void FreeCaptureBuffers();
    void DiscardCaptureNotifications();
    bool IsOwnHeader(const WAVEHDR* header) const;
    void EndMainDialog();

    WaveInDevice& waveIn;
    MessageBoxes& messageBoxes;
    std::unique_ptr<Dialog> dialog;
    HWND clockTrackbar = nullptr;
};

// The program: reads "STANAG.SET", runs the main dialog, releases the
// capture device and returns 0 when the dialog has ended.
int ReceiverMain(WaveInDevice& waveIn, MessageBoxes& messageBoxes);
