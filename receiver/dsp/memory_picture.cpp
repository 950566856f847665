#include "receiver/dsp/memory_picture.h"

#include <algorithm>
#include <cstdlib>

MemoryPicture::MemoryPicture(int32_t width, int32_t height, uint32_t background)
    : width(width), height(height),
      pixels(static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)),
             background)
{
}

bool MemoryPicture::Contains(int32_t x, int32_t y) const
{
    return x >= 0 && x < width && y >= 0 && y < height;
}

uint32_t MemoryPicture::Pixel(int32_t x, int32_t y) const
{
    return pixels[static_cast<size_t>(y) * width + x];
}

void MemoryPicture::SetPixel(int32_t x, int32_t y, uint32_t color)
{
    Plot(x, y, color);
}

void MemoryPicture::Plot(int32_t x, int32_t y, uint32_t color)
{
    if (Contains(x, y))
        pixels[static_cast<size_t>(y) * width + x] = color;
}

void MemoryPicture::CopyRect(int32_t srcX, int32_t srcY, int32_t dstX, int32_t dstY,
                             int32_t copyWidth, int32_t copyHeight)
{
    // Read the whole source first, so overlapping rectangles copy as a
    // block; source pixels outside the image are left out.
    const std::vector<uint32_t> before = pixels;
    for (int32_t row = 0; row < copyHeight; ++row) {
        for (int32_t column = 0; column < copyWidth; ++column) {
            const int32_t fromX = srcX + column, fromY = srcY + row;
            const int32_t toX = dstX + column, toY = dstY + row;
            if (Contains(fromX, fromY) && Contains(toX, toY))
                pixels[static_cast<size_t>(toY) * width + toX] =
                    before[static_cast<size_t>(fromY) * width + fromX];
        }
    }
}

void MemoryPicture::Fill(uint32_t color)
{
    std::fill(pixels.begin(), pixels.end(), color);
}

void MemoryPicture::Polyline(const CurvePoint* points, int32_t count, uint32_t color)
{
    for (int32_t i = 0; i + 1 < count; ++i)
        DrawLine(RoundToPixel(points[i]), RoundToPixel(points[i + 1]), color);
}

void MemoryPicture::DrawLine(PixelPoint a, PixelPoint b, uint32_t color)
{
    const int32_t dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
    const int32_t stepX = a.x < b.x ? 1 : -1, stepY = a.y < b.y ? 1 : -1;
    int32_t error = dx + dy;
    PixelPoint p = a;
    while (p.x != b.x || p.y != b.y) {
        Plot(p.x, p.y, color);
        const int32_t twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            p.x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            p.y += stepY;
        }
    }
}

void MemoryPicture::Repaint()
{
    ++repaintCount;
}
