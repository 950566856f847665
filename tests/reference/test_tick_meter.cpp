// The tick meter against our own station signals.
#include "tests/reference/tick_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace {

Reception Hard(TimeStation station, uint64_t seed)
{
    Reception r;
    r.clock.nominalRate = 8000;
    r.clock.ppm = 12.345;
    r.clock.startSeconds = 60 * 7 + 3.37;
    StationArrival a;
    a.station = station;
    a.fading = FadingKind::Rayleigh;
    a.fadingSeconds = 3;
    a.echoLevel = 0.5;
    a.echoDelaySeconds = 0.001;
    a.wanderRmsSeconds = 50e-6;
    a.wanderTimeScaleSeconds = 1200;
    a.jumpSeconds = 0.0003;
    a.jumpAtSeconds = r.clock.startSeconds + 250;
    a.dut1Tenths = -3;
    r.stations.push_back(a);
    r.pitchOffsetHz = 420;
    r.snrDb = 10;
    r.seed = seed;
    return r;
}

TEST(TickMeterExplore, Hard)
{
    for (TimeStation st : {TimeStation::Wwv, TimeStation::Wwvh, TimeStation::Chu}) {
        const auto t0 = std::chrono::steady_clock::now();
        const TickRun run = RunTicks(Hard(st, 3), st, 600);
        const double el = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("valid %d ppm %.4f err %.4f unc %.4f used %lld missed %lld rej %lld steps %lld scatter %.3f pitch %.1f trains %d votes %d/%d u%d l%d problem '%s' %.2fs\n",
                    run.estimate.valid, run.estimate.ppm, run.errorPpm, run.estimate.uncertaintyPpm,
                    (long long)run.estimate.eventsUsed, (long long)run.estimate.eventsMissed, (long long)run.estimate.eventsRejected,
                    (long long)run.estimate.steps, run.estimate.scatterSamples, run.reception.pitchHz, run.reception.trains,
                    run.reception.votes.wwv, run.reception.votes.wwvh, run.reception.votes.upper, run.reception.votes.lower, run.heard.problem.c_str(), el);
    }
}

}  // namespace
