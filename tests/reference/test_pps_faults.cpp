// The second pulse's faults, each recognised, counted and never fitted, and
// inputs that are no second pulse at all, each said in words.
#include "tests/reference/pps_test_run.h"
#include "transmitter/dsp/stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

namespace {

constexpr int RATE = 48000;
constexpr double PPM = 12.3456;
// Long enough for the faults (the last at 30.55 s) and a minute's accuracy
// in half of one.
constexpr int SECONDS = 32;

struct Fault {
    const char* name;
    PpsSignal signal;
    // Sample positions where the stream reports a discontinuity.
    std::vector<size_t> reported;
    int64_t missed, extra, clipped, jumps, steps, segments, used;
};

PpsSignal Typical()
{
    return TypicalPps(RATE, 0.1, true, PPM, 5, SECONDS);
}

PpsSignal With(void (*change)(PpsSignal&))
{
    PpsSignal signal = Typical();
    change(signal);
    return signal;
}

// The first sample the stream delivers after reference time `seconds`.
size_t SampleAfter(const PpsSignal& signal, double seconds)
{
    return static_cast<size_t>(std::ceil(signal.clock.SampleAt(seconds)));
}

TEST(PpsFaults, AreCountedAndNeverFitted)
{
    const PpsSignal lost = With([](PpsSignal& s) { s.steps = {{20.5, 512}}; });
    const Fault faults[] = {
        {"two pulses missing", With([](PpsSignal& s) { s.missingPulses = {10, 25}; }), {}, 2, 0, 0, 0, 0, 1, SECONDS - 2},
        {"two extra pulses", With([](PpsSignal& s) { s.extraPulses = {12.3, 30.55}; }), {}, 0, 2, 0, 0, 0, 1, SECONDS},
        {"one while the edge is learnt", With([](PpsSignal& s) { s.extraPulses = {7.6}; }), {}, 0, 1, 0, 0, 0, 1, SECONDS},
        {"a short extra pulse", With([](PpsSignal& s) { s.extraPulses = {17.7}; }), {}, 0, 1, 0, 0, 0, 1, SECONDS},
        {"a block of 512 samples lost, unreported", lost, {}, 0, 0, 0, 1, 1, 1, SECONDS},
        {"the same, reported", lost, {SampleAfter(lost, 20.5)}, 0, 0, 0, 1, 1, 1, SECONDS},
        {"480 samples repeated", With([](PpsSignal& s) { s.steps = {{28.25, -480}}; }), {}, 0, 0, 0, 1, 1, 1, SECONDS},
        {"a step of half a sample", With([](PpsSignal& s) { s.steps = {{20.5, 0.5}}; }), {}, 0, 0, 0, 1, 1, 2, SECONDS},
        {"two seconds lost", With([](PpsSignal& s) { s.steps = {{20.5, 2 * RATE}}; }), {}, 0, 0, 0, 1, 1, 2, SECONDS},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        const PpsRun run = RunPps(MakePpsSignal(fault.signal), RATE, PulsePolarity::Either, fault.reported);
        ASSERT_TRUE(run.estimate.valid) << run.heard.problem;
        EXPECT_EQ(run.Flagged(EVENT_MISSED), fault.missed);
        EXPECT_EQ(run.Flagged(EVENT_EXTRA), fault.extra);
        EXPECT_EQ(run.Flagged(EVENT_CLIPPED), fault.clipped);
        EXPECT_EQ(run.Flagged(EVENT_JUMP), fault.jumps);
        EXPECT_EQ(run.Flagged(EVENT_OUTLIER), 0);
        EXPECT_EQ(run.estimate.eventsMissed, fault.missed);
        EXPECT_EQ(run.estimate.eventsRejected, fault.extra + fault.clipped);
        EXPECT_EQ(run.estimate.steps, fault.steps);
        EXPECT_EQ(run.estimate.segments, fault.segments);
        EXPECT_EQ(run.estimate.eventsUsed, fault.used);
        EXPECT_LT(std::fabs(run.estimate.ppm - PPM), 0.005);
        // The contract: in order of position.
        for (size_t i = 1; i < run.events.size(); ++i)
            EXPECT_LE(run.events[i - 1].position, run.events[i].position);
    }
}

// A pulse driven to full scale (by interference, a gain that jumps) is
// counted and left out; a line input set too loud says so.
TEST(PpsFaults, ClippedPulsesAreLeftOutAndATooLoudInputIsSaid)
{
    PpsSignal signal = Typical();
    signal.loudPulses = {15, 16, 30};
    const PpsRun run = RunPps(signal);
    ASSERT_TRUE(run.estimate.valid);
    EXPECT_EQ(run.Flagged(EVENT_CLIPPED), 3);
    EXPECT_EQ(run.estimate.eventsUsed, SECONDS - 3);
    EXPECT_EQ(run.estimate.eventsRejected, 3);
    EXPECT_LT(std::fabs(run.estimate.ppm - PPM), 0.005);
    EXPECT_GT(run.heard.clippedSamples, 0u);

    signal.loudPulses.clear();
    signal.gain = 4;
    // Said while it runs, not only at the end.
    const std::vector<float> tooLoud = MakePpsSignal(signal);
    PpsMeter live(RATE);
    live.Push(tooLoud.data(), tooLoud.size() / 2);
    EXPECT_NE(live.Heard().problem.find("clip"), std::string::npos) << live.Heard().problem;
    const PpsRun loud = RunPps(tooLoud, RATE);
    EXPECT_FALSE(loud.estimate.valid);
    EXPECT_NE(loud.heard.problem.find("clip"), std::string::npos) << loud.heard.problem;
    EXPECT_EQ(loud.Flagged(EVENT_USED), 0);
}

std::vector<float> SquareWave(double hz, double level, double seconds)
{
    std::vector<float> samples(static_cast<size_t>(seconds * RATE));
    for (size_t n = 0; n < samples.size(); ++n)
        samples[n] = static_cast<float>(std::fmod(n * hz / RATE, 1.0) < 0.5 ? level : -level);
    return samples;
}

std::vector<float> Burst()
{
    // The transmitter's own stream: a Barker burst every FRAME_LENGTH symbols.
    const std::vector<int16_t> stream = SynthesizeStream(8000, 1500, 8000 * 10 / SAMPLES_PER_SYMBOL);
    std::vector<float> samples;
    for (int16_t s : stream)
        samples.push_back(static_cast<float>(s) / 32768.0f);
    return samples;
}

TEST(PpsFaults, InputsThatAreNoSecondPulseSaySo)
{
    PpsSignal noise = Typical();
    noise.level = 0;
    noise.noiseRms = FromDbfs(-30);
    PpsSignal twice = Typical();
    for (int k = 0; k < SECONDS; ++k)
        twice.extraPulses.push_back(k + 0.5);
    const struct {
        const char* name;
        std::vector<float> samples;
        int rate;
        const char* says;
        double rmsDbfs;           // what was heard, within a dB
        double pulsesPerSecond;   // within 10 % (-1: not asked)
        double strongestHz;       // within 2 Hz (0: not asked)
    } inputs[] = {
        {"silence", std::vector<float>(10 * RATE, 0.0f), RATE, "silence", -1e9, -1, 0},
        {"noise", MakePpsSignal(noise), RATE, "no pulse", -30, -1, 0},
        {"two pulses a second", MakePpsSignal(twice), RATE, "2 pulses a second", -1, 2, 0},
        {"a 50 Hz square wave", SquareWave(50.02, 0.3, 10), RATE, "mains", -10.5, 50, 50},
        {"the transmitter's bursts", Burst(), 8000, "pulses a second, not one", -1, 8000.0 / 1024, 1500},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        const PpsRun run = RunPps(input.samples, input.rate);
        EXPECT_FALSE(run.estimate.valid);
        EXPECT_FALSE(run.heard.present);
        EXPECT_NE(run.heard.problem.find(input.says), std::string::npos) << run.heard.problem;
        // Nothing locked to: no pulse, and nothing extra to one.
        EXPECT_TRUE(run.events.empty());
        if (input.rmsDbfs != -1) {
            EXPECT_NEAR(run.heard.rmsDbfs, input.rmsDbfs, 1.0);
        }
        if (input.pulsesPerSecond > 0) {
            EXPECT_NEAR(run.heard.eventsPerSecond, input.pulsesPerSecond, 0.1 * input.pulsesPerSecond);
        }
        if (input.strongestHz > 0) {
            EXPECT_NEAR(run.heard.strongestHz, input.strongestHz, 2.0);
        }
    }
}

}  // namespace

namespace {

// A pulse half a second wide has two edges a half second apart either way:
// the polarity asked for says which leads; without it the rising one does
// (the rate is the same from either).
TEST(PpsPolarity, DecidesWhichEdgeOfAHalfSecondPulseLeads)
{
    PpsSignal signal = TypicalPps(RATE, 0.5, false, PPM, 2, 12);
    const std::vector<float> samples = MakePpsSignal(signal);
    for (const auto& [asked, leadsAt] : {std::pair{PulsePolarity::Falling, 0.0}, std::pair{PulsePolarity::Either, 0.5},
                                         std::pair{PulsePolarity::Rising, 0.5}}) {
        const PpsRun run = RunPps(samples, RATE, asked);
        ASSERT_TRUE(run.estimate.valid);
        ASSERT_FALSE(run.events.empty());
        // Within the filter's delay (a millisecond) of the edge asked for.
        const ReferenceEvent& first = run.events.front();
        const double second = signal.clock.TimeOf(0) + first.position / signal.clock.ActualRate();
        EXPECT_NEAR(std::remainder(second - leadsAt, 1.0), 0, 1e-3) << static_cast<int>(asked);
    }
}

}  // namespace

namespace {

// Recordings cut anywhere, pushed whole or a sample at a time, with a
// discontinuity reported before the lock: each settles, and gives a rate
// once it holds enough pulses.
TEST(PpsStream, AnyLengthAndAnyBlocksSettle)
{
    const PpsSignal signal = TypicalPps(8000, 0.1, true, PPM, 9, 20);
    const std::vector<float> whole = MakePpsSignal(signal);
    for (double seconds : {0.0, 0.1, 2.5, 3.4, 6.01, 17.37, 20.0}) {
        SCOPED_TRACE(seconds);
        const std::vector<float> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(seconds * 8000));
        PpsMeter meter(8000);
        std::vector<ReferenceEvent> events;
        meter.OnEvent([&](const ReferenceEvent& event) { events.push_back(event); });
        meter.Push(cut.data(), 0);
        meter.MarkDiscontinuity();
        meter.Push(cut.data(), cut.size());
        meter.Finish();
        const ReferenceEstimate estimate = meter.Estimate();
        // The first pulse comes 0.57 s in; five make a rate.
        EXPECT_EQ(estimate.valid, seconds > 5);
        if (estimate.valid) {
            EXPECT_LT(std::fabs(estimate.ppm - PPM), 5 * estimate.uncertaintyPpm);
        }
        for (size_t i = 1; i < events.size(); ++i)
            EXPECT_LE(events[i - 1].position, events[i].position);
    }
    // A sample at a time gives what blocks give.
    PpsMeter bySample(8000), byBlock(8000);
    for (const float& x : whole)
        bySample.Push(&x, 1);
    byBlock.Push(whole.data(), whole.size());
    bySample.Finish();
    byBlock.Finish();
    EXPECT_EQ(bySample.Estimate().ppm, byBlock.Estimate().ppm);
    EXPECT_EQ(bySample.Estimate().eventsUsed, 20);
}

}  // namespace
