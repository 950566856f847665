// The peak and clock readouts, and the clock correction of a trackbar
// position.
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
        receiver.correlator.SetClockPosition(static_cast<uint16_t>(c.position));
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
        receiver.correlator.SetClockPosition(static_cast<uint16_t>(c.position));
        EXPECT_NEAR(static_cast<double>(receiver.correlator.clockCorrection),
                    static_cast<double>(c.correction), 1e-15);
    }
}
