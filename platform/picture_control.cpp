#include "platform/picture_control.h"

namespace {

// A COLORREF (0x00BBGGRR) as a pixel of a 32-bit BI_RGB DIB (blue in the
// lowest byte, 0x00RRGGBB): what SetPixelV stores there, the fourth byte 0.
uint32_t DibPixelOf(uint32_t color)
{
    return ((color & 0x0000FFu) << 16) | (color & 0x00FF00u) | ((color & 0xFF0000u) >> 16);
}

} // namespace

PictureControl::~PictureControl()
{
    Detach();
    if (memoryDc != nullptr) {
        SelectObject(memoryDc, originalBitmap);
        DeleteDC(memoryDc);
    }
    if (image != nullptr)
        DeleteObject(image);
}

bool PictureControl::Attach(HWND window)
{
    if (window == nullptr || control != nullptr)
        return false;
    RECT client{};
    GetClientRect(window, &client);
    width = client.right - client.left;
    height = client.bottom - client.top;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down: row 0 first in memory
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* memory = nullptr;
    image = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    memoryDc = CreateCompatibleDC(nullptr);
    if (image == nullptr || memoryDc == nullptr)
        return false;
    bits = static_cast<uint32_t*>(memory);
    originalBitmap = SelectObject(memoryDc, image);
    Fill(GetSysColor(COLOR_BTNFACE));

    control = window;
    SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    staticProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProcedure)));
    return true;
}

void PictureControl::Detach()
{
    if (control == nullptr)
        return;
    if (IsWindow(control)) {
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(staticProcedure));
        SetWindowLongPtrA(control, GWLP_USERDATA, 0);
    }
    control = nullptr;
}

LRESULT CALLBACK PictureControl::SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<PictureControl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    const WNDPROC next = self->staticProcedure;
    switch (message) {
    case WM_PAINT:
        self->Paint();
        return 0;
    case WM_ERASEBKGND:
        return 1; // the image covers the whole client area
    case WM_NCDESTROY:
        self->Detach();
        break;
    default:
        break;
    }
    return CallWindowProcA(next, window, message, wParam, lParam);
}

void PictureControl::Paint()
{
    PAINTSTRUCT paint;
    HDC screen = BeginPaint(control, &paint);
    const RECT& area = paint.rcPaint;
    BitBlt(screen, area.left, area.top, area.right - area.left, area.bottom - area.top,
           memoryDc, area.left, area.top, SRCCOPY);
    EndPaint(control, &paint);
}

void PictureControl::FlushGdi()
{
    if (gdiPending) {
        GdiFlush();
        gdiPending = false;
    }
}

void PictureControl::SetPixel(int32_t x, int32_t y, uint32_t color)
{
    if (x < 0 || x >= width || y < 0 || y >= height)
        return;
    FlushGdi();
    bits[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = DibPixelOf(color);
}

uint32_t PictureControl::Pixel(int32_t x, int32_t y)
{
    FlushGdi();
    // The conversion is its own inverse: it swaps the red and blue bytes.
    return DibPixelOf(bits[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]);
}

void PictureControl::CopyRect(int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                              int32_t copyWidth, int32_t copyHeight)
{
    BitBlt(memoryDc, dstX, dstY, copyWidth, copyHeight, memoryDc, srcX, srcY, SRCCOPY);
    gdiPending = true;
}

void PictureControl::Fill(uint32_t color)
{
    RECT whole{0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(memoryDc, &whole, brush);
    DeleteObject(brush);
    gdiPending = true;
}

void PictureControl::Polyline(const CurvePoint* points, int32_t count, uint32_t color)
{
    if (count < 2)
        return;
    polylinePoints.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const PixelPoint pixel = RoundToPixel(points[i]);
        polylinePoints[i] = {pixel.x, pixel.y};
    }
    HPEN pen = CreatePen(PS_SOLID, 1, color);
    HGDIOBJ previous = SelectObject(memoryDc, pen);
    ::Polyline(memoryDc, polylinePoints.data(), count);
    SelectObject(memoryDc, previous);
    DeleteObject(pen);
    gdiPending = true;
}

void PictureControl::Repaint()
{
    if (control == nullptr)
        return;
    InvalidateRect(control, nullptr, FALSE);
    UpdateWindow(control);
}
