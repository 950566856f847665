// The peak and clock readouts, and how the trackbar's notifications set the
// clock correction.
#include "tests/receiver/dsp/receiver_test_support.h"

#include <gtest/gtest.h>

#include <memory>

TEST(Readout, PeakTextHasASignPosition)
{
    const struct {
        int32_t lag;
        const char* text;
    } cases[] = {
        {0, "Correlation peak at  0 samples"},
        {37, "Correlation peak at  37 samples"},
        {511, "Correlation peak at  511 samples"},
        {-5, "Correlation peak at -5 samples"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatPeakText(c.lag), c.text);
}

TEST(Readout, ClockTextForTrackbarPositions)
{
    const struct {
        unsigned position;
        const char* text;
    } cases[] = {
        {1000, "Clock error 0.000%"},  {0, "Clock error 0.200%"},
        {2000, "Clock error -0.200%"}, {995, "Clock error 0.001%"},
        {1005, "Clock error -0.001%"}, {999, "Clock error 0.000%"},  // 0.0002 %
        {1001, "Clock error 0.000%"},  // -0.0002 % rounds to zero, shown unsigned
        {1003, "Clock error -0.001%"}, {500, "Clock error 0.100%"},
        {65535, "Clock error -12.907%"},  // beyond the trackbar's range
    };
    for (const auto& c : cases) {
        ReceiverUnderTest receiver;
        receiver.correlator.SetClockCorrection(TRACKBAR_THUMBTRACK, c.position);
        ASSERT_EQ(receiver.readout.clockTexts.size(), 1u);
        EXPECT_EQ(receiver.readout.clockTexts[0], c.text) << c.position;
    }
}

TEST(Readout, ClockCorrectionFromTrackbarPosition)
{
    const struct {
        unsigned position;
        long double correction;
    } cases[] = {{1000, 0}, {0, 0.002L}, {2000, -0.002L}, {999, 0.000002L}};
    for (const auto& c : cases) {
        ReceiverUnderTest receiver;
        receiver.correlator.SetClockCorrection(TRACKBAR_THUMBTRACK, c.position);
        EXPECT_NEAR(static_cast<double>(receiver.correlator.clockCorrection),
                    static_cast<double>(c.correction), 1e-15);
    }
}

TEST(Readout, NotificationCodesDecideWhereThePositionComesFrom)
{
    const struct {
        unsigned code;
        bool asksTrackbar;
        bool changes;
    } cases[] = {
        {TRACKBAR_LINEUP, true, true},      {TRACKBAR_LINEDOWN, true, true},
        {TRACKBAR_PAGEUP, true, true},      {TRACKBAR_PAGEDOWN, true, true},
        {TRACKBAR_TOP, true, true},         {TRACKBAR_BOTTOM, true, true},
        {TRACKBAR_THUMBTRACK, false, true}, {TRACKBAR_THUMBPOSITION, false, false},
        {TRACKBAR_ENDTRACK, false, false},  {9, false, false},
        {0xFFFF, false, false},
    };
    for (const auto& c : cases) {
        ReceiverUnderTest receiver;
        // The control answers 500 in the low word (junk in the high word);
        // the thumb-track position is 1500.
        receiver.trackbar.answer = (0x7A5 << 16) | 500;
        receiver.correlator.SetClockCorrection(c.code, 1500);
        EXPECT_EQ(receiver.trackbar.queries, c.asksTrackbar ? 1 : 0) << c.code;
        EXPECT_EQ(receiver.readout.clockTexts.size(), c.changes ? 1u : 0u) << c.code;
        const long double expected = !c.changes ? 0.0L : c.asksTrackbar ? 0.001L : -0.001L;
        EXPECT_NEAR(static_cast<double>(receiver.correlator.clockCorrection),
                    static_cast<double>(expected), 1e-15)
            << c.code;
    }
}
