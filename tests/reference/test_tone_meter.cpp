// The tone meter against test signals with a known truth: its figure and
// uncertainty across the tones and rates a user can set, what it says when
// the tone moves or the stream loses samples, and what it says when there
// is no tone to measure.
#include "meter/reference/tone_meter.h"
#include "tests/reference/tone_measure.h"
#include "transmitter/dsp/stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace {

// Under the sanitizers and under Wine the runs are shorter and the seed
// statistics left to the optimised native build.
#ifdef TONE_SHORT_TESTS
constexpr double LONG_SECONDS = 20;
#else
constexpr double LONG_SECONDS = 60;
#endif

ToneSignalSettings Tone(int rate, double hz, double ppm, double snrDb, uint64_t seed = 1)
{
    ToneSignalSettings s;
    s.clock.nominalRate = rate;
    s.clock.ppm = ppm;
    s.clock.startSeconds = 0.37;
    s.toneHz = hz;
    s.levelDbfs = -6;
    s.snrDb = snrDb;
    s.startPhaseCycles = 0.1 * static_cast<double>(seed);
    s.seed = seed;
    return s;
}

// Hum at -50 dBFS with two harmonics, and another tone 30 Hz away (above
// a tone too low for one below) at -20 dBFS.
ToneSignalSettings WithNeighbours(ToneSignalSettings s)
{
    s.hum.levelDbfs = -50;
    s.hum.harmonics = 3;
    s.others.push_back({s.toneHz > 60 ? s.toneHz - 30 : s.toneHz + 30, -20});
    return s;
}

// The tone from `seconds` into the recording (the generator started after
// the card): before, the noise alone.
ToneSignalSettings StartingAt(double seconds, ToneSignalSettings s)
{
    s.toneFromSeconds = s.clock.startSeconds + seconds;
    return s;
}

ToneRun Seconds(double seconds)
{
    ToneRun run;
    run.seconds = seconds;
    return run;
}

std::string Describe(const ToneSignalSettings& s)
{
    return "tone:" + std::to_string(s.toneHz) + " at " + std::to_string(s.clock.nominalRate) + " Hz, " +
           std::to_string(s.clock.ppm) + " ppm";
}

std::string Describe(const ToneSignalSettings& s, const ReferenceEstimate& e)
{
    return Describe(s) + ": read " + std::to_string(e.ppm) + " +- " + std::to_string(e.uncertaintyPpm) + " (" +
           e.unsteady + ")";
}

// A minute at 30 dB over the whole band reads within 0.002 ppm (the
// Cramer-Rao bound is 0.0004); the bound grows as the tone's frequency
// falls (at 20 Hz, 50 times), so the low tone is held to its uncertainty.
TEST(ToneMeter, ReadsTheCardsRateAcrossTheTonesAndRates)
{
    struct Case {
        ToneSignalSettings signal;
        double tolerancePpm;  // after LONG_SECONDS; 0: 5 uncertainties only
    };
    const Case cases[] = {
        {Tone(8000, 1000, 12.3456, 30), 0.002},
        {Tone(48000, 440, -203.7, 30), 0.002},
        {Tone(8000, 1000, -203.7, 20), 0.005},
        {WithNeighbours(Tone(8000, 20, 150.25, 30)), 0},
        {WithNeighbours(Tone(8000, 3600, -77.7, 30)), 0.002},
        {WithNeighbours(Tone(48000, 21600, 300.5, 30)), 0.002},
        // No noise at all: only the samples' rounding is left.
        {Tone(48000, 1000, 77.7, std::numeric_limits<double>::infinity()), 1e-6},
    };
    for (const Case& c : cases) {
        const ToneOutcome o = MeasureTone(c.signal, Seconds(LONG_SECONDS));
        const ReferenceEstimate& e = o.estimate;
        SCOPED_TRACE(Describe(c.signal, e));
        ASSERT_TRUE(e.valid) << o.heard.problem;
        EXPECT_LT(std::fabs(e.ppm - c.signal.clock.ppm), 5 * e.uncertaintyPpm);
        if (c.tolerancePpm > 0 && LONG_SECONDS >= 60) {
            EXPECT_LT(std::fabs(e.ppm - c.signal.clock.ppm), c.tolerancePpm);
        }
        EXPECT_EQ(e.segments, 1);
        EXPECT_EQ(e.steps, 0);
        EXPECT_TRUE(e.unsteady.empty());
        EXPECT_TRUE(o.heard.present);
        EXPECT_TRUE(o.heard.problem.empty()) << o.heard.problem;
    }
}

// The uncertainty holds against the scatter of repeated runs: over 20
// seeds, the RMS of error over uncertainty lies between 0.5 and 1.5, at
// both ends of the tones and at two levels of noise. (The minute-long
// figures over the whole matrix: test_tone_matrix.cpp.)
TEST(ToneMeter, UncertaintyHoldsAgainstTheScatterOfSeeds)
{
#ifdef TONE_SHORT_TESTS
    GTEST_SKIP() << "the seed statistics run in the optimised native build only";
#endif
    constexpr int SEEDS = 20;
    struct Case {
        ToneSignalSettings signal;
        double seconds;
    };
    const Case cases[] = {
        {Tone(8000, 1000, 12.3456, 30), 20},
        {WithNeighbours(Tone(8000, 20, -203.7, 30)), 20},
        {WithNeighbours(Tone(8000, 3600, 77.7, 20)), 20},
        {Tone(48000, 440, -203.7, 20), 5},
        {StartingAt(2.1, Tone(8000, 1000, 12.3456, 20)), 10},
    };
    for (const Case& c : cases) {
        double squares = 0;
        int unsteady = 0;
        for (int seed = 1; seed <= SEEDS; ++seed) {
            ToneSignalSettings s = c.signal;
            s.seed = static_cast<uint64_t>(seed);
            s.startPhaseCycles = 0.1 * seed;
            s.clock.startSeconds = 0.01 * seed;
            const ReferenceEstimate e = MeasureTone(s, Seconds(c.seconds)).estimate;
            ASSERT_TRUE(e.valid);
            const double z = (e.ppm - s.clock.ppm) / e.uncertaintyPpm;
            squares += z * z;
            unsteady += e.unsteady.empty() ? 0 : 1;
        }
        const double rms = std::sqrt(squares / SEEDS);
        SCOPED_TRACE(Describe(c.signal) + ": RMS of error over uncertainty " + std::to_string(rms));
        EXPECT_GT(rms, 0.5);
        EXPECT_LT(rms, 1.5);
        // Each test calls a steady tone unsteady in 1 % of runs.
        EXPECT_LE(unsteady, 2);
    }
}

// A tone whose frequency moves is said to move, and its figure still given,
// its uncertainty widened so that it still covers the truth (the mean rate
// against the tone over the run, which the wander moves too).
TEST(ToneMeter, SaysWhenTheTonesFrequencyMoves)
{
    struct Case {
        const char* name;
        ToneWander wander;
        const char* said;
        double meanOffsetPpm;  // the wander's mean over the run: the rate against the tone moves by its opposite
    };
    ToneWander sine, walk, jump;
    sine.sinePpm = 0.2;
    sine.sinePeriodSeconds = 20;
    walk.walkPpmPerRootSecond = 0.05;
    jump.jumpAtSeconds = 30;
    jump.jumpPpm = 0.2;
    const Case cases[] = {
        {"a sine", sine, "wandered", 0},
        {"a random walk", walk, "wandered", 0},
        {"a jump", jump, "jumped", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToneSignalSettings s = Tone(8000, 1000, 25.5, 30);
        s.wander = c.wander;
        const ToneOutcome o = MeasureTone(s, Seconds(60));
        const ReferenceEstimate& e = o.estimate;
        ASSERT_TRUE(e.valid) << o.heard.problem;
        EXPECT_NE(e.unsteady.find(c.said), std::string::npos) << e.unsteady;
        EXPECT_GT(e.wanderAllowancePpm, 0);
    }
}

// Samples the stream lost or repeated without a word: the phase steps, and
// the meter steps over it with a new segment, counts it and says so; the
// figure stays right. Whole cycles of the tone lost are a step of what the
// card's offset makes of them: none where it runs exact (and nothing to
// step over), twice a block's noise at 40 ppm (seen over the whole minute).
TEST(ToneMeter, StepsOverSamplesTheStreamLostOrRepeated)
{
    struct Case {
        const char* name;
        ToneSignalSettings signal;
        SampleSlip slip;
        int64_t steps;
        bool seenAtOnce;  // by the tracker, so that the events show it too
    };
    // Where in the run, as a share of it.
    auto at = [](double share, int rate) { return static_cast<int64_t>(share * LONG_SECONDS * rate); };
    ToneSignalSettings phaseStep = Tone(8000, 1000, 12.3456, 30);
    phaseStep.wander.phaseStepAtSeconds = 0.355 * LONG_SECONDS;
    phaseStep.wander.phaseStepCycles = 0.25;
    const Case cases[] = {
        // PipeWire's quantum of 10.7 ms at 48000 Hz.
        {"512 samples lost", Tone(48000, 440, -203.7, 30), {at(0.5, 48000), 512, 0}, 1, true},
        {"1024 samples repeated", Tone(48000, 440, -203.7, 30), {at(0.35, 48000), 0, 1024}, 1, true},
        {"the tone's phase stepped", phaseStep, {0, 0, 0}, 1, true},
        {"8 cycles of an exact card lost", Tone(8000, 1000, 0, 30), {at(0.52, 8000), 64, 0}, 0, false},
        {"8 cycles less 40 ppm of them lost", Tone(8000, 1000, 40, 30), {at(0.52, 8000), 64, 0}, 1, false},
        {"two losses", Tone(8000, 1000, 12.3456, 20), {at(0.31, 8000), 77, 0}, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToneSignalSettings s = c.signal;
        if (c.slip.dropped + c.slip.repeated > 0)
            s.slips.push_back(c.slip);
        if (c.steps == 2)
            s.slips.push_back({at(0.69, 8000), 5, 0});
        const ToneOutcome o = MeasureTone(s, Seconds(LONG_SECONDS));
        const ReferenceEstimate& e = o.estimate;
        ASSERT_TRUE(e.valid) << o.heard.problem;
        EXPECT_EQ(e.steps, c.steps);
        EXPECT_EQ(e.segments, c.steps + 1);
        EXPECT_LT(std::fabs(e.ppm - s.clock.ppm), 5 * e.uncertaintyPpm) << Describe(s, e);
        EXPECT_EQ(e.unsteady.find("stepped") != std::string::npos, c.steps > 0) << e.unsteady;
        // The events: a new segment after each step, and the blocks that
        // hold it flagged and left out.
        uint32_t lastSegment = 0;
        int64_t jumps = 0;
        for (const ReferenceEvent& event : o.events) {
            jumps += (event.flags & EVENT_JUMP) ? 1 : 0;
            if (event.flags & EVENT_USED)
                lastSegment = event.segment;
            EXPECT_FALSE((event.flags & EVENT_JUMP) && (event.flags & EVENT_USED));
        }
        EXPECT_EQ(lastSegment, c.seenAtOnce ? c.steps : 0);
        EXPECT_EQ(jumps > 0, c.seenAtOnce && c.steps > 0);
    }
}

// A gap the stream reported starts a new segment, whatever it hid, also
// while the tone is still being looked for; it is counted among the steps
// but is no sign of an unsteady tone.
TEST(ToneMeter, AReportedGapStartsASegment)
{
    for (int64_t at : {int64_t{4000}, static_cast<int64_t>(LONG_SECONDS / 4 * 8000)}) {
        SCOPED_TRACE(at);
        ToneSignalSettings s = Tone(8000, 1000, -50.5, 30);
        s.slips.push_back({at, 3333, 0});
        ToneRun run = Seconds(LONG_SECONDS / 2);
        run.reportedGaps = {at};
        const ToneOutcome o = MeasureTone(s, run);
        ASSERT_TRUE(o.estimate.valid);
        EXPECT_EQ(o.estimate.segments, 2);
        EXPECT_EQ(o.estimate.steps, 1);
        EXPECT_TRUE(o.estimate.unsteady.empty()) << o.estimate.unsteady;
        EXPECT_LT(std::fabs(o.estimate.ppm - s.clock.ppm), 5 * o.estimate.uncertaintyPpm) << Describe(s, o.estimate);
    }
}

// The tone falls away (a cable pulled): its blocks count as missed, and
// where it comes back the line goes on (its phase ran on meanwhile). One
// that stays away is said to have gone.
TEST(ToneMeter, FollowsAToneThatFallsAwayAndComesBack)
{
    ToneSignalSettings s = Tone(8000, 1000, 33.3, 30);
    s.silentFromSeconds = 6;
    s.silentToSeconds = 8;
    ToneOutcome o = MeasureTone(s, Seconds(15));
    ASSERT_TRUE(o.estimate.valid);
    EXPECT_NEAR(static_cast<double>(o.estimate.eventsMissed), 2 * 16, 5);
    EXPECT_EQ(o.estimate.segments, 1);
    EXPECT_EQ(o.estimate.steps, 0);
    EXPECT_LT(std::fabs(o.estimate.ppm - s.clock.ppm), 5 * o.estimate.uncertaintyPpm) << Describe(s, o.estimate);
    EXPECT_TRUE(o.heard.present);

    s.silentToSeconds = 100;
    o = MeasureTone(s, Seconds(15));
    EXPECT_TRUE(o.estimate.valid);
    EXPECT_FALSE(o.heard.present);
    EXPECT_NE(o.heard.problem.find("fell away"), std::string::npos) << o.heard.problem;
}

// A tone that starts after the recording does (the capture opened before
// the generator played), over silence or noise: the figure comes from the
// tone alone, no block from before it is used, and it is heard as there.
// One that pauses for a second after starting is followed across the pause.
TEST(ToneMeter, MeasuresAToneThatStartsLate)
{
    constexpr double SECONDS = 15;
    constexpr double DIGITAL_SILENCE = std::numeric_limits<double>::infinity();
    struct Case {
        int rate;
        double startSeconds;  // of the tone, from the recording's start
        double snrDb;
        double pauseSeconds;  // a second's pause this long after it started (0: none)
    };
    const Case cases[] = {
        {8000, 0, 30, 0},
        {8000, 0.3, 30, 0},
        {8000, 0.7, DIGITAL_SILENCE, 0},
        {8000, 2.1, 30, 0},
        {8000, 5, 20, 0},
        {48000, 0, DIGITAL_SILENCE, 0},
        {48000, 0.3, DIGITAL_SILENCE, 0},
        {48000, 0.7, DIGITAL_SILENCE, 0},
        {48000, 2.1, 30, 0},
        {48000, 2.1, DIGITAL_SILENCE, 0},
        {48000, 5, 30, 0},
        {8000, 0.7, 30, 0.4},
        {48000, 2.1, DIGITAL_SILENCE, 0.9},
    };
    for (const Case& c : cases) {
        ToneSignalSettings s = StartingAt(c.startSeconds, Tone(c.rate, 1000, -123.4, c.snrDb));
        const double toneStart = s.toneFromSeconds;
        if (c.pauseSeconds > 0) {
            s.silentFromSeconds = toneStart + c.pauseSeconds;
            s.silentToSeconds = s.silentFromSeconds + 1;
        }
        SCOPED_TRACE(Describe(s) + ", the tone from " + std::to_string(c.startSeconds) + " s, SNR " +
                     std::to_string(c.snrDb) + (c.pauseSeconds > 0 ? ", paused" : ""));
        const ToneOutcome o = MeasureTone(s, Seconds(SECONDS));
        const ReferenceEstimate& e = o.estimate;
        EXPECT_TRUE(e.valid) << o.heard.problem;
        if (!e.valid)
            continue;
        EXPECT_LT(std::fabs(e.ppm - s.clock.ppm), 5 * e.uncertaintyPpm) << Describe(s, e);
        EXPECT_TRUE(o.heard.present);
        EXPECT_TRUE(o.heard.problem.empty()) << o.heard.problem;
        const double onset = s.clock.SampleAt(toneStart);
        int usedBefore = 0;
        for (const ReferenceEvent& event : o.events)
            usedBefore += (event.flags & EVENT_USED) && event.position < onset ? 1 : 0;
        EXPECT_EQ(usedBefore, 0) << "blocks used from before the tone started";
    }
}

// With no tone to measure there is no figure, and the words say what was
// heard instead: its level, and the strongest tone if there is one.
TEST(ToneMeter, SaysWhatItHeardWhenThereIsNoTone)
{
    constexpr int RATE = 8000;
    constexpr double SECONDS = 5;
    // The test burst: 13 chips of BPSK on 1500 Hz every 1024 samples.
    const std::vector<int16_t> burst = SynthesizeStream(RATE, 1500, static_cast<size_t>(SECONDS * RATE / 4));
    std::vector<float> burstSamples(burst.begin(), burst.end());
    for (float& x : burstSamples)
        x /= 32768;
    // Noise of a -20 dBFS tone's power: -23 dBFS RMS.
    ToneSignalSettings noise = Tone(RATE, 1000, 0, 0);
    noise.levelDbfs = -20;
    noise.toneLeftOut = true;
    ToneSignalSettings other = Tone(RATE, 1000, 0, 30);
    other.levelDbfs = -12;
    // Beyond MAX_OFFSET_PPM: 0.3 % off, found as off at once; 0.5 % off at
    // 20 Hz, within the spectrum's half bin, found off on the exact frequency.
    ToneSignalSettings near = Tone(RATE, 1003, 0, 30), low = Tone(RATE, 20.1, 0, 30);
    struct Case {
        const char* name;
        double toneHz;
        std::vector<float> samples;
        std::vector<const char*> said;
    };
    const Case cases[] = {
        {"silence", 1000, std::vector<float>(SECONDS * RATE), {"no tone at 1000.0 Hz", "silence"}},
        {"noise", 1000, ToneSamples(noise, SECONDS), {"no tone at 1000.0 Hz", "no single line", "-23.0 dBFS RMS"}},
        {"the test burst", 1500, burstSamples, {"no tone at 1500.0 Hz", "no single line", "a modulated one"}},
        {"another tone", 1200, ToneSamples(other, SECONDS),
         {"no tone at 1200.0 Hz", "the strongest tone heard is at 1000.0 Hz, -12.0 dBFS"}},
        {"a tone 0.3 % off", 1000, ToneSamples(near, SECONDS),
         {"no tone at 1000.0 Hz", "the tone heard is at 1003.00 Hz", "-299"}},
        {"a tone 0.5 % off at 20 Hz", 20, ToneSamples(low, SECONDS),
         {"no tone at 20.0 Hz", "the tone heard is at 20.10 Hz", "-4975 ppm off"}},
        {"a tone too low to measure", 10, ToneSamples(other, SECONDS), {"must lie between 20 and 3970 Hz"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToneMeter meter(c.toneHz, RATE);
        for (size_t i = 0; i < c.samples.size(); i += 1000)
            meter.Push(c.samples.data() + i, std::min<size_t>(1000, c.samples.size() - i));
        meter.Finish();
        EXPECT_FALSE(meter.Estimate().valid);
        const ReferenceHeard heard = meter.Heard();
        EXPECT_FALSE(heard.present);
        for (const char* words : c.said)
            EXPECT_NE(heard.problem.find(words), std::string::npos) << heard.problem;
    }
}

// Inputs too short to measure, or nothing at all, give no figure and say
// why; none of them trips the meter up (the sanitizers watch).
TEST(ToneMeter, ShortInputsGiveNoFigureAndSayWhy)
{
    const std::vector<float> tone = ToneSamples(Tone(8000, 1000, 0, 30), 3);
    for (size_t count : {size_t{0}, size_t{1}, size_t{100}, size_t{4000}, size_t{8192}, size_t{9000}}) {
        SCOPED_TRACE(count);
        ToneMeter meter(1000, 8000);
        meter.Push(tone.data(), count);
        meter.MarkDiscontinuity();
        meter.Finish();
        meter.Finish();
        EXPECT_FALSE(meter.Estimate().valid);
        EXPECT_FALSE(meter.Heard().problem.empty()) << meter.Heard().problem;
    }
    // Enough, pushed a sample at a time.
    ToneMeter meter(1000, 8000);
    for (size_t i = 0; i < tone.size(); ++i)
        meter.Push(&tone[i], 1);
    meter.Finish();
    EXPECT_TRUE(meter.Estimate().valid);
}

// The native, 32-bit and 64-bit Windows builds give the same figure to
// the last bit: the tables' sines are the program's own (ExtendedSineCosine),
// SSE2 rounds every double alike, and the sums run in a fixed order
// whatever the buffers. (The constants are this run's figures; a change of
// the method changes them, and they are taken anew from the native build.)
TEST(ToneMeter, EveryBuildGivesTheSameBits)
{
    ToneSignalSettings s = WithNeighbours(Tone(8000, 1000, -203.7, 20));
    ToneRun run = Seconds(5);
    run.buffer = 1000;
    const ToneOutcome o = MeasureTone(s, run);
    ASSERT_TRUE(o.estimate.valid);
    EXPECT_EQ(o.estimate.rateHz, 0x1.f3e5ec92b4656p+12) << std::hexfloat << o.estimate.rateHz;
    EXPECT_EQ(o.estimate.uncertaintyPpm, 0x1.a5eec253fb12p-5) << std::hexfloat << o.estimate.uncertaintyPpm;
}

}  // namespace
