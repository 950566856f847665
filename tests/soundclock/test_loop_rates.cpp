// The loop's cross-check: the offset each side's rate against the system
// clock implies, against the signal's.
#include "soundclock/loop_rates.h"

#include <gtest/gtest.h>

namespace {

RateEstimate Rate(double nominal, double ppm, double uncertaintyPpm)
{
    RateEstimate e;
    e.valid = true;
    e.ppm = ppm;
    e.uncertaintyPpm = uncertaintyPpm;
    e.rate = nominal * (1 + ppm * 1e-6);
    return e;
}

// A capture opened at another nominal rate than the playback: the ratio of
// the nominal rates is part of the offset the signal measures, and of the
// one the rates imply (on a null sink at 8000 Hz, its monitor recorded at
// 8008 Hz read 7999.97639 Hz and 8007.98001 Hz against +1000 ppm).
TEST(LoopRates, TheNominalRatesRatioIsPartOfTheOffset)
{
    const struct {
        double playNominal, playPpm, recordNominal, recordPpm, uncertaintyPpm, signalPpm;
        double implied;
        bool agree;
    } cases[] = {
        {8000, -2.95125, 8008, -2.49750, 6.8, 1000.000, 1000.454, true},
        {8000, 0, 8000, 1.5, 0.1, 1.5, 1.5, true},
        {8000, 10, 8000, -10, 0.1, -20.0, -19.9998, true},
        {8000, 10, 8000, -10, 0.1, -19.0, -19.9998, false},
        {8000, 0, 8008, 0, 6.8, 0.0, 1000.0, false},  // the signal says 0: the rates do not
        {48000, 3, 44100, 3, 0.1, -81250.0, -81250.0, true},
    };
    for (const auto& c : cases) {
        const RatesCheck check = CheckRates(Rate(c.playNominal, c.playPpm, c.uncertaintyPpm),
                                            Rate(c.recordNominal, c.recordPpm, c.uncertaintyPpm), c.signalPpm, 0.001);
        ASSERT_TRUE(check.valid);
        EXPECT_NEAR(check.offsetPpm, c.implied, 0.001) << c.recordNominal << " " << c.recordPpm;
        EXPECT_EQ(check.agree, c.agree) << c.recordNominal << " " << c.recordPpm;
    }
}

}  // namespace
