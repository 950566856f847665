// The drawing interface of the receiver's two correlation pictures.
//
// Each picture is an off-screen image of its control's client size; the
// display model draws into it through PictureSurface and asks for a repaint
// when a step is complete. The Win32 picture control implements it with GDI
// calls on its memory bitmap; MemoryPicture (memory_picture.h) implements it
// in memory for tests. Colours are COLORREF values, 0x00BBGGRR.
#pragma once

#include "common/rounding.h"

#include <cstdint>

// A point of the correlation curve, in pixels, as 32-bit floats.
struct CurvePoint {
    float x;
    float y;
};

struct PixelPoint {
    int32_t x;
    int32_t y;
};

// Floating-point coordinates go to the nearest pixel, halves to even.
inline PixelPoint RoundToPixel(CurvePoint point)
{
    return {RoundHalfEvenToInt32(point.x), RoundHalfEvenToInt32(point.y)};
}

inline uint32_t RgbColor(uint32_t red, uint32_t green, uint32_t blue)
{
    return red | (green << 8) | (blue << 16);
}

// The grey of a level: red = green = blue = level, clamped to 0..255.
inline uint32_t GreyOfLevel(int32_t level)
{
    const uint32_t v = level < 0 ? 0u : level > 255 ? 255u : static_cast<uint32_t>(level);
    return RgbColor(v, v, v);
}

class PictureSurface {
public:
    virtual ~PictureSurface() = default;
    // One pixel; pixels outside the image are ignored.
    virtual void SetPixel(int32_t x, int32_t y, uint32_t color) = 0;
    // Copies the width x height rectangle at (srcX, srcY) to (dstX, dstY)
    // within the image, as a block copy: overlapping rectangles are fine.
    virtual void CopyRect(int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                          int32_t width, int32_t height) = 0;
    // The whole image in one colour.
    virtual void Fill(uint32_t color) = 0;
    // A solid line one pixel wide through the points in order, each point
    // rounded to the nearest pixel; like a GDI polyline, the very last
    // point itself is not drawn.
    virtual void Polyline(const CurvePoint* points, int32_t count, uint32_t color) = 0;
    // Shows the image's current content on screen (InvalidateRect plus
    // UpdateWindow on Win32). Drawing alone never repaints.
    virtual void Repaint() = 0;
};
