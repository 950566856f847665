// The receiver's main dialog: start-up, the six controls, the dialog
// procedure and the readouts the correlator writes into the controls.
#include "receiver/receiver.h"

#include "common/ui_facts.h"
#include "platform/controls.h"
#include "platform/trackbar.h"

#include <commctrl.h>

namespace {

// A sizing border and a minimise box, no maximise box.
constexpr DWORD MAIN_DIALOG_STYLE = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
static_assert(MAIN_DIALOG_STYLE == 0x90CE0000, "the receiver's documented window style");
constexpr int MAIN_CLIENT_WIDTH = 1040;
constexpr int MAIN_CLIENT_HEIGHT = 350;

constexpr DWORD GRAPHIC_SURFACE_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_OWNERDRAW;
constexpr DWORD LABEL_STYLE = WS_CHILD | WS_VISIBLE | SS_LEFT;

DialogLayout MainDialogSpec()
{
    DialogLayout layout;
    layout.caption = RECEIVER_TITLE;
    // Centred in the work area; the template also carries DS_SETFONT,
    // DS_3DLOOK and DS_NOFAILCREATE.
    layout.style = MAIN_DIALOG_STYLE | DS_CENTER;
    layout.units = DialogUnits::Pixels;
    layout.width = MAIN_CLIENT_WIDTH;
    layout.height = MAIN_CLIENT_HEIGHT;
    return layout;
}

} // namespace

Receiver::Receiver(WaveInDevice& waveIn, MessageBoxes& messageBoxes, ReceiverSettings settings)
    : sampleRate(settings.sampleRate),
      carrierFrequency(settings.carrierFrequency),
      captureHeap(GetProcessHeap()),
      soundcard(AudioDirection::Input, waveIn, messageBoxes, selectedDevice),
      waveIn(waveIn),
      messageBoxes(messageBoxes)
{
    // Recording stops while the selection dialog is open and starts again,
    // on whatever device is then selected, however the dialog ended.
    soundcard.beforeModalRun = [this] { PauseCapture(); };
    soundcard.afterModalRun = [this] { StartCapture(); };
    correlator.ConnectReadouts(this);
}

Receiver::~Receiver()
{
    ReleaseCaptureDevice();
}

HWND Receiver::CreateMainDialog()
{
    dialog = std::make_unique<Dialog>(MainDialogSpec(), [this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        return MainDialogProc(window, message, wParam, lParam);
    });
    mainDialog = dialog->Create();
    // Creation order is the tab and z order. The waterfall reaches one
    // pixel past the client area's right edge; that column is clipped.
    CreateGraphicSurface(ID_WATERFALL, 5, 50, WATERFALL_WIDTH, WATERFALL_HEIGHT, waterfallPicture);
    CreateGraphicSurface(ID_CURVE, 5, 251, CURVE_WIDTH, CURVE_HEIGHT, curvePicture);
    dialog->AddControl({ID_SOUNDCARD_BUTTON, "BUTTON", "Soundcard", 350, 1, 90, 25, PUSH_BUTTON_STYLE, 0,
                        [this](HWND window, WPARAM, LPARAM) { return soundcard.ChangeSoundcard(window); }});
    dialog->AddControl({ID_PEAK_LABEL, "STATIC", "Correlation peak", 120, 15, 190, 25, LABEL_STYLE});
    CreateClockTrackbar();
    dialog->AddControl({ID_CLOCK_LABEL, "STATIC", "Clock error 0.000%", 1, 32, 100, 18, LABEL_STYLE});
    correlator.display.Connect(&waterfallPicture, &curvePicture, GetSysColor(COLOR_BTNFACE));
    return mainDialog;
}

void Receiver::CreateGraphicSurface(int id, int x, int y, int width, int height, PictureControl& picture)
{
    HWND control = dialog->AddControl({id, "STATIC", "", x, y, width, height, GRAPHIC_SURFACE_STYLE});
    picture.Attach(control);
}

// An ordinary child window rather than a dialog control: no instance
// handle, no creation data, no font. The range is set without a redraw,
// the position with one.
void Receiver::CreateClockTrackbar()
{
    clockTrackbar = CreateWindowExA(WS_EX_STATICEDGE, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE, 1, 1, 100, 30,
                                    mainDialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_CLOCK_TRACKBAR)),
                                    nullptr, nullptr);
    SetTrackbarRange(clockTrackbar, CLOCK_TRACKBAR_MINIMUM, CLOCK_TRACKBAR_MAXIMUM, false);
    SetTrackbarPosition(clockTrackbar, CLOCK_TRACKBAR_CENTRE, true);
}

void Receiver::RunMainDialog()
{
    dialog->RunModal();
}

// Returns 0 for every message: the standard handling always follows (it
// ends the dialog on the close box).
INT_PTR Receiver::MainDialogProc(HWND /*window*/, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        correlator.InitCorrelator(sampleRate, carrierFrequency);
        StartCapture();
        break;
    case MM_WIM_DATA:
        OnCaptureData(reinterpret_cast<HWAVEIN>(wParam), reinterpret_cast<WAVEHDR*>(lParam));
        break;
    case WM_HSCROLL: // only the trackbar sends it
        if (const auto position = ScrolledTrackbarPosition(wParam, [this] { return GetTrackbarPosition(clockTrackbar); }))
            correlator.SetClockPosition(*position);
        break;
    default:
        break;
    }
    return 0;
}

void Receiver::SetPeakText(const char* text)
{
    SetControlText(mainDialog, ID_PEAK_LABEL, text);
}

void Receiver::SetClockText(const char* text)
{
    SetControlText(mainDialog, ID_CLOCK_LABEL, text);
}

void Receiver::EndMainDialog()
{
    if (mainDialog != nullptr && IsWindow(mainDialog))
        EndDialogWindow(mainDialog);
}

int ReceiverMain(WaveInDevice& waveIn, MessageBoxes& messageBoxes)
{
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES}; // the trackbar
    InitCommonControlsEx(&classes);
    auto receiver = std::make_unique<Receiver>(waveIn, messageBoxes, LoadSettings<float>());
    receiver->CreateMainDialog();
    receiver->RunMainDialog();
    // The dialog has ended: nothing is left to take the device's notifications.
    receiver->ReleaseCaptureDevice();
    return 0;
}
