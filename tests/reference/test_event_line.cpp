// The line through a reference's events.
#include "meter/reference/event_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

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

namespace {

// A line of known slope through events with Gaussian scatter: the slope's
// error over its uncertainty across seeds, and what was left out.
struct Scattered {
    const char* name;
    double scatter;       // each event's standard deviation, samples
    bool weighted;        // the meter tells the line each event's scatter
    int segments;         // equal parts, each with an intercept of its own
    int farOff;           // events moved 50 scatters off the line
};

TEST(EventLine, LeavesOutEventsFarOffAndStaysHonest)
{
    const Scattered cases[] = {
        {"plain", 0.01, false, 1, 0},
        {"weighted, two scatters", 0.01, true, 1, 0},
        {"three segments, outliers", 0.02, true, 3, 4},
    };
    constexpr int SEEDS = 40, EVENTS = 120;
    const double rate = 48000 * (1 + 12.3456e-6);
    for (const Scattered& c : cases) {
        SCOPED_TRACE(c.name);
        double squares = 0;
        for (int seed = 1; seed <= SEEDS; ++seed) {
            std::mt19937_64 random(seed);
            std::normal_distribution<double> normal;
            EventLine line;
            for (int k = 0; k < EVENTS; ++k) {
                // Every other event twice as noisy where weighted.
                const double scatter = c.weighted && k % 2 ? 2 * c.scatter : c.scatter;
                const uint32_t segment = static_cast<uint32_t>(k * c.segments / EVENTS);
                double position = 1000.25 + rate * k + 317.5 * segment + scatter * normal(random);
                if (k % 29 == 7 && k / 29 < c.farOff)
                    position += 50 * c.scatter;
                line.Add(k, position, c.weighted ? scatter : 0, segment);
            }
            const EventLineFit fit = line.Fit();
            ASSERT_TRUE(fit.valid);
            EXPECT_EQ(fit.segments, c.segments);
            EXPECT_GE(fit.leftOut, c.farOff);
            EXPECT_LE(fit.leftOut, c.farOff + 1);
            for (int far = 0; far < c.farOff; ++far)
                EXPECT_NE(std::find(fit.leftOutPoints.begin(), fit.leftOutPoints.end(), static_cast<size_t>(29 * far + 7)),
                          fit.leftOutPoints.end());
            const double error = (fit.slope - rate) / fit.slopeUncertainty;
            squares += error * error;
        }
        const double ratio = std::sqrt(squares / SEEDS);
        EXPECT_GT(ratio, 0.6);
        EXPECT_LT(ratio, 1.4);
    }
}

}  // namespace
