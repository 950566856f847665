// One-line helpers over the trackbar messages the receiver uses.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <optional>

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

// Where a WM_HSCROLL notification (its wParam) leaves the trackbar: the
// position a thumb-track notification carries, or, for line, page, top and
// bottom, the control's own position, asked through `queryPosition`
// (TBM_GETPOS, low word). Nothing for the codes that change nothing
// (thumb released, end of tracking, ...): the position is already known.
inline std::optional<uint16_t> ScrolledTrackbarPosition(WPARAM wParam,
                                                        const std::function<LRESULT()>& queryPosition)
{
    switch (LOWORD(wParam)) {
    case TB_THUMBTRACK:
        return static_cast<uint16_t>(HIWORD(wParam));
    case TB_LINEUP:
    case TB_LINEDOWN:
    case TB_PAGEUP:
    case TB_PAGEDOWN:
    case TB_TOP:
    case TB_BOTTOM:
        return static_cast<uint16_t>(queryPosition());
    default:
        return std::nullopt;
    }
}
