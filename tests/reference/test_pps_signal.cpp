// The pulse signal's own truth: an edge that falls between two samples is
// sampled as exactly the same band-limited waveform, only moved; the
// pulse's level, AC coupling, noise and clipping are as asked.
#include "tests/reference/pps_signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr int RATE = 48000;

// The centroid of the first difference round the edge at `near`: for a
// band-limited edge it moves with the edge exactly, whatever the fraction.
double EdgeCentroid(const std::vector<float>& x, double near)
{
    double moment = 0, sum = 0;
    for (long n = std::lrint(near) - 48; n <= std::lrint(near) + 48; ++n) {
        const double d = static_cast<double>(x[n]) - static_cast<double>(x[n - 1]);
        moment += d * static_cast<double>(n);
        sum += d;
    }
    return moment / sum;
}

TEST(PpsSignal, AnEdgeBetweenSamplesIsTheSameWaveformMoved)
{
    for (double riseSeconds : {0.0, 30e-6}) {
        double reference = 0;
        for (double fraction : {0.0, 0.1, 0.25, 0.5, 0.77}) {
            PpsSignal signal;
            signal.clock = {RATE, 0, 0.5 - fraction / RATE};
            signal.seconds = 3;
            signal.riseSeconds = riseSeconds;
            const std::vector<float> x = MakePpsSignal(signal);
            // The edge at reference second 1 falls at sample 24000 + fraction.
            const double offset = EdgeCentroid(x, 24000) - (24000 + fraction);
            if (fraction == 0)
                reference = offset;
            // float samples round at 3e-8 of full scale: 1e-5 sample here.
            EXPECT_NEAR(offset, reference, 1e-4) << "rise " << riseSeconds << " s, fraction " << fraction;
        }
    }
}

TEST(PpsSignal, LevelCouplingNoiseAndClipping)
{
    PpsSignal signal;
    signal.clock = {RATE, 0, 0.5};
    signal.seconds = 2;
    signal.widthSeconds = 0.2;
    signal.level = 0.4;
    std::vector<float> x = MakePpsSignal(signal);
    EXPECT_NEAR(x[24000 + 4800], 0.4, 1e-6);  // half way through the pulse
    EXPECT_NEAR(x[24000 + 12000], 0.0, 1e-6);  // after it

    signal.highPassHz = 10;  // a time constant of 15.9 ms
    signal.rising = false;
    x = MakePpsSignal(signal);
    const double tau = RATE / (2 * 3.14159265358979 * 10);
    EXPECT_NEAR(x[24000 + 3 * std::lrint(tau)], -0.4 * std::exp(-3.0), 1e-3);
    EXPECT_GT(x[24000 + 9600 + 100], 0.35);  // the trailing edge overshoots the other way

    signal.highPassHz = 0;
    signal.level = 0;
    signal.noiseRms = 0.01;
    x = MakePpsSignal(signal);
    double squares = 0;
    for (float v : x)
        squares += static_cast<double>(v) * v;
    EXPECT_NEAR(std::sqrt(squares / x.size()), 0.01, 2e-4);

    signal.noiseRms = 0;
    signal.level = 0.5;
    signal.gain = 4;
    x = MakePpsSignal(signal);
    const auto [low, high] = std::minmax_element(x.begin(), x.end());
    EXPECT_EQ(std::max(-*low, *high), 1.0f);
}

}  // namespace
