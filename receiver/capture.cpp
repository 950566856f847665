// Audio capture through a ring of eight wave-in buffers. The device returns
// each filled buffer with MM_WIM_DATA on the GUI thread; the correlator
// consumes it and the same header goes straight back to the tail of the
// device's queue, so the eight buffers circulate in a fixed order. Nothing
// is allocated while recording: the buffers come from the heap once per
// start and go back to it when the device is released.
#include "receiver/receiver.h"

namespace {

// Every message box of the capture path.
constexpr UINT CAPTURE_BOX_STYLE = MB_OK | MB_TASKMODAL | MB_SETFOREGROUND;

// waveInGetErrorTextA's text buffer, in characters.
constexpr UINT ERROR_TEXT_LENGTH = 127;

} // namespace

// Opens selectedDevice, allocates and queues the ring, starts recording.
// Any device still open (a restart after the selection dialog) is released
// first. After a failure, which has shown its message, whatever was opened
// or allocated is released and the main dialog ends.
bool Receiver::StartCapture()
{
    ReleaseCaptureDevice();
    const bool started = OpenCaptureDevice(mainDialog) && AllocateCaptureBuffers() && QueueCaptureBuffers()
                         && StartRecording();
    if (!started) {
        ReleaseCaptureDevice();
        EndMainDialog();
    }
    return started;
}

bool Receiver::OpenCaptureDevice(HWND notifyWindow)
{
    SetWaveFormat(captureFormat, 1, sampleRate, 16);

    // selectedDevice -1 is passed on as WAVE_MAPPER (0xFFFFFFFF).
    const MMRESULT result = waveIn.Open(&waveInHandle, static_cast<UINT>(selectedDevice), &captureFormat,
                                        reinterpret_cast<DWORD_PTR>(notifyWindow),
                                        reinterpret_cast<DWORD_PTR>(notifyWindow), CALLBACK_WINDOW);
    if (result == MMSYSERR_NOERROR)
        return true;
    waveInHandle = nullptr; // a failed open leaves no device behind
    messageBoxes.Show(nullptr, "No suitable device found", RECEIVER_BOX_CAPTION, CAPTURE_BOX_STYLE);
    return false;
}

bool Receiver::AllocateCaptureBuffers()
{
    FreeCaptureBuffers();
    captureHeaders.fill(WAVEHDR{});
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k) {
        void* buffer = HeapAlloc(captureHeap, HEAP_ZERO_MEMORY, CAPTURE_BUFFER_BYTES);
        if (buffer == nullptr) {
            messageBoxes.Show(nullptr, "Can\xB4t alloc Buffers", RECEIVER_BOX_CAPTION, CAPTURE_BOX_STYLE);
            return false;
        }
        captureHeaders[k].lpData = static_cast<LPSTR>(buffer);
        captureHeaders[k].dwBufferLength = CAPTURE_BUFFER_BYTES;
    }
    return true;
}

bool Receiver::QueueCaptureBuffers()
{
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k) {
        MMRESULT result = waveIn.PrepareHeader(waveInHandle, &captureHeaders[k], WAVE_HEADER_SIZE);
        if (result == MMSYSERR_NOERROR)
            result = waveIn.AddBuffer(waveInHandle, &captureHeaders[k], WAVE_HEADER_SIZE);
        if (result != MMSYSERR_NOERROR) {
            ReportWaveInError(result);
            return false;
        }
    }
    return true;
}

bool Receiver::StartRecording()
{
    const MMRESULT result = waveIn.Start(waveInHandle);
    if (result == MMSYSERR_NOERROR)
        return true;
    ReportWaveInError(result);
    return false;
}

// The header is still marked prepared, so the prepare succeeds without
// effect; the add puts it at the tail of the device's queue.
void Receiver::RequeueCaptureBuffer(WAVEHDR* header)
{
    MMRESULT result = waveIn.PrepareHeader(waveInHandle, header, WAVE_HEADER_SIZE);
    if (result == MMSYSERR_NOERROR)
        result = waveIn.AddBuffer(waveInHandle, header, WAVE_HEADER_SIZE);
    if (result != MMSYSERR_NOERROR) {
        ReportWaveInError(result);
        EndMainDialog();
    }
}

// Recording stops without closing the device. The buffer being filled
// comes back at once, shorter, as an ordinary MM_WIM_DATA: it is processed
// and queued again on the stopped device. Empty buffers stay queued.
void Receiver::PauseCapture()
{
    if (waveInHandle != nullptr)
        waveIn.Stop(waveInHandle); // the result is not examined
}

void Receiver::ReportWaveInError(MMRESULT code)
{
    char text[ERROR_TEXT_LENGTH] = "";
    waveIn.GetErrorText(code, text, ERROR_TEXT_LENGTH);
    text[ERROR_TEXT_LENGTH - 1] = '\0';
    messageBoxes.Show(nullptr, text, RECEIVER_BOX_CAPTION, CAPTURE_BOX_STYLE);
}

// Processing always comes before the re-queue. A notification is acted on
// only for one of our headers, returned by the device that is open now and
// no longer held by it: a header that a released device returns late is
// neither read nor queued again.
void Receiver::OnCaptureData(HWAVEIN device, WAVEHDR* header)
{
    if (waveInHandle == nullptr || device != waveInHandle || !IsOwnHeader(header))
        return;
    if (header->dwFlags & WHDR_INQUEUE)
        return;
    correlator.ResampleBuffer({reinterpret_cast<const unsigned char*>(header->lpData), header->dwBufferLength,
                               header->dwBytesRecorded});
    RequeueCaptureBuffer(header);
}

bool Receiver::IsOwnHeader(const WAVEHDR* header) const
{
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k) {
        if (header == &captureHeaders[k])
            return captureHeaders[k].lpData != nullptr;
    }
    return false;
}

// In the order a device is released: stop, return every queued buffer,
// unprepare the eight headers, close; only then are the buffers freed.
void Receiver::ReleaseCaptureDevice()
{
    if (waveInHandle != nullptr) {
        waveIn.Stop(waveInHandle);
        waveIn.Reset(waveInHandle);
        for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k)
            waveIn.UnprepareHeader(waveInHandle, &captureHeaders[k], WAVE_HEADER_SIZE);
        waveIn.Close(waveInHandle);
        waveInHandle = nullptr;
        DiscardCaptureNotifications();
    }
    FreeCaptureBuffers();
}

// The reset returned every queued buffer with MM_WIM_DATA, and those
// notifications still wait in the queue. They must not reach the next
// device's handling: a driver may give the reopened device the very handle
// the closed one had (Wine does), and the header table is reused, so
// neither the handle nor the header could tell them apart afterwards.
void Receiver::DiscardCaptureNotifications()
{
    if (mainDialog == nullptr)
        return;
    MSG message;
    while (PeekMessageA(&message, mainDialog, MM_WIM_OPEN, MM_WIM_DATA, PM_REMOVE)) {
    }
}

void Receiver::FreeCaptureBuffers()
{
    for (int k = 1; k <= CAPTURE_BUFFER_COUNT; ++k) {
        if (captureHeaders[k].lpData != nullptr)
            HeapFree(captureHeap, 0, captureHeaders[k].lpData);
        captureHeaders[k].lpData = nullptr;
    }
}
