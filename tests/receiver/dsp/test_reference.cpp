// Parameters and constant tables of the correlator, and the oscillator's
// cosine and sine.
#include "receiver/dsp/correlator.h"
#include "receiver/dsp/oscillator.h"
#include "receiver/dsp/receiver_arithmetic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

namespace {

constexpr long double PI = 3.14159265358979323846264338327950288L;

}  // namespace

TEST(CorrelatorParameters, PhaseIncrementFromSettings)
{
    const struct {
        int32_t sampleRate;
        float carrierFrequency;
        long double expected;  // rad per sample
    } cases[] = {
        {8000, 1500, 3.0L * PI / 8.0L},
        {9600, 1500, 5.0L * PI / 16.0L},
        {0, 0, 3.0L * PI / 8.0L},  // zeros mean the defaults
        {8000, -1500, -3.0L * PI / 8.0L},
    };
    for (const auto& c : cases) {
        auto correlator = std::make_unique<Correlator>();
        correlator->InitCorrelator(c.sampleRate, c.carrierFrequency);
        EXPECT_EQ(correlator->phaseIncrement, StoreFloat(c.expected)) << c.sampleRate;
    }
    auto defaults = std::make_unique<Correlator>();
    defaults->InitCorrelator(8000, 1500);
    EXPECT_FLOAT_EQ(defaults->phaseIncrement, 1.1780972f);
    EXPECT_EQ(defaults->blockLength, 1024);
    EXPECT_EQ(defaults->halfBlockLength, 512);
    EXPECT_EQ(defaults->referenceLength, 130);
    EXPECT_EQ(defaults->lowpassLength, 43);
    EXPECT_EQ(defaults->clockCorrection, 0.0L);
}

TEST(CorrelatorParameters, ReferenceTapsAreTheBarkerChipsAtOneHundredth)
{
    auto correlator = std::make_unique<Correlator>();
    correlator->InitCorrelator(8000, 1500);
    const auto& taps = correlator->referenceTaps;
    int positive = 0, negative = 0;
    float sum = 0;
    for (int k = 0; k < 13; ++k) {
        positive += taps[k] == 0.01f;
        negative += taps[k] == -0.01f;
        sum += taps[k];
    }
    EXPECT_EQ(positive, 9);
    EXPECT_EQ(negative, 4);
    EXPECT_NEAR(sum, 0.05f, 1e-7f);
    for (int k = 13; k <= 130; ++k)
        EXPECT_EQ(taps[k], 0.0f) << k;
    // the chips in the transmitter's order
    const float chips[13] = {1, 1, 1, 1, 1, -1, -1, 1, 1, -1, 1, -1, 1};
    for (int k = 0; k < 13; ++k)
        EXPECT_EQ(correlator->chipPattern[k], chips[k]) << k;
}

TEST(CorrelatorParameters, LowpassIsSymmetricWithItsPeakInTheCentre)
{
    auto correlator = std::make_unique<Correlator>();
    correlator->InitCorrelator(8000, 1500);
    const auto& taps = correlator->lowpassTaps;
    double sum = 0;
    for (int k = 0; k <= 42; ++k) {
        EXPECT_EQ(taps[k], taps[42 - k]) << k;
        if (k != 21) {
            EXPECT_LT(taps[k], taps[21]) << k;
        }
        sum += taps[k];
    }
    EXPECT_EQ(taps[43], 0.0f);
    EXPECT_NEAR(sum, 0.98440, 5e-6);
    EXPECT_EQ(taps[0], -0.00177868490585f);
    EXPECT_EQ(taps[21], 0.264278252776f);
}

TEST(Oscillator, PhaseStaysWithinOneTurnForAnyCarrier)
{
    // For steps below 2*pi: exactly the float sum, minus 2*pi once when it
    // has reached 2*pi. For any other step: within [0, 2*pi) and the same
    // angle as the exact sum, up to float rounding.
    std::mt19937 generator(3);
    std::uniform_real_distribution<float> turn(0.0f, 6.2831850f);
    std::uniform_real_distribution<float> anyStep(-200.0f, 200.0f);
    for (int i = 0; i < 100000; ++i) {
        const float phase = turn(generator);
        const float step = turn(generator);
        float single = StoreFloat(static_cast<long double>(phase) + step);
        if (single >= 2 * PI)
            single = StoreFloat(single - 2 * PI);
        ASSERT_EQ(AdvanceOscillatorPhase(phase, step), single) << phase << " + " << step;

        const float wild = anyStep(generator);
        const float wrapped = AdvanceOscillatorPhase(phase, wild);
        ASSERT_GE(wrapped, 0.0f) << phase << " + " << wild;
        ASSERT_LT(wrapped, 2 * PI) << phase << " + " << wild;
        const long double exact = static_cast<long double>(phase) + wild;
        EXPECT_NEAR(static_cast<double>(std::cos(wrapped) - std::cos(exact)), 0.0, 2e-5);
        EXPECT_NEAR(static_cast<double>(std::sin(wrapped) - std::sin(exact)), 0.0, 2e-5);
    }
    // A negative carrier: the phase runs down through 0 and wraps to just
    // below 2*pi; one just below 0 lands on a float that rounds to 2*pi: 0.
    EXPECT_NEAR(AdvanceOscillatorPhase(0.5f, -1.0f), StoreFloat(2 * PI - 0.5L), 1e-6f);
    EXPECT_EQ(AdvanceOscillatorPhase(0.0f, -1e-9f), 0.0f);
}
