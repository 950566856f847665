// The tone meter over its whole matrix, for docs/accuracy.md#tone-accuracy: rates,
// tones from 20 Hz to 0.45 of the rate, two levels of noise, with and
// without hum and a neighbouring tone, 20 seeds each, a minute a run. It
// prints one line a case: the error's RMS against the Cramer-Rao bound,
// the mean uncertainty, the RMS of error over uncertainty, how often a
// steady tone was called unsteady, and the meter's own speed. It asserts
// nothing, and is not run by default:
//
//   test_reference --gtest_also_run_disabled_tests --gtest_filter='ToneMatrix.*'
#include "common/signal_facts.h"
#include "meter/reference/tone_meter.h"
#include "tests/reference/tone_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr int SEEDS = 20;
constexpr double SECONDS = 60;

struct Case {
    int rate;
    double hz;
    double snrDb;
    bool neighbours;
};

// The bound on a tone's frequency in white noise (Rife and Boorstyn), as a
// fraction of it: N samples, SNR the tone's power over the noise's.
double BoundPpm(const Case& c)
{
    const double n = SECONDS * c.rate, snr = std::pow(10.0, c.snrDb / 10);
    const double twoPi = 2 * static_cast<double>(PI);
    const double cyclesPerSample = std::sqrt(12 / (twoPi * twoPi * snr * n * (n * n - 1)));
    return cyclesPerSample * c.rate / c.hz * 1e6;
}

TEST(ToneMatrix, DISABLED_WholeMatrix)
{
    const Case cases[] = {
        {8000, 20, 30, true},     {8000, 1000, 30, false},  {8000, 1000, 20, false},  {8000, 1000, 30, true},
        {8000, 3600, 30, true},   {8000, 3600, 20, true},   {44100, 1000, 30, true},  {48000, 20, 30, true},
        {48000, 440, 30, false},  {48000, 440, 20, false},  {48000, 1000, 30, true},  {48000, 21600, 30, true},
        {48000, 21600, 20, true}, {96000, 1000, 30, true},  {96000, 43200, 30, true},
    };
    std::printf("%6s %8s %4s %5s | %10s %10s %10s %6s | %8s %9s | %6s\n", "rate", "tone", "SNR", "neigh", "rms err",
                "bound", "mean u", "rms z", "unsteady", "steps", "x real");
    for (const Case& c : cases) {
        double squares = 0, errors = 0, uncertainties = 0, meterSeconds = 0;
        int unsteady = 0, stepped = 0, invalid = 0;
        for (int seed = 1; seed <= SEEDS; ++seed) {
            ToneSignalSettings s;
            s.clock.nominalRate = c.rate;
            s.clock.ppm = 300 * std::sin(seed * 1.7) + 0.123456;  // fractional, up to +-300 ppm
            s.clock.startSeconds = 0.0137 * seed;
            s.toneHz = c.hz;
            s.levelDbfs = -6;
            s.snrDb = c.snrDb;
            s.startPhaseCycles = 0.173 * seed;
            s.seed = static_cast<uint64_t>(seed);
            if (c.neighbours) {
                s.hum.levelDbfs = -50;
                s.hum.harmonics = 3;
                s.others.push_back({c.hz > 60 ? c.hz - 30 : c.hz + 30, -20});
            }
            const std::vector<float> samples = ToneSamples(s, SECONDS);
            const std::clock_t start = std::clock();
            ToneMeter meter(c.hz, c.rate);
            for (size_t i = 0; i < samples.size(); i += 4096)
                meter.Push(samples.data() + i, std::min<size_t>(4096, samples.size() - i));
            meter.Finish();
            const ReferenceEstimate e = meter.Estimate();
            meterSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
            if (!e.valid) {
                ++invalid;
                continue;
            }
            const double error = e.ppm - s.clock.ppm;
            squares += error * error / (e.uncertaintyPpm * e.uncertaintyPpm);
            errors += error * error;
            uncertainties += e.uncertaintyPpm;
            unsteady += e.unsteady.empty() ? 0 : 1;
            stepped += e.steps > 0 ? 1 : 0;
        }
        const int n = SEEDS - invalid;
        std::printf("%6d %8.1f %4.0f %5s | %10.6f %10.6f %10.6f %6.2f | %5d/%-2d %6d/%-2d | %6.0f%s\n", c.rate, c.hz,
                    c.snrDb, c.neighbours ? "yes" : "no", std::sqrt(errors / n), BoundPpm(c), uncertainties / n,
                    std::sqrt(squares / n), unsteady, n, stepped, n, SEEDS * SECONDS / meterSeconds,
                    invalid ? "  (some runs gave no figure)" : "");
        std::fflush(stdout);
    }
}

// What a stream without the tone costs: the search runs on every second.
TEST(ToneMatrix, DISABLED_SpeedWithoutATone)
{
    for (int rate : {8000, 48000, 96000}) {
        ToneSignalSettings s;
        s.clock.nominalRate = rate;
        s.toneHz = 1000;
        s.levelDbfs = -20;
        s.snrDb = 0;
        s.toneLeftOut = true;
        const std::vector<float> samples = ToneSamples(s, SECONDS);
        const std::clock_t start = std::clock();
        ToneMeter meter(1000, rate);
        for (size_t i = 0; i < samples.size(); i += 4096)
            meter.Push(samples.data() + i, std::min<size_t>(4096, samples.size() - i));
        meter.Finish();
        const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        std::printf("%6d Hz, noise only: %6.0f x real time; %s\n", rate, SECONDS / seconds, meter.Heard().problem.c_str());
    }
}

}  // namespace
