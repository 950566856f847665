// The receiver's main dialog: its window and controls, the readouts and
// pictures each block leaves in them, and the trackbar.
#include "tests/receiver/receiver_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct ControlRow {
    int id;
    const char* className;
    const char* text;
    RECT place; // x, y, width, height in the client area
    DWORD style;
    DWORD extendedStyle;
};

// Position and size of a child in its parent's client area.
RECT PlaceOf(HWND control)
{
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

} // namespace

TEST_F(ReceiverTest, DialogHasItsCaptionSizeAndStyle)
{
    char caption[64] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "STANAG 4285 Quorvane");
    // The system adds WS_CLIPSIBLINGS to every top-level window.
    const auto style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)) & ~WS_CLIPSIBLINGS;
    EXPECT_EQ(style & 0xFFFF0000u, 0x90CE0000u) << std::hex << style;
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);

    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 1040);
    EXPECT_EQ(client.bottom, 350);

    RECT frame{}, workArea{};
    GetWindowRect(dialog, &frame);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    EXPECT_LE(std::abs((frame.left + frame.right) - (workArea.left + workArea.right)), 1);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (workArea.top + workArea.bottom)), 1);
}

TEST_F(ReceiverTest, ControlsStandInCreationOrderWithTheirPlacesStylesAndTexts)
{
    const DWORD surface = WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_OWNERDRAW;
    const ControlRow rows[] = {
        {4000, "Static", "", {5, 50, 1036, 200}, surface, 0},
        {4002, "Static", "", {5, 251, 1026, 70}, surface, 0},
        {1310, "Button", "Soundcard", {350, 1, 90, 25}, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0},
        {4001, "Static", "Correlation peak", {120, 15, 190, 25}, WS_CHILD | WS_VISIBLE | SS_LEFT, 0},
        {700, "msctls_trackbar32", "", {1, 1, 100, 30}, WS_CHILD | WS_VISIBLE, WS_EX_STATICEDGE},
        {4005, "Static", "Clock error 0.000%", {1, 32, 100, 18}, WS_CHILD | WS_VISIBLE | SS_LEFT, 0},
    };
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const ControlRow& row : rows) {
        ASSERT_NE(child, nullptr) << "missing control " << row.id;
        EXPECT_EQ(GetDlgCtrlID(child), row.id);
        EXPECT_EQ(_stricmp(ClassOf(child).c_str(), row.className), 0) << row.id << ": " << ClassOf(child);
        EXPECT_EQ(Text(row.id), row.text) << row.id;
        const RECT place = PlaceOf(child);
        EXPECT_EQ(place.left, row.place.left) << row.id;
        EXPECT_EQ(place.top, row.place.top) << row.id;
        EXPECT_EQ(place.right, row.place.right) << row.id;
        EXPECT_EQ(place.bottom, row.place.bottom) << row.id;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)), row.style) << row.id;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE)) & WS_EX_STATICEDGE, row.extendedStyle)
            << row.id;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "no further controls";

    EXPECT_EQ(SendMessageA(Trackbar(), TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageA(Trackbar(), TBM_GETRANGEMAX, 0, 0), 2000);
    EXPECT_EQ(SendMessageA(Trackbar(), TBM_GETPOS, 0, 0), 1000);
}

TEST_F(ReceiverTest, ResizingLeavesEveryControlWhereItWas)
{
    std::vector<RECT> before;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        before.push_back(PlaceOf(child));
    SetWindowPos(dialog, nullptr, 0, 0, 600, 200, SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    size_t i = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT), ++i) {
        const RECT after = PlaceOf(child);
        EXPECT_EQ(std::memcmp(&after, &before[i], sizeof after), 0) << GetDlgCtrlID(child);
    }
}

TEST_F(ReceiverTest, PicturesShowTheButtonFaceUntilTheFirstBlock)
{
    const uint32_t face = GetSysColor(COLOR_BTNFACE);
    for (const PictureControl* picture : {&receiver->waterfallPicture, &receiver->curvePicture}) {
        auto& image = const_cast<PictureControl&>(*picture);
        for (int y = 0; y < image.Height(); y += 7)
            for (int x = 0; x < image.Width(); x += 5)
                ASSERT_EQ(image.Pixel(x, y), face) << x << "," << y;
    }
}

// Every block rewrites the peak label with the lag the correlator found:
// the transmitter's burst, repeating every block, stands at one lag from
// the third block on.
TEST_F(ReceiverTest, PeakLabelFollowsEveryBlock)
{
    device.source = TransmitterStream(12);
    ReferenceReceiver reference;
    std::vector<std::string> shown;
    for (size_t b = 0; b < 12; ++b) {
        Record(1);
        reference.CaptureBuffer(SourceAt(b), BLOCK_LENGTH);
        shown.push_back(Text(ID_PEAK_LABEL));
        // The first sample lands at index 1 of the first block, so every
        // buffer completes a block.
        ASSERT_EQ(reference.readout.peakTexts.size(), b + 1);
        EXPECT_EQ(shown[b], reference.readout.peakTexts[b]) << "buffer " << b;
    }
    EXPECT_EQ(shown[0], "Correlation peak at  0 samples");
    for (size_t b = 3; b < 12; ++b)
        EXPECT_EQ(shown[b], shown[2]) << "buffer " << b;
    EXPECT_NE(shown[2], shown[0]);
}

// The pictures hold exactly what the picture model draws: the waterfall
// pixel for pixel (including the scroll once 200 rows are drawn), the
// curve's peak at the lag of the peak label.
TEST_F(ReceiverTest, WaterfallShowsAStillTraceAndScrollsAfter200Blocks)
{
    const size_t buffers = 205;
    device.source = TransmitterStream(buffers);
    ReferenceReceiver reference;
    auto expectSameWaterfall = [&](const char* when) {
        for (int y = 0; y < WATERFALL_HEIGHT; ++y)
            for (int x = 0; x < WATERFALL_WIDTH; ++x)
                ASSERT_EQ(receiver->waterfallPicture.Pixel(x, y), reference.waterfall.Pixel(x, y))
                    << when << " at " << x << "," << y;
    };
    for (size_t b = 0; b < buffers; ++b) {
        Record(1);
        reference.CaptureBuffer(SourceAt(b), BLOCK_LENGTH);
        if (b == 10)
            expectSameWaterfall("after 10 blocks");
    }
    EXPECT_EQ(receiver->correlator.display.waterfallRow, WATERFALL_HEIGHT);
    expectSameWaterfall("after scrolling");

    // A dark vertical trace at the peak's pixel, white far from it.
    const int peak = receiver->correlator.peakIndex;
    PictureControl& waterfall = receiver->waterfallPicture;
    for (int y = 5; y <= 198; y += 13) {
        EXPECT_LT(waterfall.Pixel(2 * peak, y) & 0xFF, 64u) << "row " << y;
        EXPECT_EQ(waterfall.Pixel((2 * peak + 500) % 1024, y), 0x00FFFFFFu) << "row " << y;
    }

    // The curve: its highest point at the peak's x, near the top; the line
    // runs along the bottom row far from it.
    PictureControl& curve = receiver->curvePicture;
    int top = CURVE_HEIGHT;
    int topX = -1;
    for (int x = 0; x < CURVE_WIDTH; ++x)
        for (int y = 0; y < top; ++y)
            if (curve.Pixel(x, y) == CURVE_COLOR) {
                top = y;
                topX = x;
            }
    EXPECT_LE(std::abs(topX - 2 * peak), 2);
    EXPECT_LT(top, 35);
    EXPECT_EQ(curve.Pixel((2 * peak + 500) % 1024, 69), CURVE_COLOR);
}

// The trackbar's notifications set the clock correction and its label:
// thumb tracking from the position in the message, line, page, top and
// bottom from the control, the rest not at all.
TEST_F(ReceiverTest, ClockLabelAfterEachTrackbarNotification)
{
    struct Case {
        WORD code;
        WORD thumb;
        LONG controlPosition;
        const char* label;
    };
    const Case cases[] = {
        {TB_THUMBTRACK, 0, 1000, "Clock error 0.200%"},
        {TB_THUMBTRACK, 2000, 1000, "Clock error -0.200%"},
        {TB_THUMBTRACK, 995, 0, "Clock error 0.001%"},
        {TB_THUMBTRACK, 1000, 0, "Clock error 0.000%"},
        {TB_LINEUP, 0, 999, "Clock error 0.000%"},
        {TB_LINEDOWN, 0, 1500, "Clock error -0.100%"},
        {TB_PAGEUP, 0, 500, "Clock error 0.100%"},
        {TB_PAGEDOWN, 0, 1400, "Clock error -0.080%"},
        {TB_TOP, 0, 0, "Clock error 0.200%"},
        {TB_BOTTOM, 0, 2000, "Clock error -0.200%"},
        {TB_THUMBPOSITION, 0, 600, "Clock error -0.200%"}, // unchanged
        {TB_ENDTRACK, 0, 600, "Clock error -0.200%"},      // unchanged
    };
    for (const Case& c : cases) {
        SendMessageA(Trackbar(), TBM_SETPOS, TRUE, c.controlPosition);
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(c.code, c.thumb), reinterpret_cast<LPARAM>(Trackbar()));
        EXPECT_EQ(Text(ID_CLOCK_LABEL), c.label) << "code " << c.code << " thumb " << c.thumb;
    }
    EXPECT_EQ(receiver->correlator.clockCorrection, -0.002L);
}

// The real control: a key press moves the thumb, and the trackbar's own
// WM_HSCROLL reaches the dialog.
TEST_F(ReceiverTest, KeyboardOnTheTrackbarMovesTheCorrection)
{
    SendMessageA(Trackbar(), WM_KEYDOWN, VK_NEXT, 0);
    SendMessageA(Trackbar(), WM_KEYUP, VK_NEXT, 0);
    const LRESULT position = SendMessageA(Trackbar(), TBM_GETPOS, 0, 0);
    EXPECT_GT(position, 1000);
    char expected[32];
    std::snprintf(expected, sizeof expected, "Clock error -%.3f%%", (position - 1000) / 5000.0);
    EXPECT_EQ(Text(ID_CLOCK_LABEL), expected);
}
