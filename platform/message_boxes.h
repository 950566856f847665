// Message boxes and the warning beep, behind an interface so that tests can
// record what a program would show instead of blocking on a real box.
#pragma once

#include <windows.h>

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // MessageBoxA: returns the button the user pressed (IDOK, ...).
    virtual int Show(HWND owner, const char* text, const char* caption, UINT style) = 0;
    // MessageBeep: plays the system sound of the given kind (MB_ICONEXCLAMATION, ...).
    virtual BOOL Beep(UINT soundType) = 0;
};

class Win32MessageBoxes final : public MessageBoxes {
public:
    int Show(HWND owner, const char* text, const char* caption, UINT style) override;
    BOOL Beep(UINT soundType) override;
};
