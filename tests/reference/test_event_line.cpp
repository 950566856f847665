// The line through a reference's events.
#include "meter/reference/event_line.h"

#include <gtest/gtest.h>

namespace {

// Positions far from zero (an hour at 96 kHz) keep their fraction: a
// slope of a few parts in 1e10 off the nominal rate is still seen.
TEST(EventLine, KeepsTheFractionFarFromZero)
{
    EventLine line;
    const double rate = 96000 * (1 + 3e-10);
    for (int k = 0; k < 3600; ++k)
        line.Add(k, 1e9 + rate * k + ((k % 2) ? 1e-3 : -1e-3), 0, 0);
    const EventLineFit fit = line.Fit();
    ASSERT_TRUE(fit.valid);
    EXPECT_NEAR((fit.slope / 96000 - 1) * 1e6, 3e-4, 2e-6);
    EXPECT_NEAR(fit.scatter, 1e-3, 1e-5);
}

}  // namespace
