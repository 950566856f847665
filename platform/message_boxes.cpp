#include "platform/message_boxes.h"

int Win32MessageBoxes::Show(HWND owner, const char* text, const char* caption, UINT style)
{
    return MessageBoxA(owner, text, caption, style);
}

BOOL Win32MessageBoxes::Beep(UINT soundType)
{
    return MessageBeep(soundType);
}
