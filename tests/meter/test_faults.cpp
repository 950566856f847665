// Faults in the audio path: jumps of the delay are found, reported where
// they happened and cost the figure nothing; recordings without the signal
// give no figure at all.
#include "tests/meter/meter_test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double PI = 3.14159265358979323846;

std::vector<int16_t> WithFaults(std::vector<int16_t> samples, int32_t rate)
{
    // 3 samples dropped at 20 s, then 500 zeros inserted at 40 s.
    const auto dropAt = static_cast<long>(20 * rate);
    samples.erase(samples.begin() + dropAt, samples.begin() + dropAt + 3);
    const auto insertAt = static_cast<long>(40 * rate);
    samples.insert(samples.begin() + insertAt, 500, 0);
    return samples;
}

TEST(MeterFaults, DroppedSamplesAndInsertedSilenceCostNothing)
{
    const struct {
        int32_t rate;
        double carrier;
        double ppm;
        double snrDb;
    } cases[] = {
        {8000, 1500, 1000, 1e9},
        {8000, 1500, -500, 20},
        {8000, 1800, 2, 20},
#ifndef METER_SHORT_ACCURACY_TESTS
        {9600, 1800, -5000, 1e9},
        {48000, 9000, 10, 20},
#endif
    };
    for (const auto& c : cases) {
        RecordingRecipe recipe;
        recipe.rate = c.rate;
        recipe.carrier = c.carrier;
        recipe.ppm = c.ppm;
        recipe.snrDb = c.snrDb;
        recipe.seconds = 60;
        const auto clean = MakeRecording(recipe);
        const MeterRun plain = RunMeter(clean, c.rate, c.rate, c.carrier);
        const MeterRun faulty = RunMeter(WithFaults(clean, c.rate), c.rate, c.rate, c.carrier);
        ASSERT_TRUE(plain.estimate.valid && faulty.estimate.valid);
        EXPECT_NEAR(faulty.estimate.ppm, plain.estimate.ppm, 0.01) << c.rate << "/" << c.carrier << " " << c.ppm;
        EXPECT_NEAR(faulty.estimate.ppm, c.ppm, c.snrDb > 100 ? 0.005 : 0.02);
        EXPECT_TRUE(faulty.estimate.agree);
        ASSERT_EQ(faulty.jumps.size(), 2u) << c.rate << "/" << c.carrier << " " << c.ppm;
        EXPECT_NEAR(faulty.jumps[0].time, 20, 0.3);
        // 3 samples of the recording, or as many of the signal: they differ by
        // 3 times the offset, below what the phase can tell apart at 20 dB
        EXPECT_NEAR(faulty.jumps[0].samples, -3, 0.02);
        EXPECT_NEAR(faulty.jumps[1].time, 40, 0.3);
        EXPECT_NEAR(faulty.jumps[1].samples, 500, 0.01 + 500 * std::fabs(c.ppm) * 1e-6);
        std::printf("%5d/%-6.0f %+8.1f ppm %s: plain %+.5f, with faults %+.5f ppm; jumps %+.0f at %.2f s, %+.0f at %.2f s\n", c.rate,
                    c.carrier, c.ppm, c.snrDb > 100 ? "clean" : "20 dB", plain.estimate.ppm, faulty.estimate.ppm,
                    faulty.jumps[0].samples, faulty.jumps[0].time, faulty.jumps[1].samples, faulty.jumps[1].time);
    }
}

// A jump that is not a whole number of samples of either card (a resampler
// somewhere lost part of a sample) starts a new segment of the line: the
// figure stays right, at the cost of some precision.
TEST(MeterFaults, FractionalJumpStartsANewSegment)
{
    RecordingRecipe first, second;
    first.ppm = second.ppm = 100;
    first.seconds = second.seconds = 20;
    second.startOffset = first.startOffset + 20 * 8000 / (1 + 100e-6) + 0.4;
    std::vector<int16_t> samples = MakeRecording(first);
    const auto more = MakeRecording(second);
    samples.insert(samples.end(), more.begin(), more.end());
    const MeterRun run = RunMeter(samples, 8000, 8000, 1500);
    ASSERT_TRUE(run.estimate.valid);
    EXPECT_NEAR(run.estimate.ppm, 100, 0.01);
    ASSERT_EQ(run.jumps.size(), 1u);
    EXPECT_NEAR(run.jumps[0].samples, -0.4, 0.05);
    EXPECT_NEAR(run.jumps[0].time, 20, 0.3);
}

std::vector<int16_t> Tone(double frequency, double amplitude, double seconds, int32_t rate)
{
    std::vector<int16_t> samples(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * PI * frequency * static_cast<double>(i) / rate)));
    return samples;
}

std::vector<int16_t> Noise(double sigma, double seconds, int32_t rate, uint64_t seed)
{
    NormalSource normal(seed);
    std::vector<int16_t> samples(static_cast<size_t>(seconds * rate));
    for (int16_t& sample : samples)
        sample = static_cast<int16_t>(std::lround(std::max(-32768.0, std::min(32767.0, sigma * normal.Next()))));
    return samples;
}

TEST(MeterFaults, NoSignalGivesNoFigure)
{
    RecordingRecipe wrongCarrier;
    wrongCarrier.carrier = 1000;  // played at 1000 Hz, looked for at 1500 Hz
    wrongCarrier.seconds = 20;
    const struct {
        const char* what;
        std::vector<int16_t> samples;
    } cases[] = {
        {"silence", std::vector<int16_t>(20 * 8000, 0)},
        {"noise", Noise(3000, 20, 8000, 5)},
        {"a 1000 Hz sine", Tone(1000, 10000, 20, 8000)},
        {"a 1500 Hz sine", Tone(1500, 10000, 20, 8000)},
        {"full-scale square wave", Tone(1500, 1e9, 20, 8000)},
        {"the burst on another carrier", MakeRecording(wrongCarrier)},
    };
    for (const auto& c : cases) {
        const MeterRun run = RunMeter(c.samples, 8000, 8000, 1500);
        EXPECT_FALSE(run.estimate.valid) << c.what << ": " << run.estimate.ppm << " ppm from " << run.estimate.blocksUsed << " blocks";
        EXPECT_LT(run.summary.bestCorrelation, 0.9) << c.what;
    }
}

// The signal first, then silence, then the signal again long after: the
// meter keeps the bursts' count and goes on with the same line.
TEST(MeterFaults, LongSilenceInTheMiddle)
{
    RecordingRecipe recipe;
    recipe.ppm = -300;
    recipe.seconds = 30;
    auto samples = MakeRecording(recipe);
    std::fill(samples.begin() + 10 * 8000, samples.begin() + 15 * 8000, 0);
    const MeterRun run = RunMeter(samples, 8000, 8000, 1500);
    ASSERT_TRUE(run.estimate.valid);
    EXPECT_NEAR(run.estimate.ppm, -300, 0.005);
    EXPECT_TRUE(run.jumps.empty());
    EXPECT_GE(run.summary.lostBlocks, 35);
}

}  // namespace
