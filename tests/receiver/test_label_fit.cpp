// The receiver's two labels on the real dialog, drawn with the dialog's own
// font: every text they can show must fit on one line of the control. A
// static control wraps a text wider than its client area at the last space
// and shows only what fits below; with "Clock error" alone on the first line
// of an 18-pixel label, the reading itself would be cut off. A font with
// other metrics than the dialog was laid out for (a missing "MS Sans Serif"
// under Wine) shows up here.
#include "tests/receiver/receiver_fixture.h"

#include "receiver/dsp/readout.h"

#include <set>

namespace {

struct Extent {
    SIZE text{};        // the text in the control's font
    LONG lineHeight = 0; // one line of that font
    RECT client{};
};

Extent MeasureInControl(HWND control, const std::string& text)
{
    Extent extent;
    GetClientRect(control, &extent.client);
    HDC dc = GetDC(control);
    const auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent.text);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    extent.lineHeight = metrics.tmHeight;
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return extent;
}

class LabelFitTest : public ReceiverTest {
protected:
    // Fails when `text`, as the control `id` shows it, needs a second line.
    void ExpectOneLine(int id, const std::string& text)
    {
        const Extent extent = MeasureInControl(GetDlgItem(dialog, id), text);
        EXPECT_LE(extent.text.cx, extent.client.right) << '"' << text << "\" is wider than its label";
        EXPECT_LE(extent.lineHeight, extent.client.bottom) << '"' << text << "\" is taller than its label";
    }
};

} // namespace

// The dialog asks for "MS Sans Serif" 8 points; the font it got must be
// that one or one with the same metrics, not a wider stand-in.
TEST_F(LabelFitTest, DialogFontIsTheOneItAskedFor)
{
    const auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    HDC dc = GetDC(dialog);
    HGDIOBJ previous = SelectObject(dc, font);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, sizeof face, face);
    SelectObject(dc, previous);
    ReleaseDC(dialog, dc);
    EXPECT_STREQ(face, "MS Sans Serif");
}

// Every position of the trackbar, 0 to 2000: each reading from
// "Clock error 0.200%" to "Clock error -0.200%" as the dialog writes it.
TEST_F(LabelFitTest, EveryClockReadingFitsOnOneLine)
{
    std::set<std::string> readings;
    for (LONG position = CLOCK_TRACKBAR_MINIMUM; position <= CLOCK_TRACKBAR_MAXIMUM; ++position) {
        SendMessageA(Trackbar(), TBM_SETPOS, TRUE, position);
        SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(Trackbar()));
        readings.insert(Text(ID_CLOCK_LABEL));
    }
    ASSERT_EQ(readings.size(), 401u); // -0.200 to 0.200 in steps of 0.001
    ASSERT_EQ(readings.count("Clock error -0.200%"), 1u);
    ASSERT_EQ(readings.count("Clock error 0.200%"), 1u);
    for (const std::string& reading : readings)
        ExpectOneLine(ID_CLOCK_LABEL, reading);
}

// Every lag the peak label can show, 0 to 511, the widest digits included.
TEST_F(LabelFitTest, EveryPeakReadingFitsOnOneLine)
{
    EXPECT_EQ(FormatPeakText(511), "Correlation peak at  511 samples");
    for (int32_t lag = 0; lag < 512; ++lag)
        ExpectOneLine(ID_PEAK_LABEL, FormatPeakText(lag));
}
