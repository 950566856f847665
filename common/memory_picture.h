// A picture held in memory: the PictureSurface of tests and of anything
// that wants the correlation pictures without a screen.
#pragma once

#include "common/picture.h"

#include <cstdint>
#include <vector>

class MemoryPicture : public PictureSurface {
public:
    // A width x height image filled with the background colour, as a
    // freshly created picture control.
    MemoryPicture(int32_t width, int32_t height, uint32_t background);

    void SetPixel(int32_t x, int32_t y, uint32_t color) override;
    void CopyRect(int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                  int32_t width, int32_t height) override;
    void Fill(uint32_t color) override;
    void Polyline(const CurvePoint* points, int32_t count, uint32_t color) override;
    void Repaint() override;

    // The colour at (x, y), which must lie inside the image.
    uint32_t Pixel(int32_t x, int32_t y) const;
    bool Contains(int32_t x, int32_t y) const;

    const int32_t width;
    const int32_t height;
    std::vector<uint32_t> pixels;  // row after row, top row first
    int32_t repaintCount = 0;

private:
    void Plot(int32_t x, int32_t y, uint32_t color);
    // A line from a to b without the pixel at b (Bresenham).
    void DrawLine(PixelPoint a, PixelPoint b, uint32_t color);
};
