#include "common/memory_picture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
    // Only the part whose source and destination both lie in the image.
    const int32_t firstColumn = std::max({0, -srcX, -dstX});
    const int32_t endColumn = std::min({copyWidth, width - srcX, width - dstX});
    const int32_t firstRow = std::max({0, -srcY, -dstY});
    const int32_t endRow = std::min({copyHeight, height - srcY, height - dstY});
    if (firstColumn >= endColumn || firstRow >= endRow)
        return;
    // Rows in the order that reads each source row before it is
    // overwritten, as a block copy does; memmove handles overlap in a row.
    const size_t bytes = static_cast<size_t>(endColumn - firstColumn) * sizeof(uint32_t);
    const bool downwards = dstY > srcY;
    for (int32_t i = 0; i < endRow - firstRow; ++i) {
        const int32_t row = downwards ? endRow - 1 - i : firstRow + i;
        std::memmove(&pixels[static_cast<size_t>(dstY + row) * width + dstX + firstColumn],
                     &pixels[static_cast<size_t>(srcY + row) * width + srcX + firstColumn], bytes);
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
