#include "platform/dialog.h"

#include "platform/dialog_template.h"

Dialog::Dialog(DialogLayout layout, DialogProcedure procedure)
    : layout(std::move(layout)), procedure(std::move(procedure))
{
}

Dialog::~Dialog()
{
    if (window != nullptr)
        EndDialogWindow(window);
    if (backgroundBrush != nullptr)
        DeleteObject(backgroundBrush);
}

HWND Dialog::Create()
{
    const bool inDialogUnits = layout.units == DialogUnits::DialogUnits;
    // WS_VISIBLE is left out of the template: the dialog is shown by Start(),
    // after its controls exist and its procedure has seen WM_INITDIALOG.
    std::vector<DWORD> dialogTemplate = BuildDialogTemplate(
        layout.caption, layout.style & ~WS_VISIBLE, layout.extendedStyle,
        static_cast<short>(inDialogUnits ? layout.x : 0), static_cast<short>(inDialogUnits ? layout.y : 0),
        static_cast<short>(inDialogUnits ? layout.width : 0), static_cast<short>(inDialogUnits ? layout.height : 0));
    if (layout.background && backgroundBrush == nullptr)
        backgroundBrush = CreateSolidBrush(*layout.background);

    CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                               reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()),
                               layout.owner, WindowProcedure, reinterpret_cast<LPARAM>(this));
    if (window != nullptr && !inDialogUnits)
        SizeInPixels();
    return window;
}

// Gives the window the size whose client area is layout.width x layout.height
// pixels, at the requested place.
void Dialog::SizeInPixels()
{
    RECT frame{0, 0, layout.width, layout.height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;

    POINT position{layout.x, layout.y};
    if (layout.style & DS_CENTER) {
        RECT workArea{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
        position.x = workArea.left + (workArea.right - workArea.left - width) / 2;
        position.y = workArea.top + (workArea.bottom - workArea.top - height) / 2;
    } else if (layout.owner != nullptr) {
        ClientToScreen(layout.owner, &position);
    }
    SetWindowPos(window, nullptr, position.x, position.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND Dialog::AddControl(const ControlSpec& control)
{
    if (window == nullptr)
        return nullptr;
    // Position and size are mapped each on its own, as the dialog manager
    // maps the items of a template.
    RECT place{control.x, control.y, control.width, control.height};
    if (layout.units == DialogUnits::DialogUnits)
        MapDialogRect(window, &place);
    HWND created = CreateWindowExA(control.extendedStyle, control.className, control.text, control.style,
                                   place.left, place.top, place.right, place.bottom, window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                   GetModuleHandleA(nullptr), nullptr);
    if (created == nullptr)
        return nullptr;
    SendMessageA(created, WM_SETFONT, static_cast<WPARAM>(SendMessageA(window, WM_GETFONT, 0, 0)), FALSE);
    if (control.onCommand)
        commandHandlers.emplace_back(control.id, control.onCommand);
    return created;
}

void Dialog::Start()
{
    if (window == nullptr || initialised)
        return;
    initialised = true;
    if (procedure) {
        HWND firstControl = GetNextDlgTabItem(window, nullptr, FALSE);
        procedure(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstControl), 0);
    }
    if (window != nullptr)
        ShowWindow(window, SW_SHOW);
}

void Dialog::RunModal()
{
    if (window == nullptr)
        return;
    if (layout.owner != nullptr)
        EnableWindow(layout.owner, FALSE);
    Start();
    while (window != nullptr) {
        if (DispatchNextMessage(window))
            continue;
        if (idleHandler)
            idleHandler();
        if (window != nullptr)
            Sleep(1);
    }
}

INT_PTR CALLBACK Dialog::WindowProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        // Sent inside CreateDialogIndirectParamA, before any control exists:
        // only binds the window to its Dialog. The procedure's own
        // WM_INITDIALOG follows in Start().
        auto* self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->window = dialog;
        return FALSE;
    }
    auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(dialog, DWLP_USER, 0);
        self->window = nullptr;
        return FALSE;
    }
    return self->Handle(dialog, message, wParam, lParam);
}

INT_PTR Dialog::Handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!initialised)
        return StandardHandling(dialog, message, wParam, lParam);

    if (message == WM_COMMAND && lParam != 0) {
        for (const auto& [id, handler] : commandHandlers) {
            if (id != LOWORD(wParam))
                continue;
            if (INT_PTR result = handler(dialog, wParam, lParam))
                return result;
            break;
        }
        if (window == nullptr) // the handler ended the dialog
            return TRUE;
    }
    if (procedure) {
        if (INT_PTR result = procedure(dialog, message, wParam, lParam))
            return result;
        if (window == nullptr)
            return TRUE;
    }
    return StandardHandling(dialog, message, wParam, lParam);
}

INT_PTR Dialog::StandardHandling(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            EndDialogWindow(dialog);
            return TRUE;
        }
        break;
    case WM_CTLCOLORDLG:
        if (backgroundBrush != nullptr)
            return reinterpret_cast<INT_PTR>(backgroundBrush);
        break;
    default:
        break;
    }
    return FALSE;
}

void EndDialogWindow(HWND dialog)
{
    if (HWND owner = GetWindow(dialog, GW_OWNER))
        EnableWindow(owner, TRUE);
    DestroyWindow(dialog);
}

bool DispatchNextMessage(HWND dialog)
{
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (!IsDialogMessageA(dialog, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return true;
}
