// The offset as it moves, on recordings whose clock ramps or wanders
// (tests/meter/stretched_signal), and on steady ones, which must not be
// called unsteady more often than the test is set for (FALSE_ALARM).
//
// The native optimised build runs each case at 8000/1500 and 48000/9000
// (the steady one at 8000/800 and 8000/3000 too);
// under the sanitizers and Wine (METER_SHORT_ACCURACY_TESTS) at 8000/1500,
// with fewer seeds.
#include "tests/meter/meter_test_support.h"

#include "common/signal_facts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace {

struct Setting {
    int32_t rate;
    double carrier;
    double ppm;  // where the clock starts
};

#ifdef METER_SHORT_ACCURACY_TESTS
const Setting SETTINGS[] = {{8000, 1500, 100}};
const Setting STEADY_SETTINGS[] = {{8000, 1500, 100}};
constexpr int SEEDS = 5;
#else
const Setting SETTINGS[] = {{8000, 1500, 100}, {48000, 9000, -40}};
// The steady clock also at the ends of the carriers' range.
const Setting STEADY_SETTINGS[] = {{8000, 1500, 100}, {48000, 9000, -40}, {8000, 800, 100}, {8000, 3000, 100}};
constexpr int SEEDS = 20;
#endif

MeterRun MeasureRecipe(const RecordingRecipe& recipe, double intervalSeconds)
{
    return RunMeter(MakeRecording(recipe), recipe.rate, recipe.rate, recipe.carrier, SIZE_MAX, intervalSeconds);
}

// 0.6 ppm/min over 10 min: not steady, the drift within 5 %, each minute's
// window within 0.01 ppm of the true mean offset over it.
TEST(MovingClock, RampIsReportedAsADrift)
{
    for (const Setting& setting : SETTINGS) {
        RecordingRecipe recipe;
        recipe.rate = setting.rate;
        recipe.carrier = setting.carrier;
        recipe.ppm = setting.ppm;
        recipe.rampPpmPerMinute = 0.6;
        recipe.seconds = 600;
        const MeterRun run = MeasureRecipe(recipe, 60);
        const Steadiness& judged = run.steadiness;
        ASSERT_TRUE(judged.valid) << setting.rate;
        EXPECT_FALSE(judged.steady) << setting.rate;
        EXPECT_TRUE(judged.drifts) << setting.rate;
        EXPECT_NEAR(judged.driftPpmPerMinute, 0.6, 0.03) << setting.rate;
        EXPECT_LE(std::fabs(judged.driftPpmPerMinute - 0.6), 3 * judged.driftUncertaintyPpmPerMinute) << setting.rate;
        ASSERT_EQ(run.windows.size(), 10u) << setting.rate;
        double worst = 0;
        for (const WindowEstimate& window : run.windows) {
            ASSERT_TRUE(window.valid);
            const double error = window.ppm - MeanOffset(recipe, window.startSeconds, window.endSeconds);
            EXPECT_LE(std::fabs(error), 0.01) << setting.rate << " window at " << window.startSeconds << " s";
            EXPECT_LE(std::fabs(error), 3 * window.uncertaintyPpm) << setting.rate << " window at " << window.startSeconds << " s";
            worst = std::max(worst, std::fabs(error));
        }
        std::printf("%5d/%-5.0f ramp 0.6 ppm/min: drift %+.5f +- %.5f ppm/min, start %+.3f end %+.3f ppm, worst window %.5f ppm\n",
                    setting.rate, setting.carrier, judged.driftPpmPerMinute, judged.driftUncertaintyPpmPerMinute, judged.startPpm,
                    judged.endPpm, worst);
    }
}

// +-1 ppm with a 20 s period: not steady, its amplitude told, and the
// Allan deviation at 10 s within 10 % of A sin^2(pi tau/T) / (pi tau/T).
TEST(MovingClock, SinusoidalWanderShowsInTheAllanDeviation)
{
    for (const Setting& setting : SETTINGS) {
        RecordingRecipe recipe;
        recipe.rate = setting.rate;
        recipe.carrier = setting.carrier;
        recipe.ppm = setting.ppm;
        recipe.wanderPpm = 1;
        recipe.wanderPeriodSeconds = 20;
        recipe.seconds = 120;
        const MeterRun run = MeasureRecipe(recipe, 60);
        const Steadiness& judged = run.steadiness;
        EXPECT_FALSE(judged.steady) << setting.rate;
        EXPECT_TRUE(judged.wanders) << setting.rate;
        EXPECT_NEAR(judged.wanderPpm, 1, 0.15) << setting.rate;
        const StabilityPoint* tenSeconds = nullptr;
        for (const StabilityPoint& point : run.stability)
            if (std::fabs(point.tauSeconds - 10) < 0.1)
                tenSeconds = &point;
        ASSERT_NE(tenSeconds, nullptr) << setting.rate;
        const double x = PI * tenSeconds->tauSeconds / recipe.wanderPeriodSeconds;
        const double textbook = 1e-6 * recipe.wanderPpm * std::sin(x) * std::sin(x) / x;
        EXPECT_NEAR(tenSeconds->adev.deviation / textbook, 1, 0.1) << setting.rate;
        std::printf("%5d/%-5.0f wander +-1 ppm, 20 s: wanders by +-%.3f ppm; ADEV(%.3f s) %.4e, textbook %.4e (%lld terms)\n",
                    setting.rate, setting.carrier, judged.wanderPpm, tenSeconds->tauSeconds, tenSeconds->adev.deviation, textbook,
                    static_cast<long long>(tenSeconds->adev.terms));
    }
}

// A constant offset, clean and at 20 dB, at offsets across the meter's
// range: called steady in at least 19 of 20 seeds (the test is set for
// FALSE_ALARM = 1 %), its drift within three uncertainties of zero.
TEST(MovingClock, SteadyClockIsCalledSteady)
{
    const double offsets[] = {0.5, -2, 10, -100, 1000, -5000, 0, 2.5, -0.5, 300};
    for (const Setting& setting : STEADY_SETTINGS) {
        for (const double snr : {1e9, 20.0}) {
            int unsteady = 0, driftOutside = 0;
            for (int seed = 0; seed < SEEDS; ++seed) {
                RecordingRecipe recipe;
                recipe.rate = setting.rate;
                recipe.carrier = setting.carrier;
                recipe.ppm = offsets[seed % 10];
                recipe.snrDb = snr;
                recipe.seed = static_cast<uint64_t>(9100 + seed);
                recipe.startOffset = 300 + 0.137 * seed;
                recipe.seconds = 60;
                const Steadiness judged = MeasureRecipe(recipe, 0).steadiness;
                ASSERT_TRUE(judged.valid);
                unsteady += judged.steady ? 0 : 1;
                driftOutside += std::fabs(judged.driftPpmPerMinute) > 3 * judged.driftUncertaintyPpmPerMinute ? 1 : 0;
                if (!judged.steady)
                    std::printf("  called unsteady: %+.1f ppm seed %d: drift %+.5f +- %.5f, wander chi-square %.1f of %.1f\n",
                                recipe.ppm, seed, judged.driftPpmPerMinute, judged.driftUncertaintyPpmPerMinute,
                                judged.wanderChiSquare, judged.wanderLimit);
            }
            std::printf("%5d/%-5.0f %s: %d of %d seeds called unsteady, %d drifts beyond 3 uncertainties\n", setting.rate,
                        setting.carrier, snr > 1e8 ? "clean" : "20 dB", unsteady, SEEDS, driftOutside);
            EXPECT_LE(unsteady, SEEDS / 20) << setting.rate << (snr > 1e8 ? " clean" : " 20 dB");
            EXPECT_LE(driftOutside, SEEDS / 20) << setting.rate << (snr > 1e8 ? " clean" : " 20 dB");
        }
    }
}

}  // namespace
