// A card against a reference as it moves: windows and the Allan deviation.
#include "meter/reference/reference_track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double RATE = 48000;

// One event a second of a card `ppm` fast, its edge timed with white
// noise of `noiseSeconds`; samples lost at `stepAt` (a new segment).
std::vector<ReferenceEvent> Pulses(int count, double ppm, double noiseSeconds, int stepAt = -1, double stepSamples = 0)
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, noiseSeconds * RATE);
    std::vector<ReferenceEvent> events;
    for (int k = 0; k < count; ++k) {
        ReferenceEvent e;
        e.index = k;
        e.referenceSeconds = k;
        e.position = 1234.5 + k * RATE * (1 + ppm * 1e-6) + noise(random);
        e.segment = stepAt >= 0 && k >= stepAt ? 1 : 0;
        if (e.segment == 1)
            e.position -= stepSamples;
        e.flags = EVENT_USED;
        events.push_back(e);
    }
    return events;
}

TEST(ReferenceTrack, WindowsGiveTheRateAndTheirUncertaintyHolds)
{
    ReferenceTrack track(30, RATE, 1);
    std::vector<WindowEstimate> windows;
    track.OnWindow([&](const WindowEstimate& w) { windows.push_back(w); });
    for (const ReferenceEvent& e : Pulses(300, 12.5, 2e-7))
        track.Add(e);
    track.Finish();
    ASSERT_EQ(windows.size(), 10u);
    double squares = 0;
    for (const WindowEstimate& w : windows) {
        ASSERT_TRUE(w.valid);
        EXPECT_EQ(w.blocks, 30);
        const double z = (w.ppm - 12.5) / w.uncertaintyPpm;
        squares += z * z;
    }
    // The windows' own uncertainties explain their scatter.
    EXPECT_NEAR(std::sqrt(squares / 10), 1.0, 0.5);
    EXPECT_DOUBLE_EQ(windows.back().endSeconds, 299);
}

// White phase noise of x: ADEV(tau) = sqrt(3) x / tau; a step in the
// stream (a new segment) is stitched over, not seen as a frequency jump.
TEST(ReferenceTrack, AllanDeviationOfWhitePhaseNoiseAcrossAStep)
{
    for (const double step : {0.0, 480.0}) {
        ReferenceTrack track(0, RATE, 1);
        for (const ReferenceEvent& e : Pulses(2000, -3, 1e-6, 1000, step))
            track.Add(e);
        track.Finish();
        const std::vector<StabilityPoint> table = track.Stability();
        ASSERT_GE(table.size(), 3u);
        EXPECT_DOUBLE_EQ(table[0].tauSeconds, 1);
        EXPECT_NEAR(table[0].adev.deviation, std::sqrt(3.0) * 1e-6, 0.1 * std::sqrt(3.0) * 1e-6) << step;
        EXPECT_NEAR(table[2].adev.deviation * 5, std::sqrt(3.0) * 1e-6, 0.25 * std::sqrt(3.0) * 1e-6) << step;
    }
}

}  // namespace
