// The transmitter's main dialog: start-up, the dialog procedure and the
// close request.
#include "transmitter/transmitter.h"

#include "common/ui_facts.h"
#include "platform/controls.h"

namespace {

constexpr DWORD MAIN_DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
static_assert(MAIN_DIALOG_STYLE == 0x80C80880, "the transmitter's documented window style");

DialogLayout MainDialogSpec()
{
    DialogLayout layout;
    layout.caption = TRANSMITTER_TITLE;
    layout.style = MAIN_DIALOG_STYLE;
    layout.units = DialogUnits::DialogUnits;
    layout.width = 178;
    layout.height = 44;
    return layout;
}

} // namespace

Transmitter::Transmitter(WaveOutDevice& waveOut, MessageBoxes& messageBoxes, TransmitterSettings settings)
    : sampleRate(settings.sampleRate),
      carrierFrequency(settings.carrierFrequency),
      soundcard(AudioDirection::Output, waveOut, messageBoxes, selectedDevice),
      waveOut(waveOut),
      messageBoxes(messageBoxes)
{
    soundcard.releaseDevice = [this] { ReleaseDevice(); };
}

HWND Transmitter::CreateMainDialog()
{
    dialog = std::make_unique<Dialog>(MainDialogSpec(), [this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        return TransmitterDialogProc(window, message, wParam, lParam);
    });
    mainDialog = dialog->Create();
    dialog->SetIdleHandler([this] { OnIdle(); });
    // Creation order is the tab order: "Turn On" at the right, then
    // "Soundcard" at the left edge; the upper 23 units stay empty.
    dialog->AddControl({ID_TRANSMIT_BUTTON, "BUTTON", "Turn On", 121, 23, 50, 14, PUSH_BUTTON_STYLE});
    dialog->AddControl({ID_SOUNDCARD_BUTTON, "BUTTON", "Soundcard", 1, 23, 50, 14, PUSH_BUTTON_STYLE, 0,
                        [this](HWND window, WPARAM, LPARAM) { return soundcard.ChangeSoundcard(window); }});
    return mainDialog;
}

void Transmitter::RunMainDialog()
{
    dialog->RunModal();
}

INT_PTR Transmitter::TransmitterDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        AllocateBufferStores();
        synthesis.sampleRate = sampleRate;
        synthesis.carrierFrequency = carrierFrequency;
        synthesis.InitSynthesis();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == ID_TRANSMIT_BUTTON)
            ToggleTransmission();
        else if (LOWORD(wParam) == IDCANCEL) // Esc: exactly like the close box
            SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            return RequestClose(window);
        return 0;
    case MM_WOM_OPEN:
        OnWaveOutOpen();
        return 0;
    case MM_WOM_DONE:
        OnWaveOutDone(reinterpret_cast<WAVEHDR*>(lParam));
        return 0;
    case MM_WOM_CLOSE:
        OnWaveOutClose();
        return 0;
    default:
        return 0;
    }
}

// Decided by the device, not by the caption: "Turn Off" only shows from
// the device's open notification on.
void Transmitter::ToggleTransmission()
{
    if (deviceState == DeviceState::Closed)
        StartTransmission();
    else
        StopTransmission();
}

// Only a signal that shows "Turn Off" and is not yet stopping needs it; one
// still opening is stopped at "OK", once its open notification came.
void Transmitter::ReleaseDevice()
{
    if (deviceState == DeviceState::Playing)
        StopTransmission();
}

// With no device open the standard handling ends the dialog. Otherwise the
// request is held back: the device is stopped, and its close notification
// ends the dialog, so the program never ends with the device open.
INT_PTR Transmitter::RequestClose(HWND /*window*/)
{
    if (deviceState == DeviceState::Closed)
        return 0;
    if (!closePending)
        closeRequestedAt = millisecondClock();
    closePending = true;
    StopTransmission();
    return 1;
}

// A device that vanished while it played may never report its close, and
// the window would then stay open for good: after CLOSE_WAIT_MS the dialog
// ends without it. The device is then released with the process.
void Transmitter::OnIdle()
{
    if (!closePending || deviceState == DeviceState::Closed || mainDialog == nullptr || !IsWindow(mainDialog))
        return;
    // Unsigned difference: right across the clock's wrap.
    if (millisecondClock() - closeRequestedAt >= CLOSE_WAIT_MS)
        EndDialogWindow(mainDialog);
}

int PharoletMain(WaveOutDevice& waveOut, MessageBoxes& messageBoxes)
{
    Transmitter transmitter(waveOut, messageBoxes, LoadSettings<double>());
    transmitter.CreateMainDialog();
    transmitter.RunMainDialog();
    return 0;
}
