// A card's transmit clock from its receive clock and the loop's offset.
#include "meter/calibration.h"

#include <gtest/gtest.h>

namespace {

ClockFigure Receive(double ppm, double u, double nominal)
{
    ClockFigure f;
    f.valid = true;
    f.ppm = ppm;
    f.uncertaintyPpm = u;
    f.nominalRate = nominal;
    return f;
}

LoopFigure Loop(double ppm, double u, double play, double record)
{
    LoopFigure f;
    f.valid = true;
    f.ppm = ppm;
    f.uncertaintyPpm = u;
    f.playRate = play;
    f.recordRate = record;
    return f;
}

// The transmit clock from the actual rates: a card whose capture runs
// r fast at R2 and whose playback runs t fast at R shows the loop
// L = R2 (1 + r) / (R (1 + t)) - 1; Combine must give t back, against R.
TEST(Calibration, TheTransmitClockFromTheReceiveClockAndTheLoop)
{
    const struct {
        double r, t, play, record;
    } cases[] = {
        {12.3456, -7.25, 48000, 48000}, {0, 0, 8000, 8008},   {46.255, 46.255, 8000, 8000},
        {-300, 250, 11025, 11025},      {5, -5, 8000, 7996}, {0.0012, 0.0034, 96000, 96000},
    };
    for (const auto& c : cases) {
        const double actualCapture = c.record * (1 + c.r * 1e-6), actualPlayback = c.play * (1 + c.t * 1e-6);
        const double L = (actualCapture / actualPlayback - 1) * 1e6;
        const Calibration cal = Combine(Receive(c.r, 0.001, c.record), Loop(L, 0.0001, c.play, c.record));
        ASSERT_TRUE(cal.valid);
        EXPECT_NEAR(cal.transmit.ppm, c.t, 1e-6) << c.r << " " << c.t << " " << c.record;
        EXPECT_EQ(cal.transmit.nominalRate, c.play);
        EXPECT_NEAR(cal.transmit.RateHz(), actualPlayback, 1e-9 * c.play);
        // what is left of the loop beyond the nominal ratio: the two clocks' difference
        EXPECT_NEAR(cal.loopExcessPpm, ((1 + c.r * 1e-6) / (1 + c.t * 1e-6) - 1) * 1e6, 1e-6);
        EXPECT_TRUE(cal.loopPlausible);
    }
}

TEST(Calibration, UncertaintiesAddAsIndependentAndAnImplausibleLoopIsSaid)
{
    Calibration cal = Combine(Receive(10, 0.3, 8000), Loop(40, 0.4, 8000, 8000));
    EXPECT_NEAR(cal.transmit.uncertaintyPpm, 0.5, 1e-4);
    EXPECT_NEAR(cal.transmit.ppm, 10 - 40, 0.002);  // r - L to first order
    // 1 % beyond the nominal ratio: another card's output, or a converter
    cal = Combine(Receive(0, 1, 8000), Loop(11000, 0.01, 8000, 8008));
    EXPECT_FALSE(cal.loopPlausible);
    EXPECT_NEAR(cal.loopExcessPpm, 9990.01, 0.01);
    EXPECT_FALSE(Combine(ClockFigure{}, Loop(0, 1, 8000, 8000)).valid);
}

TEST(Calibration, AgreementWithinThreeCombinedUncertainties)
{
    EXPECT_TRUE(AgreesWithin3(Receive(10, 0.1, 8000), Receive(12, 1, 8000)));
    EXPECT_FALSE(AgreesWithin3(Receive(10, 0.1, 8000), Receive(14, 1, 8000)));
}

}  // namespace
