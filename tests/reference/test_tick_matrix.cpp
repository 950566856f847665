// The tick meter's accuracy over seeds and conditions: the figures of
// docs/accuracy.md#ticks-matrix. Disabled by default (minutes of signal per
// case); run with --gtest_also_run_disabled_tests
// --gtest_filter='TickMatrix.*'. TICK_MATRIX_SEEDS sets the seeds (20).
#include "tests/reference/tick_conditions.h"
#include "tests/reference/tick_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Row {
    std::string name;
    TimeStation station;
    TickCondition condition;
};

void RunMatrix(const std::vector<Row>& rows, double seconds)
{
    const char* env = std::getenv("TICK_MATRIX_SEEDS");
    const int seeds = env ? std::atoi(env) : 20;
    for (const Row& row : rows) {
        double sumSquaredRatio = 0, sumSquaredError = 0, maxAbs = 0, sumUnc = 0, sumScatter = 0;
        int valid = 0, steps = 0;
        for (int seed = 1; seed <= seeds; ++seed) {
            const Reception r = MakeReception(row.station, row.condition, static_cast<uint64_t>(seed), seconds);
            const TickRun run = RunTicks(r, row.station, seconds);
            if (!run.estimate.valid)
                continue;
            ++valid;
            const double ratio = run.errorPpm / run.estimate.uncertaintyPpm;
            sumSquaredRatio += ratio * ratio;
            sumSquaredError += run.errorPpm * run.errorPpm;
            maxAbs = std::fmax(maxAbs, std::fabs(run.errorPpm));
            sumUnc += run.estimate.uncertaintyPpm;
            sumScatter += run.estimate.scatterSamples / r.clock.nominalRate * 1e6;
            steps += static_cast<int>(run.estimate.steps);
        }
        // Every run a figure within 0.5 ppm; where the path wanders (the
        // uncertainty's allowance is then earned) the uncertainty honest.
        SCOPED_TRACE(row.name + " " + CallSignOf(row.station));
        EXPECT_EQ(valid, seeds);
        EXPECT_LT(maxAbs, 0.5);
        if (row.condition == TickCondition::Hard && valid > 0) {
            EXPECT_GE(std::sqrt(sumSquaredRatio / valid), 0.5);
            EXPECT_LE(std::sqrt(sumSquaredRatio / valid), 1.5);
        }
        std::printf("%-28s %-5s %3.0f s: valid %2d/%d  rms error %.4f ppm  max %.4f  mean unc %.4f  rms(err/unc) %.2f  "
                    "scatter %.0f us  steps/run %.2f\n",
                    row.name.c_str(), CallSignOf(row.station), seconds, valid, seeds,
                    valid ? std::sqrt(sumSquaredError / valid) : 0, maxAbs, valid ? sumUnc / valid : 0,
                    valid ? std::sqrt(sumSquaredRatio / valid) : 0, valid ? sumScatter / valid : 0,
                    valid ? static_cast<double>(steps) / valid : 0);
        std::fflush(stdout);
    }
}

TEST(TickMatrix, DISABLED_Stations)
{
    std::vector<Row> rows;
    for (TimeStation station : {TimeStation::Wwv, TimeStation::Wwvh, TimeStation::Chu})
        for (TickCondition c : {TickCondition::Clean, TickCondition::Noise, TickCondition::Fading, TickCondition::Hard})
            rows.push_back({ConditionName(c), station, c});
    RunMatrix(rows, 600);
}

// The figures to the last bit, to compare builds (native, 32-bit and
// 64-bit Windows): the same numbers from the same samples.
TEST(TickMatrix, DISABLED_Fingerprint)
{
    for (TimeStation station : {TimeStation::Wwv, TimeStation::Wwvh, TimeStation::Chu}) {
        const Reception r = MakeReception(station, TickCondition::Hard, 1, 120);
        const TickRun run = RunTicks(r, station, 120);
        std::printf("%s ppm %.17g unc %.17g used %lld scatter %.17g\n", CallSignOf(station), run.estimate.ppm,
                    run.estimate.uncertaintyPpm, static_cast<long long>(run.estimate.eventsUsed), run.estimate.scatterSamples);
    }
}

}  // namespace
