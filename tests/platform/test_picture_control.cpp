// The receiver's graphic surface on a real window: its image, the pixel
// format its direct writes share with GDI, the block copy, the curve's
// line, and that only a repaint reaches the screen.
#include "platform/dialog.h"
#include "platform/picture_control.h"
#include "common/memory_picture.h"
#include "tests/platform/support/message_pump.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

constexpr int PICTURE_WIDTH = 60;
constexpr int PICTURE_HEIGHT = 20;
constexpr uint32_t BLUE = 0x00FF0000;
constexpr uint32_t ODD_COLOURS[] = {0x00000000, 0x00FFFFFF, 0x00FEFEFE, 0x007F7F7F, BLUE,
                                    0x000000FF, 0x0000FF00, 0x00123456};

// A shown pixel dialog with one owner-drawn static holding the picture.
struct PictureWindow {
    PictureWindow()
    {
        DialogLayout layout;
        layout.caption = "Picture Test";
        layout.style = WS_POPUP | WS_CAPTION;
        layout.units = DialogUnits::Pixels;
        layout.x = 10;
        layout.y = 10;
        layout.width = 200;
        layout.height = 100;
        dialog = std::make_unique<Dialog>(layout, nullptr);
        window = dialog->Create();
        control = dialog->AddControl({4000, "STATIC", "", 5, 5, PICTURE_WIDTH, PICTURE_HEIGHT,
                                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_OWNERDRAW});
        attached = picture.Attach(control);
        dialog->Start();
        PumpMessages(window);
    }

    // What the control shows on screen at (x, y).
    COLORREF Shown(int x, int y) const
    {
        HDC dc = GetDC(control);
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(control, dc);
        return colour;
    }

    PictureControl picture; // outlives the dialog's window
    std::unique_ptr<Dialog> dialog;
    HWND window = nullptr;
    HWND control = nullptr;
    bool attached = false;
};

} // namespace

TEST(PictureControl, ImageHasTheClientSizeAndTheButtonFaceColour)
{
    PictureWindow w;
    ASSERT_TRUE(w.attached);
    EXPECT_EQ(w.picture.Width(), PICTURE_WIDTH);
    EXPECT_EQ(w.picture.Height(), PICTURE_HEIGHT);
    const uint32_t face = GetSysColor(COLOR_BTNFACE);
    for (int y = 0; y < PICTURE_HEIGHT; ++y)
        for (int x = 0; x < PICTURE_WIDTH; ++x)
            ASSERT_EQ(w.picture.Pixel(x, y), face) << x << "," << y;
    EXPECT_EQ(w.Shown(0, 0), face);
    EXPECT_EQ(w.Shown(PICTURE_WIDTH - 1, PICTURE_HEIGHT - 1), face);
}

// GDI writes the image (fill, block copy) and the direct pixel writes go
// into the same memory: each must read back as the colour GDI would set.
TEST(PictureControl, DirectPixelWritesAgreeWithGdi)
{
    PictureWindow w;
    for (uint32_t colour : ODD_COLOURS) {
        w.picture.Fill(colour);
        EXPECT_EQ(w.picture.Pixel(3, 4), colour) << std::hex << colour << " filled by FillRect";

        w.picture.Fill(0x00808080);
        w.picture.SetPixel(7, 2, colour);
        EXPECT_EQ(w.picture.Pixel(7, 2), colour) << std::hex << colour;
        w.picture.CopyRect(7, 2, 9, 5, 1, 1); // BitBlt reads the direct write
        EXPECT_EQ(w.picture.Pixel(9, 5), colour) << std::hex << colour << " copied by BitBlt";
        w.picture.Repaint();
        EXPECT_EQ(w.Shown(7, 2), colour) << std::hex << colour << " on screen";
        EXPECT_EQ(w.Shown(9, 5), colour) << std::hex << colour << " on screen";
    }
    // Outside the image: ignored.
    w.picture.SetPixel(-1, 0, 0);
    w.picture.SetPixel(PICTURE_WIDTH, 0, 0);
    w.picture.SetPixel(0, PICTURE_HEIGHT, 0);
}

TEST(PictureControl, OnlyARepaintReachesTheScreen)
{
    PictureWindow w;
    const uint32_t face = GetSysColor(COLOR_BTNFACE);
    w.picture.SetPixel(1, 1, BLUE);
    w.picture.Fill(0);
    w.picture.SetPixel(2, 2, BLUE);
    EXPECT_EQ(w.Shown(1, 1), face);
    EXPECT_EQ(w.Shown(2, 2), face);
    w.picture.Repaint();
    EXPECT_EQ(w.Shown(1, 1), 0u);
    EXPECT_EQ(w.Shown(2, 2), BLUE);

    // A window that was covered paints itself from the image again.
    InvalidateRect(w.control, nullptr, TRUE);
    UpdateWindow(w.control);
    EXPECT_EQ(w.Shown(2, 2), BLUE);
}

TEST(PictureControl, ScrollCopyMovesRowsUpAsABlock)
{
    PictureWindow w;
    for (int y = 0; y < PICTURE_HEIGHT; ++y)
        for (int x = 0; x < PICTURE_WIDTH; ++x)
            w.picture.SetPixel(x, y, static_cast<uint32_t>(y * 10 + x));
    // The waterfall's scroll: rows 1.. onto 0.., the bottom row kept.
    w.picture.CopyRect(0, 1, 0, 0, PICTURE_WIDTH, PICTURE_HEIGHT - 1);
    for (int y = 0; y < PICTURE_HEIGHT; ++y) {
        const int from = y < PICTURE_HEIGHT - 1 ? y + 1 : y;
        for (int x = 0; x < PICTURE_WIDTH; ++x)
            ASSERT_EQ(w.picture.Pixel(x, y), static_cast<uint32_t>(from * 10 + x)) << x << "," << y;
    }
}

// The curve's line: GDI's pixels. They match the in-memory picture's line
// except where a line passes exactly between two pixels, which the two
// break differently; so: the same number of pixels, each GDI pixel on or
// next to one of the model's, the first point drawn, the last one not.
TEST(PictureControl, PolylineDrawsTheCurveLikeTheInMemoryPicture)
{
    const std::vector<std::vector<CurvePoint>> curves = {
        {{0, 19}, {10, 19}, {12, 3.4f}, {14, 3.6f}, {16, 19}, {58, 19}},
        {{0, 0}, {59, 19}},
        {{5, 5}, {5, 15}, {25, 15}, {25, 5}},
    };
    const uint32_t white = 0x00FFFFFF;
    for (size_t c = 0; c < curves.size(); ++c) {
        const std::vector<CurvePoint>& curve = curves[c];
        PictureWindow w;
        MemoryPicture expected(PICTURE_WIDTH, PICTURE_HEIGHT, white);
        w.picture.Fill(white);
        const auto count = static_cast<int32_t>(curve.size());
        w.picture.Polyline(curve.data(), count, BLUE);
        expected.Polyline(curve.data(), count, BLUE);

        int drawn = 0, expectedDrawn = 0;
        for (int y = 0; y < PICTURE_HEIGHT; ++y) {
            for (int x = 0; x < PICTURE_WIDTH; ++x) {
                expectedDrawn += expected.Pixel(x, y) == BLUE;
                if (w.picture.Pixel(x, y) == white)
                    continue;
                ASSERT_EQ(w.picture.Pixel(x, y), BLUE) << "curve " << c << " at " << x << "," << y;
                ++drawn;
                bool nearModel = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        nearModel |= expected.Contains(x + dx, y + dy) && expected.Pixel(x + dx, y + dy) == BLUE;
                EXPECT_TRUE(nearModel) << "curve " << c << " at " << x << "," << y;
            }
        }
        EXPECT_EQ(drawn, expectedDrawn) << "curve " << c;
        const PixelPoint first = RoundToPixel(curve.front()), last = RoundToPixel(curve.back());
        EXPECT_EQ(w.picture.Pixel(first.x, first.y), BLUE) << "curve " << c;
        EXPECT_EQ(w.picture.Pixel(last.x, last.y), white) << "curve " << c;
    }
}

// Clipped at the edges: nothing outside the image is written.
TEST(PictureControl, PolylineIsClippedToTheImage)
{
    PictureWindow w;
    const CurvePoint offImage[] = {{2, 25}, {30, -40}, {50, 10.5f}, {80, 10}};
    w.picture.Fill(0);
    w.picture.Polyline(offImage, 4, BLUE);
    int drawn = 0;
    for (int y = 0; y < PICTURE_HEIGHT; ++y)
        for (int x = 0; x < PICTURE_WIDTH; ++x)
            drawn += w.picture.Pixel(x, y) == BLUE;
    EXPECT_GT(drawn, 0);
    EXPECT_EQ(w.picture.Pixel(0, 0), 0u);
}

TEST(PictureControl, DestroyingTheWindowFirstIsSafe)
{
    auto w = std::make_unique<PictureWindow>();
    DestroyWindow(w->window);
    w->picture.SetPixel(1, 1, BLUE);
    w->picture.Repaint(); // no window left: nothing happens
    EXPECT_EQ(w->picture.Pixel(1, 1), BLUE);
}
