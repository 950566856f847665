// The drawing half of the correlator: the waterfall and the curve.
//
// For every block the correlator hands over the magnitudes of the 512 lags
// (ShowBlock): each one is recorded (RecordLag), then the block's pictures
// are drawn (DrawBlock): one grey row of the waterfall, scrolling up once
// the picture is full, and the curve of magnitude against lag, redrawn from
// scratch.
#pragma once

#include "common/picture.h"

#include <array>
#include <cstdint>

// Picture sizes in pixels (the main dialog creates controls of these sizes).
constexpr int32_t WATERFALL_WIDTH = 1036;
constexpr int32_t WATERFALL_HEIGHT = 200;
constexpr int32_t CURVE_WIDTH = 1026;
constexpr int32_t CURVE_HEIGHT = 70;

// Pure blue: the curve's colour.
constexpr uint32_t CURVE_COLOR = 0x00FF0000;

// Correlation lags per block, one level and one curve point each.
constexpr int32_t LAG_COUNT = 512;

// The magnitude of each correlation lag of one block.
using LagMagnitudes = std::array<float, LAG_COUNT>;

struct CurvePoints {
    int32_t count = LAG_COUNT;
    std::array<CurvePoint, LAG_COUNT> points{};
};

class CorrelationDisplay {
public:
    // The two pictures and the colour the curve is cleared to (the
    // system's button-face colour). Either picture may be absent: its
    // drawing is then skipped, the model's state still advances.
    void Connect(PictureSurface* waterfallPicture, PictureSurface* curvePicture,
                 uint32_t backgroundColor);

    // One block: records lags 0 .. lagCount - 1 of `magnitudes` in order,
    // then draws the block.
    void ShowBlock(const LagMagnitudes& magnitudes, int32_t lagCount);

    // The magnitude of lag 0..511 of the current block: its grey level
    // joins levelHistory and its point the curve.
    void RecordLag(int32_t lag, float magnitude);

    // Draws the block's waterfall row (scrolling when the picture is full)
    // and its curve, repainting each picture where its drawing is complete.
    void DrawBlock();

    // State, named as the system names it (public: read by tests).
    // 0..511: levels of the last block, 512..1023: the current block's;
    // 1024 is never written and stays 0.
    std::array<float, 2 * LAG_COUNT + 1> levelHistory{};
    // Rows drawn so far, held at WATERFALL_HEIGHT once it gets there.
    int32_t waterfallRow = 0;
    CurvePoints curvePoints;

private:
    void DrawWaterfallRow(int32_t y);
    void ScrollWaterfall();
    void DrawCurve();

    PictureSurface* waterfall = nullptr;
    PictureSurface* curve = nullptr;
    uint32_t background = 0;
};

// The grey level of a magnitude: 255 - 25000 * m, to the nearest integer
// (halves to even), not clamped: 0 is white, 0.0102 and above black.
int32_t LevelOfMagnitude(float magnitude);
