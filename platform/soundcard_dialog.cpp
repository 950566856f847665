#include "platform/soundcard_dialog.h"

#include "common/ui_facts.h"
#include "platform/controls.h"
#include "platform/dialog.h"

namespace {

constexpr COLORREF SOUNDCARD_BACKGROUND = RGB(224, 255, 255);
// No CBS_SORT: the list position is the device index.
constexpr DWORD DEVICE_LIST_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWN;
static_assert(DEVICE_LIST_STYLE == 0x50010002, "the device list's documented style");

DialogLayout SoundcardDialogSpec(HWND owner)
{
    DialogLayout layout;
    layout.caption = SOUNDCARD_TITLE;
    layout.style = WS_SYSMENU; // an overlapped window: caption bar with a close box
    layout.extendedStyle = WS_EX_TOOLWINDOW;
    layout.units = DialogUnits::Pixels;
    layout.x = 100; // relative to the main dialog's client area
    layout.y = 100;
    layout.width = 237;
    layout.height = 60;
    layout.owner = owner;
    layout.background = SOUNDCARD_BACKGROUND;
    return layout;
}

} // namespace

SoundcardSelection::SoundcardSelection(AudioDirection direction, WaveDeviceCatalog& devices,
                                       MessageBoxes& messageBoxes, int32_t& selectedDevice)
    : direction(direction), devices(devices), messageBoxes(messageBoxes), selectedDevice(selectedDevice)
{
}

INT_PTR SoundcardSelection::ChangeSoundcard(HWND mainDialog)
{
    Dialog dialog(SoundcardDialogSpec(mainDialog), [this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        return SoundcardDialogProc(window, message, wParam, lParam);
    });
    soundcardDialog = dialog.Create();
    dialog.AddControl({ID_DEVICE_LIST, "COMBOBOX", "", 1, 2, 180, 140, DEVICE_LIST_STYLE});
    dialog.AddControl({ID_DEVICE_OK, "BUTTON", "OK", 10, 26, 70, 23, PUSH_BUTTON_STYLE});

    if (beforeModalRun)
        beforeModalRun();
    dialog.RunModal();
    soundcardDialog = nullptr;
    if (afterModalRun)
        afterModalRun();
    return 0;
}

INT_PTR SoundcardSelection::SoundcardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    if (message == WM_INITDIALOG) {
        if (releaseDevice)
            releaseDevice();
        FillDeviceList(dialog);
    } else if (message == WM_COMMAND && LOWORD(wParam) == ID_DEVICE_OK) {
        // CB_ERR (-1) when nothing is selected.
        selectedDevice = static_cast<int32_t>(SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_GETCURSEL, 0, 0));
        if (releaseDevice)
            releaseDevice();
        EndDialogWindow(dialog);
    }
    return 0;
}

void SoundcardSelection::FillDeviceList(HWND dialog)
{
    const unsigned count = devices.DeviceCount();
    for (unsigned index = 0; index < count; ++index) {
        const std::string name = devices.ProductName(index);
        SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    if (SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_GETCOUNT, 0, 0) <= 0) {
        const char* warning = direction == AudioDirection::Output ? "You have no audio output devices!"
                                                                  : "You have no audio input devices!";
        messageBoxes.Show(nullptr, warning, "Warning", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // An index outside the list leaves nothing selected.
    SendDlgItemMessageA(dialog, ID_DEVICE_LIST, CB_SETCURSEL, static_cast<WPARAM>(selectedDevice), 0);
}
