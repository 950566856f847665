// The Allan deviation against published values and against the slopes
// the noise types are known for, and the offset track fed bursts directly.
#include "meter/allan_deviation.h"
#include "meter/burst_reference.h"
#include "meter/offset_track.h"
#include "meter/steadiness.h"
#include "tests/meter/stretched_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace {

// NIST SP 1065, the "NBS14" test set (tau0 = 1): its frequency data and
// the phase data the publication derives from it.
const std::vector<double> NBS14_FREQUENCY = {892, 809, 823, 798, 671, 644, 883, 903, 677};
const std::vector<double> NBS14_PHASE = {0, 103.11111, 123.22222, 157.33333, 166.44444, 48.55555, -96.33333, -2.22222, 111.88889, 0};

std::vector<double> PhaseFromFrequency(const std::vector<double>& frequency)
{
    std::vector<double> phase = {0};
    for (double y : frequency)
        phase.push_back(phase.back() + y);
    return phase;
}

TEST(AllanDeviation, PublishedNbs14Values)
{
    enum Estimator { NON_OVERLAPPING, OVERLAPPING, MODIFIED };
    const struct {
        Estimator estimator;
        size_t m;
        double expected;
        int64_t terms;
    } cases[] = {
        {NON_OVERLAPPING, 1, 91.22945, 8},
        {NON_OVERLAPPING, 2, 115.8082, 3},
        {OVERLAPPING, 2, 85.95287, 6},
        {MODIFIED, 2, 74.78849, 5},
    };
    // The published phase, and phase summed from the frequency (another
    // mean taken out, which second differences do not see).
    for (const auto& phase : {NBS14_PHASE, PhaseFromFrequency(NBS14_FREQUENCY)}) {
        for (const auto& c : cases) {
            const AllanResult result = c.estimator == MODIFIED ? ModifiedAllanDeviation(phase, c.m, 1)
                                       : AllanDeviation(phase, c.m, c.estimator == OVERLAPPING ? 1 : c.m, 1);
            EXPECT_NEAR(result.deviation / c.expected, 1, 1e-4) << "estimator " << c.estimator << ", m " << c.m;
            EXPECT_EQ(result.terms, c.terms) << "estimator " << c.estimator << ", m " << c.m;
        }
    }
}

// White phase noise falls as 1/tau (the modified deviation as tau^-3/2),
// white frequency noise as tau^-1/2, both within 10 % over a decade; a gap
// costs terms, not the value.
TEST(AllanDeviation, NoiseTypesGiveTheirSlopes)
{
    constexpr size_t POINTS = 200000;
    NormalSource noise(11);
    std::vector<double> whitePhase(POINTS), whiteFrequency(POINTS);
    double sum = 0;
    for (size_t i = 0; i < POINTS; ++i) {
        whitePhase[i] = noise.Next();
        sum += noise.Next();
        whiteFrequency[i] = sum;
    }
    std::vector<double> gappy = whitePhase;
    for (size_t i = 5000; i < 6000; ++i)
        gappy[i] = std::nan("");
    const struct {
        const char* name;
        const std::vector<double>* phase;
        bool modified;
        double slope;
    } cases[] = {
        {"white phase, ADEV", &whitePhase, false, -1},
        {"white phase, MDEV", &whitePhase, true, -1.5},
        {"white frequency, ADEV", &whiteFrequency, false, -0.5},
        {"white frequency, MDEV", &whiteFrequency, true, -0.5},
        {"white phase with a gap, ADEV", &gappy, false, -1},
    };
    for (const auto& c : cases) {
        const auto at = [&](size_t m) {
            return c.modified ? ModifiedAllanDeviation(*c.phase, m, 1) : AllanDeviation(*c.phase, m, 1, 1);
        };
        const AllanResult shortTau = at(10), longTau = at(100);
        const double slope = std::log10(longTau.deviation / shortTau.deviation);
        EXPECT_NEAR(slope, c.slope, 0.1 * std::fabs(c.slope)) << c.name;
        std::printf("%-30s slope over tau 10..100: %+.3f (%lld and %lld terms)\n", c.name, slope,
                    static_cast<long long>(shortTau.terms), static_cast<long long>(longTau.terms));
    }
    EXPECT_EQ(AllanDeviation(gappy, 10, 1, 1).terms, static_cast<int64_t>(POINTS - 20 - (1000 + 2 * 10)));
}

TEST(AllanDeviation, TausRunByDecadesToAQuarterOfTheRun)
{
    // 8000 Hz: a burst every 0.128 s; 600 s hold 4688 bursts.
    const std::vector<size_t> expected = {8, 16, 39, 78, 156, 391, 781};
    EXPECT_EQ(DecadeAveragingFactors(0.128, 4688), expected);
    EXPECT_TRUE(DecadeAveragingFactors(0.128, 20).empty());
}

}  // namespace

namespace {

// The track fed bursts as the meter reports them: a clock at +250 ppm with
// white phase noise, and in it each kind of break the meter can make. A
// window's figure must not feel a jump inside it, and the Allan deviation
// must stay that of the unbroken series.
TEST(OffsetTrack, BreaksInThePhaseCostNothing)
{
    enum Break { NONE, FRACTIONAL_JUMP, LOST_BURSTS, RESTART };
    const struct {
        const char* name;
        Break kind;
    } cases[] = {{"none", NONE}, {"fractional jump", FRACTIONAL_JUMP}, {"lost bursts", LOST_BURSTS}, {"restart", RESTART}};
    constexpr double PPM = 250;
    constexpr int64_t BLOCKS = 4000;  // 512 s at 8000 Hz
    constexpr double NOISE = 0.002;   // samples
    const auto run = [&](Break kind, std::vector<WindowEstimate>& windows) {
        TrackSettings settings;
        settings.intervalSeconds = 30;
        settings.signalRate = 8000;
        OffsetTrack track(settings);
        track.OnWindow([&](const WindowEstimate& window) { windows.push_back(window); });
        NormalSource noise(5);
        double shift = 0;
        int64_t segment = 0;
        for (int64_t k = 0; k < BLOCKS; ++k) {
            BlockRecord record;
            record.block = k;
            record.time = 0.05 + static_cast<double>(k) * FRAME_SAMPLES * (1 + PPM * 1e-6) / 8000;
            record.flags = BLOCK_USED;
            if (k == 1000 && kind == FRACTIONAL_JUMP) {
                shift += 0.37;  // as the meter left it: a part of a sample unknown
                ++segment;
            }
            if (k == 1000 && kind == RESTART) {
                shift -= 61.5;  // the line started again, the jump not taken out
                ++segment;
            }
            if (kind == LOST_BURSTS && k >= 1000 && k < 1040)
                record.flags = BLOCK_LOST;
            record.linePhaseDelay = 3.25 + FRAME_SAMPLES * PPM * 1e-6 * static_cast<double>(k) + NOISE * noise.Next() + shift;
            record.segment = segment;
            track.Add(record);
        }
        track.Finish();
        return track;
    };
    std::vector<WindowEstimate> plainWindows;
    const std::vector<StabilityPoint> plain = run(NONE, plainWindows).Stability();
    for (const auto& c : cases) {
        std::vector<WindowEstimate> windows;
        const OffsetTrack track = run(c.kind, windows);
        ASSERT_EQ(windows.size(), 18u) << c.name;
        for (const WindowEstimate& window : windows) {
            ASSERT_TRUE(window.valid) << c.name;
            EXPECT_NEAR(window.ppm, PPM, 3 * window.uncertaintyPpm) << c.name << " at " << window.startSeconds << " s";
        }
        EXPECT_NEAR(windows.back().endSeconds, 512.05, 0.01) << c.name;
        EXPECT_TRUE(track.Judge().steady) << c.name;
        const std::vector<StabilityPoint> table = track.Stability();
        ASSERT_EQ(table.size(), plain.size()) << c.name;
        for (size_t i = 0; i < table.size(); ++i)
            EXPECT_NEAR(table[i].adev.deviation / plain[i].adev.deviation, 1, 0.05) << c.name << " at " << table[i].tauSeconds << " s";
    }
}

}  // namespace

namespace {

// The steadiness test's own false-alarm rate, on white phase noise alone
// (no systematic error allowed for, so the thresholds stand bare): a minute
// at 8000 Hz, 1000 times, is called unsteady in about FALSE_ALARM of runs.
TEST(Steadiness, FalseAlarmRateOnWhiteNoiseIsAsSet)
{
    constexpr int RUNS = 1000;
    constexpr size_t BLOCKS = 469;
    NormalSource noise(23);
    SteadinessSettings settings;
    settings.systematicSamples = 0;
    int alarms = 0;
    std::vector<double> delay(BLOCKS);
    for (int run = 0; run < RUNS; ++run) {
        for (size_t k = 0; k < BLOCKS; ++k)
            delay[k] = 0.3 * static_cast<double>(k) + 0.001 * noise.Next();
        alarms += JudgeSteadiness(delay, {0}, settings).steady ? 0 : 1;
    }
    std::printf("white phase noise: %d of %d runs called unsteady (set for %.1f %%)\n", alarms, RUNS, 100 * FALSE_ALARM);
    EXPECT_LE(alarms, 2 * FALSE_ALARM * RUNS);
}

}  // namespace
