// One-line helpers over the control messages the dialogs use.
#pragma once

#include <windows.h>

#include <string>

// The push buttons of every dialog.
constexpr DWORD PUSH_BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

inline std::string GetControlText(HWND dialog, int id)
{
    char text[256] = "";
    GetWindowTextA(GetDlgItem(dialog, id), text, sizeof text);
    return text;
}

inline void SetControlText(HWND dialog, int id, const char* text)
{
    SetWindowTextA(GetDlgItem(dialog, id), text);
}

inline void ClickButton(HWND dialog, int id)
{
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
}
