// One-line helpers over the trackbar messages the receiver uses.
#pragma once

#include <windows.h>
#include <commctrl.h>

// TBM_SETRANGE: low word the minimum, high word the maximum.
inline void SetTrackbarRange(HWND trackbar, WORD minimum, WORD maximum, bool redraw)
{
    SendMessageA(trackbar, TBM_SETRANGE, redraw ? 1 : 0, MAKELPARAM(minimum, maximum));
}

inline void SetTrackbarPosition(HWND trackbar, LONG position, bool redraw)
{
    SendMessageA(trackbar, TBM_SETPOS, redraw ? 1 : 0, position);
}

// TBM_GETPOS as the message returns it; the position is its low word.
inline LRESULT GetTrackbarPosition(HWND trackbar)
{
    return SendMessageA(trackbar, TBM_GETPOS, 0, 0);
}
