// The graphic surface of the receiver's two correlation pictures: an
// owner-drawn static control that keeps its picture in an off-screen image
// of its client size and paints itself from it.
//
// The image is a 32-bit top-down DIB section selected into a memory DC,
// filled with COLOR_BTNFACE when the control is attached. Drawing goes into
// the image only: single pixels are written straight into the DIB's memory
// (the same colour SetPixelV would set on a 32-bit DIB, without a GDI call
// per pixel), rectangles are copied with BitBlt, the image is filled with
// FillRect, lines are drawn with Polyline and a CreatePen(PS_SOLID, 1,
// colour) pen. Nothing reaches the screen until Repaint (InvalidateRect,
// then UpdateWindow), whose WM_PAINT copies the image with BitBlt: the
// control's window procedure is subclassed for that, so the static never
// asks its parent for WM_DRAWITEM.
#pragma once

#include "common/picture.h"

#include <windows.h>

#include <cstdint>
#include <vector>

class PictureControl final : public PictureSurface {
public:
    PictureControl() = default;
    ~PictureControl() override;
    PictureControl(const PictureControl&) = delete;
    PictureControl& operator=(const PictureControl&) = delete;

    // Gives `control` (an SS_OWNERDRAW static) its image and takes over its
    // painting. False when the image cannot be created.
    bool Attach(HWND control);

    void SetPixel(int32_t x, int32_t y, uint32_t color) override;
    void CopyRect(int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                  int32_t width, int32_t height) override;
    void Fill(uint32_t color) override;
    void Polyline(const CurvePoint* points, int32_t count, uint32_t color) override;
    void Repaint() override;

    // The colour (COLORREF) of the image at (x, y), read from the DIB
    // memory; tests read the pictures back with it.
    uint32_t Pixel(int32_t x, int32_t y);
    int32_t Width() const { return width; }
    int32_t Height() const { return height; }
    HWND Window() const { return control; }

private:
    static LRESULT CALLBACK SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void Detach();
    // GDI may batch its drawing; the DIB memory is only current after a flush.
    void FlushGdi();

    HWND control = nullptr;
    WNDPROC staticProcedure = nullptr;
    HDC memoryDc = nullptr;
    HBITMAP image = nullptr;
    HGDIOBJ originalBitmap = nullptr;
    uint32_t* bits = nullptr; // row after row, top row first, 0x00RRGGBB
    int32_t width = 0;
    int32_t height = 0;
    bool gdiPending = false;
    std::vector<POINT> polylinePoints; // kept, so drawing allocates only once
};
