// The demo's drift measurement from peak-label readings: the slope of a
// staircase of integer lags, through wraps, jumps and a peak that flickers
// between two lags; and the trackbar position where the drift is zero.
#include "demo/drift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

using demo::DriftAtPosition;
using demo::DriftMeter;
using demo::StillPosition;

// The lag a receiver would show at time t for a peak drifting at `drift`
// lags per second from `start`, read every `interval` seconds.
int LagAt(double start, double drift, double t)
{
    const int lag = static_cast<int>(std::floor(start + drift * t)) % demo::PEAK_LAGS;
    return lag < 0 ? lag + demo::PEAK_LAGS : lag;
}

// A small deterministic noise source, so the cases are reproducible.
class Noise {
public:
    double Next()
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }

private:
    uint64_t state = 42;
};

TEST(DriftMeter, FitsTheSlopeOfTheLagStaircase)
{
    struct Case {
        const char* what;
        double start, drift, seconds;
        double tolerance;
    };
    const Case cases[] = {
        {"rising", 100.5, 4.0, 10.0, 0.01},
        {"falling", 300.2, -12.0, 10.0, 0.01},
        {"slow", 50.3, 0.4, 10.0, 0.01},
        {"rising through the wrap at 511", 500.0, 4.0, 10.0, 0.01},
        {"falling through the wrap at 0", 10.0, -6.0, 10.0, 0.01},
        {"standing still", 77.5, 0.0, 5.0, 1e-12},
    };
    for (const Case& c : cases) {
        DriftMeter meter;
        for (double t = 0; t <= c.seconds; t += 0.02)
            meter.Add(t, LagAt(c.start, c.drift, t));
        EXPECT_NEAR(meter.LagsPerSecond(), c.drift, c.tolerance) << c.what;
        EXPECT_EQ(meter.Jumps(), 0) << c.what;
    }
}

TEST(DriftMeter, AJumpInTheAudioStartsANewSegmentAndKeepsTheSlope)
{
    DriftMeter meter;
    for (double t = 0; t < 5; t += 0.02)
        meter.Add(t, LagAt(20, 4.0, t));
    // 182 samples lost: the peak jumps by 91 lags and drifts on from there.
    for (double t = 5; t < 10; t += 0.02)
        meter.Add(t, LagAt(20 + 91, 4.0, t));
    EXPECT_EQ(meter.Jumps(), 1);
    EXPECT_NEAR(meter.LagsPerSecond(), 4.0, 0.02);
    EXPECT_NEAR(meter.SecondsCovered(), 10.0, 0.1);
}

TEST(DriftMeter, AStepBeyondTheLimitIsAJump)
{
    struct Case {
        int limit;
        int step;
        int jumps;
    };
    for (const Case c : {Case{3, 3, 0}, Case{3, 4, 1}, Case{1, 1, 0}, Case{1, 2, 1}, Case{1, -2, 1}}) {
        DriftMeter meter(c.limit);
        meter.Add(0.0, 100);
        meter.Add(0.1, 100 + c.step);
        EXPECT_EQ(meter.Jumps(), c.jumps) << "limit " << c.limit << ", step " << c.step;
    }
}

TEST(DriftMeter, APeakFlickeringBetweenTwoLagsStandsStill)
{
    Noise noise;
    DriftMeter meter;
    for (double t = 0; t < 5; t += 0.02)
        meter.Add(t, noise.Next() < 0.5 ? 200 : 201);
    EXPECT_NEAR(meter.LagsPerSecond(), 0.0, 0.05);
    EXPECT_EQ(meter.LargestSpread(), 1);
}

TEST(DriftMeter, LateReadingsBlurTheStepsButNotTheSlope)
{
    // Blocks reach the label up to a block late (128 ms at 8000 Hz).
    Noise noise;
    DriftMeter meter;
    for (double t = 0; t < 10; t += 0.02)
        meter.Add(t, LagAt(40, 4.0, t - 0.128 * noise.Next()));
    EXPECT_NEAR(meter.LagsPerSecond(), 4.0, 0.05);
}

// A correlation that favours even lags: of every two lags, the even one
// shows for 70 % of the time.
int StickyLagAt(double start, double drift, double t)
{
    const double delay = start + drift * t;
    const double pair = std::floor(delay / 2);
    const int lag = static_cast<int>(2 * pair) + (delay / 2 - pair > 0.7 ? 1 : 0);
    return ((lag % demo::PEAK_LAGS) + demo::PEAK_LAGS) % demo::PEAK_LAGS;
}

TEST(DriftMeter, CountsWholePairsOfLagsWhenTheCorrelationFavoursEveryOther)
{
    // 0.1 lags per block over 47 blocks: a fit through all readings would
    // be off by up to a tenth; the moments of the new lags are not.
    for (double start : {10.0, 10.5, 11.0, 11.5}) {
        for (double drift : {0.78, -0.78}) {
            DriftMeter meter;
            for (double t = 0; t < 6; t += 0.02)
                meter.Add(t, StickyLagAt(start, drift, t));
            EXPECT_NEAR(meter.LagsPerSecond(), drift, 0.02) << "start " << start << ", drift " << drift;
        }
    }
}

TEST(DriftMeter, KnowsNothingFromTooFewReadings)
{
    DriftMeter none;
    EXPECT_EQ(none.LagsPerSecond(), 0.0);
    DriftMeter one;
    one.Add(1.0, 5);
    EXPECT_EQ(one.LagsPerSecond(), 0.0);
    EXPECT_EQ(one.SecondsCovered(), 0.0);
}

TEST(StillPosition, WhereTheFittedDriftCrossesZero)
{
    // A receiver 0.1 % fast at 8000 Hz: 4 lags per second at position
    // 1000, zero at 500, 0.0078125 lags per second less per step.
    auto drift = [](int position) { return (500 - position) * 0.0078125; };
    std::vector<DriftAtPosition> coarse;
    for (int position : {0, 500, 1000, 1500, 2000})
        coarse.push_back({position, drift(position)});
    ASSERT_TRUE(StillPosition(coarse).has_value());
    EXPECT_NEAR(*StillPosition(coarse), 500.0, 1e-9);

    // Measurement noise on both sides of the zero.
    const std::vector<DriftAtPosition> fine{
        {300, drift(300) + 0.01}, {400, drift(400) - 0.01}, {600, drift(600) + 0.01}, {700, drift(700) - 0.01}};
    ASSERT_TRUE(StillPosition(fine).has_value());
    EXPECT_NEAR(*StillPosition(fine), 500.0, 2.0);

    // The zero may lie outside the measured positions.
    const std::vector<DriftAtPosition> oneSide{{1000, drift(1000)}, {1200, drift(1200)}};
    EXPECT_NEAR(*StillPosition(oneSide), 500.0, 1e-9);
}

TEST(StillPosition, TrustsTheMeasurementsByTheirWeights)
{
    auto drift = [](int position) { return (500 - position) * 0.0078125; };
    // The far measurement is off by 0.5 lags per second (64 steps' worth).
    std::vector<DriftAtPosition> measurements{
        {300, drift(300) + 0.5, 1.0}, {450, drift(450), 100.0}, {550, drift(550), 100.0}};
    const double equal = *StillPosition({{300, drift(300) + 0.5}, {450, drift(450)}, {550, drift(550)}});
    const double weighted = *StillPosition(measurements);
    EXPECT_GT(std::fabs(equal - 500.0), 2.0);
    EXPECT_LT(std::fabs(weighted - 500.0), 1.0);
    EXPECT_FALSE(StillPosition({{300, 1.0, 0.0}, {700, -1.0, 0.0}}).has_value()) << "no weight at all";
}

TEST(StillPosition, NothingWhenTheDriftDoesNotFollowThePosition)
{
    EXPECT_FALSE(StillPosition({}).has_value());
    EXPECT_FALSE(StillPosition({{500, 1.0}}).has_value());
    EXPECT_FALSE(StillPosition({{500, 1.0}, {500, 2.0}}).has_value()) << "one position twice";
    // No signal: the peak sits at lag 0 whatever the position.
    EXPECT_FALSE(StillPosition({{0, 0.0}, {1000, 0.0}, {2000, 0.0}}).has_value());
}

} // namespace

// The peak label of a receiver `stepsOff` trackbar steps beyond the still
// position, read every 20 ms for `seconds`: one lag per block of 1024
// samples, a correlation that favours even lags (as StickyLagAt) and a
// flicker of up to a tenth of a lag at each boundary. From `lostAt`
// seconds on, `lostLags` lags are missing: one (two samples) is a dropout
// too small to tell from drift, more is a jump.
DriftMeter Watch(double stepsOff, int rate, double seconds, double start, double lostAt = 1e9, int lostLags = 1)
{
    // A step corrects the clock by 2 ppm: 0.002048 samples, 0.001024 lags per block.
    const double lagsPerBlock = stepsOff * 2e-6 * 1024 / 2;
    const double blockSeconds = 1024.0 / rate;
    Noise noise;
    DriftMeter meter(1);
    for (double t = 0; t < seconds; t += 0.02) {
        const double block = std::floor(t / blockSeconds);
        const double flicker = 0.2 * (noise.Next() - 0.5);
        const double lost = t >= lostAt ? lostLags : 0.0;
        meter.Add(t, StickyLagAt(start + lost + flicker, lagsPerBlock / blockSeconds, block * blockSeconds));
    }
    return meter;
}

TEST(JudgePair, ConfirmsAGoodPositionAndLeadsABadOneBack)
{
    // The pair is measured 40 steps either side of the position found so
    // far, for 12 s, with a tolerance of 3 steps, as autotrim does. Not
    // confirmed, the position for the next round must lie nearer the truth
    // (found far off, the side close to the still position crosses only
    // two lags and is the rougher).
    struct Case {
        const char* what;
        int rate;
        double foundOff;  // steps from the true still position
        double lostAt;    // a lag lost on the upper side at this second
        bool confirmed;
        double within;  // steps from the truth
    };
    const Case cases[] = {
        {"found right, 1000 ppm fast", 8008, 0, 1e9, true, 1.0},
        {"found 1.5 steps high, 500 ppm slow", 7996, 1.5, 1e9, true, 1.0},
        {"at the trackbar's ends", 8016, -1, 1e9, true, 1.0},
        {"found 6 steps high", 8008, 6, 1e9, false, 2.0},
        {"found 15 steps low", 8008, -15, 1e9, false, 5.0},
        {"found 15 steps high, 2000 ppm slow", 7984, 15, 1e9, false, 5.0},
        {"found right, a lag lost half way", 8008, 0, 6.0, false, 1.0},
    };
    for (const Case& c : cases) {
        const double truth = 1000.0;
        const double found = truth + c.foundOff;
        const int below = static_cast<int>(std::lround(found)) - 40, above = below + 80;
        const DriftMeter belowMeter = Watch(below - truth, c.rate, 12.0, 100.3);
        const DriftMeter aboveMeter = Watch(above - truth, c.rate, 12.0, 300.6, c.lostAt);
        const demo::PairVerdict verdict =
            demo::JudgePair(found, {below, belowMeter.LagsPerSecond()}, {above, aboveMeter.LagsPerSecond()},
                            demo::DriftPerStep(c.rate), 3.0);
        EXPECT_EQ(verdict.confirmed, c.confirmed) << c.what;
        EXPECT_NEAR(verdict.position, truth, c.within) << c.what;
    }
}

TEST(StoodStill, SeesAFewStepsAsStillAndFifteenAsDrift)
{
    // 200 blocks, the still watch's length, from starts across a pair of
    // lags. A jump cuts the watch in two pieces that each show fewer lags.
    struct Case {
        double stepsOff;
        int lostLags;  // at 10 s
        bool still;
    };
    const Case cases[] = {{0, 0, true},    {2, 0, true},   {-2, 0, true}, {15, 0, false}, {-15, 0, false},
                          {2, 91, true}, {15, 91, false}, {-15, 91, false}};
    for (const Case& c : cases) {
        for (double start = 40.0; start < 42.0; start += 0.25) {
            const DriftMeter meter = Watch(c.stepsOff, 8008, 200 * 1024 / 8008.0, start, 10.0, c.lostLags);
            EXPECT_EQ(demo::StoodStill(meter, demo::DriftPerStep(8008)), c.still)
                << c.stepsOff << " steps off from lag " << start << ", " << c.lostLags
                << " lags lost: spread " << meter.LargestSpread() << ", " << meter.LagsPerSecond() << " lags/s";
        }
    }
}
