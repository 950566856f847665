// The fit of one burst against the truth: the transmitter's stream, delayed
// by a known fraction of a sample through the exact channel, must give that
// fraction and the transmitter's own carrier phase, whatever the fraction
// (a fit that follows the fraction is what made the rulers' sawtooth), at
// every carrier of the range.
#include "meter/burst_fit.h"
#include "tests/meter/stretched_signal.h"

#include "common/signal_facts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The stream's second frame, the first complete one, has its burst's first
// sample at 1024 (its position-0 call is at 1020, the envelope starts 4
// samples into it); the carrier starts at phase 0 at sample 0.
constexpr double BURST_START = 1024;

double PhaseError(double measured, double expected)
{
    return std::remainder(measured - expected, 2 * static_cast<double>(PI));
}

TEST(BurstFit, FindsTheFractionAndTheCarrierPhaseWhateverTheFraction)
{
    struct Row {
        double carrier;
        double fractionTolerance;  // samples: about twice what the 16-bit rounding leaves
    };
    const Row rows[] = {{800, 3e-4}, {1000, 3e-4}, {1500, 3e-4}, {2000, 3e-4}, {2500, 6e-4}, {3000, 1.2e-3}};
    const double fractions[] = {0, 0.125, 0.25, 0.375, 0.5, 0.625, 0.75, 0.875, 0.97};
    for (const Row& row : rows) {
        const BurstReference reference = MakeBurstReference(8000, row.carrier);
        const BurstFit fit(reference);
        const double carrierPhase = std::remainder(2 * static_cast<double>(PI) * row.carrier / 8000 * BURST_START,
                                                   2 * static_cast<double>(PI));
        for (double fraction : fractions) {
            RecordingRecipe recipe;
            recipe.carrier = row.carrier;
            recipe.seconds = 0.25;
            recipe.startOffset = 300 - fraction;  // the burst at 724 + fraction
            const std::vector<int16_t> recording = MakeRecording(recipe);
            const std::vector<float> samples(recording.begin(), recording.end());
            const BurstFit::Fine fine = fit.Refine(samples.data() + 724);
            ASSERT_TRUE(fine.valid) << row.carrier << " Hz, fraction " << fraction;
            EXPECT_NEAR(fine.fraction, fraction, row.fractionTolerance) << row.carrier << " Hz";
            // The fine ruler: the carrier's phase at the burst's start,
            // lag + f, less the carrier's turn over f (what the meter takes
            // the phase delay from; the phase at lag + f alone carries the
            // scatter of f, w times over).
            const double radiansPerSample = 2 * static_cast<double>(PI) * row.carrier / 8000;
            const double rulerError =
                PhaseError(fine.phase - radiansPerSample * fine.fraction, carrierPhase - radiansPerSample * fraction) / radiansPerSample;
            EXPECT_NEAR(rulerError, 0, 1e-4) << "samples, " << row.carrier << " Hz, fraction " << fraction;
            // At the whole lag the fit explains the burst, image and all.
            const BurstFit::Match match = fit.AtLag(samples.data() + 724 + (fraction > 0.5 ? 1 : 0));
            EXPECT_GT(match.normalised, 0.9) << row.carrier << " Hz, fraction " << fraction;
        }
    }
}

}  // namespace
