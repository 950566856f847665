// The card's rate against the system clock, from synthetic stamp series:
// a card of known rate, its stamps made late by jitter and by scheduling
// stalls, broken by xruns.
#include "meter/rate_fit.h"
#include "tests/meter/stretched_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

enum class Jitter {
    Symmetric,  // Gaussian about the true time
    LateOnly,   // half-Gaussian: a stamp is never early
    Lingering,  // late, and correlated over many periods (0.9 from one to the next)
    Wandering,  // late, and wandering over seconds (0.99 from one to the next: 2 s)
    Chunked,    // the position moves in chunks of four periods (an audio server's quantum)
    Drifting,   // late, and the least lateness itself moving by DRIFT_SECONDS over the run
};

constexpr double DRIFT_SECONDS = 1.5e-4;

// How an xrun shows in the stamps.
enum class XrunShows {
    Reported,        // a new segment
    RestartedCount,  // the backend restarted the count instead of telling
    NotAtAll,        // samples lost and nothing said (only the time steps)
    GainedSilently,  // samples gained and nothing said (the time steps back)
};

struct CardSeries {
    const char* name;
    double nominalRate;
    double ppm;  // the card's truth
    uint64_t periodFrames;
    double seconds;
    Jitter jitter;
    double jitterSeconds;
    double stallEverySeconds;  // 0: none; each stall holds the stamps for 50 ms
    double xrunAtSeconds;      // 0: none
    XrunShows xrunShows;
};

constexpr double STALL_SECONDS = 0.05;

std::vector<RatePoint> MakeSeries(const CardSeries& card, uint64_t seed)
{
    NormalSource noise(seed);
    const double trueRate = card.nominalRate * (1 + card.ppm * 1e-6);
    std::vector<RatePoint> points;
    double lingering = 0;
    double timeOffset = 1234.5;  // the monotonic clock's value at the start
    uint64_t positionOffset = 0;
    uint32_t segment = 0;
    bool xrunDone = false;
    for (uint64_t frames = 0; frames / trueRate < card.seconds; frames += card.periodFrames) {
        double time = frames / trueRate;
        if (card.xrunAtSeconds > 0 && !xrunDone && time >= card.xrunAtSeconds) {
            // The card ran on while nobody read it: the position and the
            // time no longer line up as before.
            xrunDone = true;
            // A gap nobody reports is as small as PipeWire's (a quantum).
            timeOffset += card.xrunShows == XrunShows::NotAtAll         ? 0.0107
                          : card.xrunShows == XrunShows::GainedSilently ? -0.0214
                                                                        : 0.1379;
            if (card.xrunShows == XrunShows::RestartedCount)
                positionOffset = frames;
            else if (card.xrunShows == XrunShows::Reported)
                ++segment;
        }
        if (card.stallEverySeconds > 0) {
            const double sinceStall = std::fmod(time + 0.31 * card.stallEverySeconds, card.stallEverySeconds);
            if (sinceStall < STALL_SECONDS)
                time += STALL_SECONDS - sinceStall;
        }
        const double draw = noise.Next();
        switch (card.jitter) {
        case Jitter::Symmetric:
        case Jitter::Chunked: time += card.jitterSeconds * draw; break;
        case Jitter::LateOnly: time += card.jitterSeconds * std::fabs(draw); break;
        case Jitter::Drifting: time += card.jitterSeconds * std::fabs(draw) + DRIFT_SECONDS * time / card.seconds; break;
        case Jitter::Lingering:
        case Jitter::Wandering: {
            const double carried = card.jitter == Jitter::Lingering ? 0.9 : 0.99;
            lingering = carried * lingering + std::sqrt(1 - carried * carried) * draw;
            time += card.jitterSeconds * (3 + lingering);
            break;
        }
        }
        const uint64_t chunk = 4 * card.periodFrames;
        const uint64_t position = card.jitter == Jitter::Chunked ? frames / chunk * chunk : frames;
        points.push_back({position - positionOffset, timeOffset + time, segment});
    }
    return points;
}

RateEstimate Fit(const std::vector<RatePoint>& points, double nominalRate)
{
    return FitRate(points.data(), points.size(), nominalRate);
}

// Within three uncertainties of the truth in the first run, and the
// uncertainty as large as the scatter over many runs shows (and not far
// larger): the root mean square of error over uncertainty near 1.
TEST(RateFit, FindsTheCardsRateWithAnHonestUncertainty)
{
    const CardSeries cases[] = {
        {"2 ms jitter", 8000, 37.5, 160, 60, Jitter::Symmetric, 2e-3, 0, 0, XrunShows::Reported},
        {"late stamps and stalls", 8000, 37.5, 160, 60, Jitter::LateOnly, 2e-3, 7, 0, XrunShows::Reported},
        {"stalls and an xrun", 8000, 37.5, 160, 60, Jitter::Symmetric, 2e-3, 5, 31, XrunShows::Reported},
        {"a stall every second", 8000, 37.5, 160, 60, Jitter::LateOnly, 2e-3, 1, 0, XrunShows::Reported},
        {"unreported restart", 8000, 37.5, 256, 60, Jitter::LateOnly, 2e-3, 7, 20, XrunShows::RestartedCount},
        {"8008 Hz slow", 8008, -500, 256, 60, Jitter::LateOnly, 2e-3, 3, 40, XrunShows::Reported},
        {"48000 Hz lingering", 48000, 37.5, 1024, 60, Jitter::Lingering, 2e-3, 9, 0, XrunShows::Reported},
        {"wandering over seconds", 8000, 37.5, 160, 60, Jitter::Wandering, 2e-3, 6, 0, XrunShows::Reported},
        {"chunks of 80 ms", 8000, 37.5, 160, 60, Jitter::Chunked, 5e-5, 0, 0, XrunShows::Reported},
        {"11025 Hz, 10 s", 11025, 0, 441, 10, Jitter::Symmetric, 2e-3, 0, 0, XrunShows::Reported},
        {"unreported gap, 1000 ppm", 8000, 1000, 256, 60, Jitter::LateOnly, 2e-3, 7, 25, XrunShows::NotAtAll},
        {"unreported gain, 8008 Hz", 8008, -500, 160, 60, Jitter::Chunked, 5e-5, 0, 30, XrunShows::GainedSilently},
        {"8 stamps a second, lingering", 8000, 37.5, 1024, 60, Jitter::Lingering, 4e-3, 0, 0, XrunShows::Reported},
        {"0.2 ms, 1 %", 8000, 10000, 80, 60, Jitter::Symmetric, 2e-4, 4, 12, XrunShows::Reported},
    };
    constexpr int RUNS = 40;
    for (const CardSeries& card : cases) {
        SCOPED_TRACE(card.name);
        double squares = 0;
        for (int run = 0; run < RUNS; ++run) {
            const RateEstimate estimate = Fit(MakeSeries(card, 1 + run), card.nominalRate);
            ASSERT_TRUE(estimate.valid);
            const double error = estimate.ppm - card.ppm;
            if (run == 0 && std::getenv("RATE_FIT_TABLE"))
                std::printf("%-24s  %+.4f ppm +- %.4f (truth %+.1f), %lld used, %lld left out, r %.2f\n", card.name,
                            estimate.ppm, estimate.uncertaintyPpm, card.ppm, static_cast<long long>(estimate.pointsUsed),
                            static_cast<long long>(estimate.pointsLeftOut), estimate.correlation);
            if (run == 0) {
                EXPECT_LT(std::fabs(error), 3 * estimate.uncertaintyPpm);
                EXPECT_NEAR(estimate.rate, card.nominalRate * (1 + estimate.ppm * 1e-6), 1e-9);
                EXPECT_EQ(estimate.segments, card.xrunAtSeconds > 0 ? 2 : 1);
                const bool silent = card.xrunShows == XrunShows::NotAtAll || card.xrunShows == XrunShows::GainedSilently;
                EXPECT_EQ(estimate.silentGaps, card.xrunAtSeconds > 0 && silent ? 1 : 0);
                // Stalled stamps are left out; of plain jitter hardly any.
                if (card.stallEverySeconds > 0)
                    EXPECT_GT(estimate.pointsLeftOut, 0);
                else
                    EXPECT_LT(estimate.pointsLeftOut, estimate.stamps / 100);
                EXPECT_NEAR(estimate.seconds, card.seconds, 0.2);
            }
            squares += error * error / (estimate.uncertaintyPpm * estimate.uncertaintyPpm);
        }
        const double scatterOverUncertainty = std::sqrt(squares / RUNS);
        if (std::getenv("RATE_FIT_TABLE"))
            std::printf("%-24s  scatter/uncertainty %.2f\n", card.name, scatterOverUncertainty);
        EXPECT_GT(scatterOverUncertainty, 0.6);
        EXPECT_LT(scatterOverUncertainty, 1.35);
    }
}

// A lateness whose floor drifts over the run is a line like the card's: no
// residual shows it, so the stamps alone claim a figure it is beyond. The
// backend's allowance for it brings the truth back within the uncertainty.
TEST(RateFit, AllowsForALatenessThatDriftsUnseen)
{
    const CardSeries card = {"drifting floor", 8000, 37.5, 160, 60, Jitter::Drifting, 5e-5, 0, 0, XrunShows::Reported};
    const std::vector<RatePoint> points = MakeSeries(card, 7);
    const RateEstimate alone = Fit(points, card.nominalRate);
    EXPECT_GT(std::fabs(alone.ppm - card.ppm), 3 * alone.uncertaintyPpm);
    EXPECT_EQ(alone.driftAllowancePpm, 0);
    const RateEstimate allowed = FitRate(points.data(), points.size(), card.nominalRate, 2e-4);
    EXPECT_EQ(allowed.ppm, alone.ppm);
    EXPECT_NEAR(allowed.driftAllowancePpm, 2e-4 / card.seconds * 1e6, 0.05);
    EXPECT_LT(std::fabs(allowed.ppm - card.ppm), 1.5 * allowed.uncertaintyPpm);
}

// Through the pulse plugin a playback's first stamp is taken before the
// server starts the stream, nearly a second ahead of the rest at the same
// position: it moves nothing.
TEST(RateFit, AStampBeforeTheStreamRanCostsNothing)
{
    const CardSeries card = {"late start", 8000, 37.5, 160, 60, Jitter::Chunked, 5e-5, 0, 0, XrunShows::Reported};
    std::vector<RatePoint> points = MakeSeries(card, 3);
    const RateEstimate clean = Fit(points, card.nominalRate);
    points.insert(points.begin(), {points.front().frames, points.front().systemSeconds - 0.94, 0});
    const RateEstimate started = Fit(points, card.nominalRate);
    EXPECT_NEAR(started.ppm, clean.ppm, 0.5 * clean.uncertaintyPpm);
    EXPECT_LT(std::fabs(started.ppm - card.ppm), 3 * started.uncertaintyPpm);
}

TEST(RateFit, RefusesSeriesWithoutASlope)
{
    const struct {
        const char* name;
        std::vector<RatePoint> points;
        double nominalRate;
    } cases[] = {
        {"nothing", {}, 8000},
        {"two stamps", {{0, 1, 0}, {160, 1.02, 0}}, 8000},
        {"one stamp per segment", {{0, 1, 0}, {160, 1.02, 1}, {320, 1.04, 2}}, 8000},
        {"no nominal rate", {{0, 1, 0}, {160, 1.02, 0}, {320, 1.04, 0}}, 0},
        {"the position stands still", {{160, 1, 0}, {160, 1.02, 0}, {160, 1.04, 0}}, 8000},
    };
    for (const auto& series : cases)
        EXPECT_FALSE(Fit(series.points, series.nominalRate).valid) << series.name;
}

}  // namespace
