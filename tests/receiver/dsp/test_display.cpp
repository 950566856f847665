// The picture model: grey levels, the waterfall's rows and scrolling, the
// curve, and when each picture is repainted.
#include "tests/receiver/dsp/receiver_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

struct DisplayUnderTest {
    DisplayUnderTest() { display.Connect(&waterfall, &curve, TEST_BACKGROUND); }

    // One block whose lag i has magnitude magnitudeOf(i).
    template <typename F>
    void Block(F magnitudeOf)
    {
        waterfall.log.clear();
        curve.log.clear();
        for (int32_t i = 0; i < LAG_COUNT; ++i)
            display.RecordLag(i, magnitudeOf(i));
        display.DrawBlock();
    }
    // A block whose every lag has the grey level `level` (0..255).
    void FlatBlock(int32_t level)
    {
        const float magnitude = StoreFloat((255 - level) / 25000.0L);
        Block([magnitude](int32_t) { return magnitude; });
    }

    CorrelationDisplay display;
    LoggingPicture waterfall{WATERFALL_WIDTH, WATERFALL_HEIGHT, TEST_BACKGROUND};
    LoggingPicture curve{CURVE_WIDTH, CURVE_HEIGHT, TEST_BACKGROUND};
};

uint32_t Grey(uint32_t v)
{
    return v | (v << 8) | (v << 16);
}

}  // namespace

TEST(Display, LevelsOfMagnitudesAndTheirGreys)
{
    const struct {
        float magnitude;
        int32_t level;
        uint32_t grey;
    } cases[] = {
        {0.0f, 255, Grey(255)},    {0.01f, 5, Grey(5)},        {0.0102f, 0, Grey(0)},
        {0.02f, -245, Grey(0)},    {0.00004f, 254, Grey(254)},
        {-0.0004f, 265, Grey(255)},  // clamped
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LevelOfMagnitude(c.magnitude), c.level) << c.magnitude;
        EXPECT_EQ(GreyOfLevel(c.level), c.grey) << c.magnitude;
    }
}

TEST(Display, EachLevelCoversTwoPixelsTheSecondBlended)
{
    DisplayUnderTest d;
    // levels 255, 254, 253, 254, then -245 (black, but blended unclamped):
    // shown by the next block's row
    const float magnitudes[] = {0.0f, 0.00004f, 0.00008f, 0.00004f};
    d.Block([&](int32_t i) { return i < 4 ? magnitudes[i] : 0.02f; });
    d.FlatBlock(255);
    const uint32_t expected[] = {
        Grey(255), Grey(254),  // 254.5 rounds to the even 254
        Grey(254), Grey(254),  // 253.5 rounds to 254
        Grey(253), Grey(254), Grey(254), Grey(4),  // (254 - 245) / 2 = 4.5 -> 4
        Grey(0),
    };
    for (int x = 0; x < 9; ++x)
        EXPECT_EQ(d.waterfall.Pixel(x, 2), expected[x]) << x;
    // The last lag of the last block (-245) blends with lag 0 of the
    // current one (255); then the current block's lags 0..5.
    EXPECT_EQ(d.waterfall.Pixel(1022, 2), Grey(0));
    EXPECT_EQ(d.waterfall.Pixel(1023, 2), Grey(5));
    for (int x = 1024; x < WATERFALL_WIDTH; ++x)
        EXPECT_EQ(d.waterfall.Pixel(x, 2), Grey(255)) << x;
}

TEST(Display, SilenceDrawsWhiteRowsAndTheCurveOnTheBottomRow)
{
    DisplayUnderTest d;
    d.FlatBlock(255);
    // The first row still shows the zero-filled history of the last block.
    EXPECT_EQ(d.waterfall.Pixel(0, 1), Grey(0));
    EXPECT_EQ(d.waterfall.Pixel(1030, 1), Grey(255));
    d.FlatBlock(255);
    for (int x = 0; x < WATERFALL_WIDTH; ++x)
        ASSERT_EQ(d.waterfall.Pixel(x, 2), Grey(255)) << x;
    EXPECT_EQ(d.waterfall.Pixel(0, 0), TEST_BACKGROUND);
    EXPECT_EQ(d.waterfall.Pixel(0, 3), TEST_BACKGROUND);

    for (int i = 0; i < LAG_COUNT; ++i) {
        EXPECT_EQ(d.curve.lastPolyline[i].x, 2.0f * i);
        EXPECT_EQ(d.curve.lastPolyline[i].y, 69.0f);
    }
    // A polyline leaves out its last point, (1022, 69).
    for (int x = 0; x < CURVE_WIDTH; ++x)
        EXPECT_EQ(d.curve.Pixel(x, 69), x < 1022 ? CURVE_COLOR : TEST_BACKGROUND) << x;
    EXPECT_EQ(std::count(d.curve.pixels.begin(), d.curve.pixels.end(), CURVE_COLOR), 1022);
}

TEST(Display, CurveScale)
{
    DisplayUnderTest d;
    d.Block([](int32_t i) { return i == 10 ? 0.0138f : i == 20 ? 0.05f : 0.0f; });
    EXPECT_EQ(d.curve.lastPolyline[10].y, StoreFloat(69 - 5000 * static_cast<long double>(0.0138f)));
    EXPECT_EQ(RoundToPixel(d.curve.lastPolyline[10]).y, 0);
    EXPECT_EQ(d.curve.Pixel(20, 0), CURVE_COLOR);   // the top of the peak at lag 10
    EXPECT_EQ(d.curve.Pixel(30, 69), CURVE_COLOR);  // between the peaks: the floor
    // The peak at lag 20 leaves the picture: its two flanks cross row 0.
    int crossings = 0;
    for (int x = 36; x <= 44; ++x)
        crossings += d.curve.Pixel(x, 0) == CURVE_COLOR;
    EXPECT_EQ(crossings, 2);
}

TEST(Display, WaterfallFillsThenScrollsKeepingTheNewRowAtTheBottom)
{
    // Block k shows level 255 - k for its own lags, so row contents tell
    // which block drew them: x = 1030 shows the drawing block itself.
    DisplayUnderTest d;
    for (int k = 1; k <= 199; ++k) {
        d.FlatBlock(255 - k);
        ASSERT_EQ(d.display.waterfallRow, k);
        ASSERT_EQ(d.waterfall.Pixel(1030, k), Grey(255 - k));
    }
    EXPECT_EQ(d.waterfall.Pixel(1030, 0), TEST_BACKGROUND);  // row 0 waits for the scroll
    EXPECT_EQ(d.waterfall.topmostPixelRow, 1);

    d.FlatBlock(255 - 200);
    EXPECT_EQ(d.display.waterfallRow, 200);
    EXPECT_EQ(d.waterfall.Pixel(1030, 0), Grey(254));          // block 1
    EXPECT_EQ(d.waterfall.Pixel(1030, 197), Grey(255 - 198));  // block 198
    EXPECT_EQ(d.waterfall.Pixel(1030, 198), Grey(255 - 200));  // block 199's row is gone
    EXPECT_EQ(d.waterfall.Pixel(1030, 199), Grey(255 - 200));  // the row just drawn stays
    EXPECT_EQ(d.waterfall.Pixel(0, 199), Grey(255 - 199));     // its last-block half

    for (int k = 201; k <= 250; ++k)
        d.FlatBlock(255 - k);
    EXPECT_EQ(d.display.waterfallRow, 200);
    EXPECT_EQ(d.waterfall.topmostPixelRow, 1);  // rows 0..198 only by scrolling
    EXPECT_EQ(d.waterfall.Pixel(1030, 198), Grey(5));
    EXPECT_EQ(d.waterfall.Pixel(1030, 197), Grey(6));
    EXPECT_EQ(d.waterfall.Pixel(1030, 0), Grey(255 - 51));  // block 51
}

TEST(Display, RepaintsFollowEachFinishedDrawing)
{
    DisplayUnderTest d;
    const std::string row(WATERFALL_WIDTH, 'p');  // x > 1035 never drawn
    d.FlatBlock(255);
    EXPECT_EQ(d.waterfall.log, row + "r");
    EXPECT_EQ(d.curve.log, "frlr");  // fill, repaint, line, repaint
    for (int k = 2; k <= 200; ++k)
        d.FlatBlock(255);
    EXPECT_EQ(d.waterfall.log, row + "crr");  // scroll and repaint, repaint
    EXPECT_EQ(d.waterfall.repaintCount, 199 + 2);
    EXPECT_EQ(d.curve.log, "frlr");
}

TEST(MemoryPictureTest, PolylineRoundsHalfToEvenAndLeavesOutTheLastPoint)
{
    const struct {
        CurvePoint a, b;
        std::vector<PixelPoint> drawn;
    } cases[] = {
        {{0.5f, 2.5f}, {3.5f, 2.5f}, {{0, 2}, {1, 2}, {2, 2}, {3, 2}}},  // (0,2) .. (4,2)
        {{1.5f, 1.4f}, {1.5f, 4.6f}, {{2, 1}, {2, 2}, {2, 3}, {2, 4}}},  // (2,1) .. (2,5)
        {{0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
        {{2, 2}, {2, 2}, {}},
        {{-2, 1}, {1, 1}, {{0, 1}}},  // clipped at the left edge
    };
    for (const auto& c : cases) {
        MemoryPicture picture(8, 8, 0);
        const CurvePoint points[] = {c.a, c.b};
        picture.Polyline(points, 2, 1);
        std::vector<PixelPoint> drawn;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                if (picture.Pixel(x, y) == 1)
                    drawn.push_back({x, y});
        ASSERT_EQ(drawn.size(), c.drawn.size()) << c.a.x << "," << c.a.y;
        for (size_t i = 0; i < drawn.size(); ++i) {
            EXPECT_EQ(drawn[i].x, c.drawn[i].x);
            EXPECT_EQ(drawn[i].y, c.drawn[i].y);
        }
    }
}

TEST(MemoryPictureTest, CopyRectMovesABlockEvenWhenOverlapping)
{
    MemoryPicture picture(4, 4, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            picture.SetPixel(x, y, static_cast<uint32_t>(10 * y + x));
    picture.CopyRect(0, 1, 0, 0, 4, 4);  // the source reaches below the image
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(picture.Pixel(x, y), static_cast<uint32_t>(10 * (y + 1) + x));
    EXPECT_EQ(picture.Pixel(2, 3), 32u);  // nothing to copy into the last row

    picture.CopyRect(0, 0, 1, 1, 4, 4);  // down and right, clipped
    EXPECT_EQ(picture.Pixel(1, 1), 10u);
    EXPECT_EQ(picture.Pixel(3, 3), 32u);
    EXPECT_EQ(picture.Pixel(0, 3), 30u);  // outside the destination: kept
    EXPECT_EQ(picture.Pixel(3, 0), 13u);
}
