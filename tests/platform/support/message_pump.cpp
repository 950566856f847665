#include "tests/platform/support/message_pump.h"

#include "platform/dialog.h"

void PumpMessages(HWND dialog)
{
    while (DispatchNextMessage(dialog)) {
    }
}

bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        if (!DispatchNextMessage(dialog))
            Sleep(1);
    }
    return true;
}

namespace {
const char* const LATER_ACTION_CLASS = "SoundclockTestLaterAction";
}

LaterAction::LaterAction(DWORD delayMs, std::function<void()> action) : action(std::move(action))
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = LATER_ACTION_CLASS;
    RegisterClassA(&windowClass); // fails harmlessly when already registered
    window = CreateWindowExA(0, LATER_ACTION_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetTimer(window, 1, delayMs, nullptr);
}

LaterAction::~LaterAction()
{
    DestroyWindow(window);
}

LRESULT CALLBACK LaterAction::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        KillTimer(window, 1);
        auto* self = reinterpret_cast<LaterAction*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && !self->hasRun) {
            self->hasRun = true;
            self->action();
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
