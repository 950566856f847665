// The correlator's blocks: silence, the start-up blocks, ties, and the
// fast correlation sum against the full one.
#include "tests/receiver/dsp/receiver_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace {

std::vector<int16_t> Noise(size_t count, uint32_t seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> sample(-12000, 12000);
    std::vector<int16_t> samples(count);
    for (auto& s : samples)
        s = static_cast<int16_t>(sample(generator));
    return samples;
}

}  // namespace

TEST(Correlator, SilencePeaksAtLagZero)
{
    auto receiver = std::make_unique<ReceiverUnderTest>();
    receiver->Capture(std::vector<int16_t>(5 * BLOCK_LENGTH, 0));
    ASSERT_EQ(receiver->readout.peakTexts.size(), 5u);
    for (const auto& text : receiver->readout.peakTexts)
        EXPECT_EQ(text, "Correlation peak at  0 samples");
    for (int i = 0; i < LAG_COUNT; ++i)
        ASSERT_EQ(receiver->correlator.CorrelationPower(i, receiver->correlator.decimatedWindow), 0.0f);
    for (int x = 0; x < WATERFALL_WIDTH; ++x)
        ASSERT_EQ(receiver->waterfall.Pixel(x, 5), GreyOfLevel(255)) << x;
}

TEST(Correlator, StartUpBlocksReachRealSamplesGradually)
{
    // After a block, decimatedWindow still holds what that block correlated.
    auto receiver = std::make_unique<ReceiverUnderTest>();
    Correlator& c = receiver->correlator;
    const std::vector<int16_t> noise = Noise(3 * BLOCK_LENGTH, 7);
    auto nonZeroLags = [&c] {
        std::vector<int> lags;
        for (int i = 0; i < LAG_COUNT; ++i)
            if (c.CorrelationPower(i, c.decimatedWindow) != 0.0f)
                lags.push_back(i);
        return lags;
    };

    receiver->CaptureBuffer(noise.data(), 1023);  // block 1: zeros only
    EXPECT_EQ(receiver->readout.peakTexts.size(), 1u);
    EXPECT_TRUE(nonZeroLags().empty());
    EXPECT_EQ(c.peakIndex, 0);

    // Block 2: the lags whose taps (up to lag + 24) reach the first block's
    // decimated samples (window 512 on). The first captured sample reaches
    // inputBlock[2] only: inputBlock[0] is the block's leading 0 and
    // inputBlock[1] the resampler's one-sample delay (silence before the
    // first buffer). Window 512 filters mixed samples up to inputBlock[-1],
    // window 513 up to inputBlock[1], window 514 reaches inputBlock[2]: so
    // lags 488 and 489 stay zero and 490..511 see the noise.
    receiver->CaptureBuffer(noise.data() + 1023, 1024);
    ASSERT_EQ(receiver->readout.peakTexts.size(), 2u);
    std::vector<int> expected;
    for (int i = 490; i < LAG_COUNT; ++i)
        expected.push_back(i);
    EXPECT_EQ(nonZeroLags(), expected);
    EXPECT_GE(c.peakIndex, 490);

    receiver->CaptureBuffer(noise.data() + 2047, 1024);  // block 3: every lag
    EXPECT_EQ(nonZeroLags().size(), static_cast<size_t>(LAG_COUNT));
}

TEST(Correlator, EqualPowersKeepTheLowestLag)
{
    // A window that repeats every 64 samples gives equal powers at lags 64
    // apart; the peak is the first of them.
    auto c = std::make_unique<Correlator>();
    c->InitCorrelator(8000, 1500);
    for (int n = 0; n < 3 * HALF_BLOCK_LENGTH; ++n)
        c->decimatedWindow[n] = {n % 64 == 40 ? 0.5f : 0.0f, n % 64 == 41 ? -0.25f : 0.0f};
    const int32_t peak = c->CorrelateLags(c->decimatedWindow, c->lagMagnitudes);
    EXPECT_LT(peak, 64);
    const float best = c->CorrelationPower(peak, c->decimatedWindow);
    for (int i = peak + 64; i < LAG_COUNT; i += 64)
        EXPECT_EQ(c->CorrelationPower(i, c->decimatedWindow), best) << i;
}

TEST(Correlator, SkippingZeroTapsKeepsThePowerBitForBit)
{
    // The straightforward sum over all 130 taps, each partial sum a float,
    // products at extended precision, against the correlator's.
    auto c = std::make_unique<Correlator>();
    c->InitCorrelator(8000, 1500);
    std::mt19937 generator(11);
    std::uniform_real_distribution<float> value(-0.2f, 0.2f);
    for (int round = 0; round < 4; ++round) {
        for (auto& s : c->decimatedWindow)
            s = {value(generator), round == 3 ? -0.0f : value(generator)};
        for (int lag = 0; lag < LAG_COUNT; ++lag) {
            float re = 0, im = 0;
            for (int k = 0; k < 130; ++k) {
                const long double tap = c->referenceTaps[k];
                re = StoreFloat(re + tap * c->decimatedWindow[lag + 2 * k].re);
                im = StoreFloat(im + tap * c->decimatedWindow[lag + 2 * k].im);
            }
            const float power =
                StoreFloat(static_cast<long double>(re) * re + static_cast<long double>(im) * im);
            ASSERT_EQ(c->CorrelationPower(lag, c->decimatedWindow), power) << lag;
        }
    }
}
