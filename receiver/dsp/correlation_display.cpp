#include "receiver/dsp/correlation_display.h"

#include "receiver/dsp/receiver_arithmetic.h"

void CorrelationDisplay::Connect(PictureSurface* waterfallPicture, PictureSurface* curvePicture,
                                 uint32_t backgroundColor)
{
    waterfall = waterfallPicture;
    curve = curvePicture;
    background = backgroundColor;
}

int32_t LevelOfMagnitude(float magnitude)
{
    // The product of a float and 25000 is exact in a long double.
    return RoundHalfEvenToInt32(255.0L - 25000.0L * static_cast<long double>(magnitude));
}

void CorrelationDisplay::RecordLag(int32_t lag, float magnitude)
{
    const int32_t level = LevelOfMagnitude(magnitude);
    levelHistory[lag] = levelHistory[LAG_COUNT + lag];
    levelHistory[LAG_COUNT + lag] = StoreFloat(level);

    curvePoints.points[lag].x = StoreFloat(2.0L * lag);
    curvePoints.points[lag].y = StoreFloat(69.0L - 5000.0L * static_cast<long double>(magnitude));
}

void CorrelationDisplay::ShowBlock(const LagMagnitudes& magnitudes, int32_t lagCount)
{
    for (int32_t lag = 0; lag < lagCount && lag < LAG_COUNT; ++lag)
        RecordLag(lag, magnitudes[lag]);
    DrawBlock();
}

void CorrelationDisplay::DrawBlock()
{
    waterfallRow += 1;
    if (waterfallRow > WATERFALL_HEIGHT)
        waterfallRow = WATERFALL_HEIGHT;
    const int32_t y = waterfallRow < WATERFALL_HEIGHT ? waterfallRow : WATERFALL_HEIGHT - 1;

    if (waterfall) {
        DrawWaterfallRow(y);
        if (waterfallRow > WATERFALL_HEIGHT - 1)
            ScrollWaterfall();
        waterfall->Repaint();
    }
    if (curve)
        DrawCurve();
}

// Each level covers two pixels: its own grey, then a pixel blended halfway
// towards the next level. The row starts with the last block's 512 lags
// (x = 0..1023); the few pixels of the current block that still fit follow,
// the rest lies right of the picture and is not drawn at all.
void CorrelationDisplay::DrawWaterfallRow(int32_t y)
{
    for (int32_t n = 0; n < 2 * LAG_COUNT && 2 * n < WATERFALL_WIDTH; ++n) {
        const int32_t a = RoundHalfEvenToInt32(levelHistory[n]);
        const int32_t b = RoundHalfEvenToInt32(
            (static_cast<long double>(a) + static_cast<long double>(levelHistory[n + 1])) / 2.0L);
        waterfall->SetPixel(2 * n, y, GreyOfLevel(a));
        if (2 * n + 1 < WATERFALL_WIDTH)
            waterfall->SetPixel(2 * n + 1, y, GreyOfLevel(b));
    }
}

// Rows 1..199 move up to 0..198. Nothing lies below row 199 to move into
// it, so the bottom row keeps the row just drawn there; the next block
// draws over it before scrolling again.
void CorrelationDisplay::ScrollWaterfall()
{
    waterfall->CopyRect(0, 1, 0, 0, WATERFALL_WIDTH, WATERFALL_HEIGHT - 1);
    waterfall->Repaint();
}

void CorrelationDisplay::DrawCurve()
{
    curve->Fill(background);
    curve->Repaint();
    curve->Polyline(curvePoints.points.data(), curvePoints.count, CURVE_COLOR);
    curve->Repaint();
}
