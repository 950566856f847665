// Driving real dialogs from a test on the GUI thread.
#pragma once

#include <windows.h>

#include <functional>

// Dispatches every message already queued, the way the modal loop would.
void PumpMessages(HWND dialog);

// Pumps until `done` holds or `timeoutMs` has passed; returns `done()`.
bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD timeoutMs = 2000);

// Runs an action from inside whatever message loop is running (a nested
// modal dialog's, for example) once `delayMs` have passed and the queue has
// no posted message left: a timer on a message-only window of its own.
class LaterAction {
public:
    LaterAction(DWORD delayMs, std::function<void()> action);
    ~LaterAction();
    LaterAction(const LaterAction&) = delete;
    LaterAction& operator=(const LaterAction&) = delete;
    bool HasRun() const { return hasRun; }

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window = nullptr;
    std::function<void()> action;
    bool hasRun = false;
};
