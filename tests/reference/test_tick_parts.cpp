// The tick meter's parts on their own: the decimator, the steps judged
// ahead, the splits over the run.
#include "meter/reference/fir_decimator.h"
#include "meter/reference/tick_segments.h"
#include "meter/reference/tick_steps.h"
#include "tests/reference/hf_channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A tone through the decimator: its amplitude kept in the pass band, an
// alias of a tone above it gone, and the output where Delay() says.
TEST(FirDecimator, PassesTheBandAndDropsItsAliases)
{
    struct Case {
        int rate;
        double hz;
        double gainAtLeast, gainAtMost;
    };
    const Case cases[] = {{48000, 1000, 0.99, 1.01}, {48000, 2900, 0.98, 1.02}, {48000, 5500, 0, 0.01},
                          {44100, 2900, 0.98, 1.02}, {44100, 6000, 0, 0.01}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, tone " + std::to_string(c.hz));
        const int factor = DecimationFor(c.rate, 8000);
        FirDecimator d(factor);
        std::vector<float> in(c.rate), out;
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<float>(UnitPhasor(c.hz * i / c.rate).real());
        d.Process(in.data(), in.size() / 3, out);  // in two calls: the held samples carry over
        d.Process(in.data() + in.size() / 3, in.size() - in.size() / 3, out);
        ASSERT_EQ(out.size(), in.size() / factor);
        double peak = 0;
        for (size_t j = out.size() / 2; j < out.size(); ++j)
            peak = std::fmax(peak, std::fabs(out[j]));
        EXPECT_GE(peak, c.gainAtLeast);
        EXPECT_LE(peak, c.gainAtMost);
        if (c.gainAtLeast > 0.5) {
            // Output j is the input at j * factor - Delay().
            const size_t j = out.size() / 2;
            const double expected = UnitPhasor(c.hz * (j * factor - d.Delay()) / c.rate).real();
            EXPECT_NEAR(out[j], expected, 0.02);
        }
    }
    EXPECT_EQ(DecimationFor(8000, 8000), 1);
    EXPECT_EQ(DecimationFor(88200, 8000), 10);
}

std::vector<TickSteps::Verdict> Judge(const std::vector<double>& offsets)
{
    TickSteps steps(8000);
    std::vector<TickSteps::Verdict> all;
    for (size_t k = 0; k < offsets.size(); ++k) {
        steps.Add(static_cast<int64_t>(k), 8000.1 * static_cast<double>(k) + offsets[k]);
        for (const TickSteps::Verdict& v : steps.TakeVerdicts())
            all.push_back(v);
    }
    steps.Flush();
    for (const TickSteps::Verdict& v : steps.TakeVerdicts())
        all.push_back(v);
    return all;
}

// Ticks with a scatter of 0.3 samples: a step of 2.4 samples is a new
// segment from its first tick; a second path timed for six seconds, a
// millisecond (8 samples) late, is outliers and no step.
TEST(TickSteps, TellsAStepFromASecondPathFadingUp)
{
    TestRandom random(3);
    std::vector<double> stepped(120), echo(120);
    for (size_t k = 0; k < 120; ++k) {
        const double noise = 0.3 * random.Gaussian();
        stepped[k] = noise + (k >= 70 ? 2.4 : 0);
        echo[k] = noise + (k >= 60 && k < 66 ? 8 : 0);
    }
    const std::vector<TickSteps::Verdict> s = Judge(stepped);
    ASSERT_EQ(s.size(), 120u);
    for (const TickSteps::Verdict& v : s) {
        EXPECT_EQ(v.jump, v.index == 70) << v.index;
        EXPECT_EQ(v.segment, v.index >= 70 ? 1u : 0u) << v.index;
    }
    for (const TickSteps::Verdict& v : Judge(echo)) {
        EXPECT_FALSE(v.jump) << v.index;
        EXPECT_EQ(v.used, v.index < 60 || v.index >= 66) << v.index;
    }
}

// Over a whole run: a step of 0.3 ms in ticks scattered by 0.15 ms is
// found where it is; a delay wandering by 50 us is no step.
TEST(SplitAtSteps, FindsAStepAndNotAWander)
{
    TestRandom random(5);
    std::vector<SegmentPoint> step, wander;
    for (int k = 0; k < 600; ++k) {
        const double noise = 1.2 * random.Gaussian();
        step.push_back({static_cast<double>(k), 8000.1 * k + noise + (k >= 250 ? 2.4 : 0), 1, 0});
        wander.push_back({static_cast<double>(k), 8000.1 * k + noise + 0.4 * std::sin(k / 150.0), 1, 0});
    }
    const Splits s = SplitAtSteps(step, 0.8);
    EXPECT_EQ(s.added, 1);
    EXPECT_EQ(step[249].segment, 0u);
    EXPECT_EQ(step[252].segment, 1u);
    EXPECT_EQ(SplitAtSteps(wander, 0.8).added, 0);
}

}  // namespace
