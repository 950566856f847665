// ResampleBuffer and PushSample: how many samples each buffer yields, which
// input samples they come from, and where blocks begin.
#include "tests/receiver/dsp/receiver_test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// A correlator that only counts its blocks, fed with ramps of samples.
struct Resampler : ReadoutSink {
    Resampler()
    {
        correlator->InitCorrelator(8000, 1500);
        correlator->ConnectReadouts(this);
    }
    void SetPeakText(const char*) override { ++blocks; }
    void SetClockText(const char*) override {}

    // Feeds one buffer whose recorded samples are start, start + 1, ...
    // and whose unrecorded rest holds `filler`. Returns the output steps.
    int Feed(int16_t start, uint32_t bytesRecorded, int16_t filler = 0)
    {
        int16_t samples[BLOCK_LENGTH];
        for (int i = 0; i < BLOCK_LENGTH; ++i)
            samples[i] = 2 * i < static_cast<int>(bytesRecorded) ? static_cast<int16_t>(start + i) : filler;
        const long before = Outputs();
        correlator->ResampleBuffer({reinterpret_cast<const unsigned char*>(samples),
                                    CAPTURE_BUFFER_BYTES, bytesRecorded});
        return static_cast<int>(Outputs() - before);
    }
    // Samples pushed since start: each block completes at index 1023.
    long Outputs() const
    {
        return BLOCK_LENGTH * blocks + (correlator->blockWriteIndex + 1) % BLOCK_LENGTH - 1;
    }
    // The output pushed n steps before the last one.
    float Output(int n) const
    {
        return correlator->inputBlock[(correlator->blockWriteIndex - n + BLOCK_LENGTH) % BLOCK_LENGTH];
    }

    std::unique_ptr<Correlator> correlator = std::make_unique<Correlator>();
    long blocks = 0;
};

float Scaled(int sample)
{
    return StoreFloat(sample / 32767.0L);
}

}  // namespace

TEST(Resampler, ShortAndEmptyBuffersYieldOneStepPerRecordedSample)
{
    const struct {
        uint32_t bytesRecorded;
        int steps;
    } cases[] = {{0, 0}, {2, 1}, {200, 100}, {1000, 500}, {2046, 1023}};
    for (const auto& c : cases) {
        Resampler r;
        EXPECT_EQ(r.Feed(100, c.bytesRecorded), c.steps) << c.bytesRecorded;
    }
    Resampler r;
    r.Feed(100, 0);
    EXPECT_EQ(r.correlator->blockWriteIndex, 0);
    EXPECT_EQ(r.correlator->resamplePhase, 0.0f);
}

TEST(Resampler, WithoutCorrectionEachOutputIsThePrecedingInput)
{
    Resampler r;
    r.Feed(-500, CAPTURE_BUFFER_BYTES);
    // One full buffer: outputs 0..1022 at inputBlock[1..1023] (a block is
    // complete after them), output 1023 at inputBlock[0].
    EXPECT_EQ(r.correlator->blockWriteIndex, 0);
    const auto& block = r.correlator->inputBlock;
    EXPECT_EQ(block[1], 0.0f);  // before the first buffer: silence
    for (int j = 1; j < BLOCK_LENGTH; ++j)
        ASSERT_EQ(block[(j + 1) % BLOCK_LENGTH], Scaled(-500 + j - 1)) << j;

    // The next buffer starts with the previous buffer's last sample.
    r.Feed(7, 4);
    EXPECT_EQ(r.Output(1), Scaled(-500 + 1023));
    EXPECT_EQ(r.Output(0), Scaled(7));
}

TEST(Resampler, APositiveCorrectionSkipsAndANegativeOneRepeats)
{
    // Over many buffers the resampler consumes 1 + c input samples per
    // output: each phase wrap costs (or gives) one output in that buffer.
    const struct {
        int position;
        double correction;
    } cases[] = {{0, 0.002}, {2000, -0.002}, {900, 0.0002}, {1000, 0}};
    for (const auto& c : cases) {
        Resampler r;
        r.correlator->SetClockPosition(static_cast<uint16_t>(c.position));
        long total = 0;
        const int buffers = 100;
        for (int b = 0; b < buffers; ++b) {
            const int steps = r.Feed(0, CAPTURE_BUFFER_BYTES);
            EXPECT_LE(std::abs(steps - BLOCK_LENGTH), 3) << c.position;
            total += steps;
        }
        const double expected = buffers * BLOCK_LENGTH / (1 + c.correction);
        EXPECT_NEAR(total, expected, 1.5) << c.position;
    }
}

TEST(Resampler, ASkipAtTheLastPositionReadsTheZeroAfterTheBuffer)
{
    // Phase and correction chosen so that the phase first exceeds 1 at the
    // last position of the buffer (all values exact in a float).
    Resampler r;
    const long double c = 1.0L / 1048576;  // 2^-20
    r.correlator->clockCorrection = c;
    r.correlator->resamplePhase = StoreFloat(1 - 1022 * c);
    EXPECT_EQ(r.Feed(1000, CAPTURE_BUFFER_BYTES, 2000), BLOCK_LENGTH);
    EXPECT_EQ(r.correlator->stagingSamples[1024], 0);
    // position 1023 + c: between sample 1023 (2023) and element 1024 (0)
    EXPECT_EQ(r.Output(0), StoreFloat(0 * c / 32767 + 2023 * (1 - c) / 32767));
    EXPECT_EQ(r.correlator->resamplePhase, StoreFloat(2 * c));

    // A longer buffer than the system's never reaches element 1024.
    std::vector<unsigned char> big(4096, 0x55);
    r.correlator->ResampleBuffer({big.data(), 4096, 4096});
    EXPECT_EQ(r.correlator->stagingSamples[1024], 0);
}

TEST(Resampler, AStepBackAtTheStartReadsThePreviousBuffersLastTwoSamples)
{
    Resampler r;
    r.Feed(300, CAPTURE_BUFFER_BYTES);  // ends with 1322, 1323
    r.correlator->resamplePhase = -0.25f;
    // The step back gives one output more than the buffer's one sample.
    EXPECT_EQ(r.Feed(5000, 2), 2);
    // position -2 + 0.75: between 1322 and 1323; then -1 + 0.75
    EXPECT_EQ(r.Output(1), StoreFloat(1323 * 0.75L / 32767 + 1322 * 0.25L / 32767));
    EXPECT_EQ(r.Output(0), StoreFloat(5000 * 0.75L / 32767 + 1323 * 0.25L / 32767));

    // After a buffer of one sample, the last two samples span two buffers.
    r.correlator->resamplePhase = -0.5f;
    EXPECT_EQ(r.Feed(-8, 2), 2);
    EXPECT_EQ(r.Output(1), StoreFloat(5000 * 0.5L / 32767 + 1323 * 0.5L / 32767));
}

TEST(Resampler, BlocksStartAtIndexOneAfterStart)
{
    Resampler r;
    r.Feed(1, 1022 * 2);
    EXPECT_EQ(r.blocks, 0);
    r.Feed(1, 2);  // the 1023rd sample completes the first block
    EXPECT_EQ(r.blocks, 1);
    EXPECT_EQ(r.correlator->inputBlock[0], 0.0f);
    r.Feed(1, 1023 * 2);
    EXPECT_EQ(r.blocks, 1);
    r.Feed(1, 2);  // every later block takes 1024
    EXPECT_EQ(r.blocks, 2);
}
