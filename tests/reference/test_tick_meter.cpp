// The tick meter against our own station signals (station_signal.h): the
// truth is the card's ppm, and where each tick arrives.
#include "meter/reference/station_format.h"
#include "tests/reference/tick_conditions.h"
#include "tests/reference/tick_run.h"
#include "transmitter/dsp/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>

namespace {

// Under the sanitizers and Wine the long runs are cut short; the bounds
// they assert are then those of the shorter run.
#ifdef TICKS_SHORT_TESTS
constexpr bool SHORT = true;
constexpr double LONG_RUN_SECONDS = 120;
constexpr double LONG_RUN_BOUND_PPM = 2.0;
#else
constexpr bool SHORT = false;
constexpr double LONG_RUN_SECONDS = 600;
constexpr double LONG_RUN_BOUND_PPM = 0.5;
#endif

// The broadcast second a meter's first event belongs to: the one whose
// tick arrives nearest it.
int64_t FirstSecond(StationSignal& truth, size_t station, const std::vector<ReferenceEvent>& events, double fromSecond)
{
    for (const ReferenceEvent& e : events)
        if (e.flags & EVENT_USED) {
            int64_t best = static_cast<int64_t>(fromSecond);
            for (int64_t s = best; s < best + 40; ++s)
                if (std::fabs(truth.ArrivalSample(station, s) - e.position) < std::fabs(truth.ArrivalSample(station, best) - e.position))
                    best = s;
            return best - e.index;
        }
    return 0;
}

// Ten minutes of each station through everything the channel does: the
// SSB offset, 10 dB of noise, Rayleigh fading of two paths 1 ms apart, a
// wandering delay and a jump of 0.3 ms; a fractional offset to find.
TEST(TickMeter, MeasuresEachStationThroughAnHfChannel)
{
    for (TimeStation station : {TimeStation::Wwv, TimeStation::Wwvh, TimeStation::Chu}) {
        SCOPED_TRACE(CallSign(station));
        const Reception r = MakeReception(station, TickCondition::Hard, 7, LONG_RUN_SECONDS);
        const TickRun run = RunTicks(r, station, LONG_RUN_SECONDS);
        ASSERT_TRUE(run.estimate.valid) << run.heard.problem;
        EXPECT_NEAR(run.estimate.ppm, r.clock.ppm, LONG_RUN_BOUND_PPM);
        EXPECT_GE(run.estimate.steps, 1) << "the 0.3 ms jump is a new segment";
        StationSignal signal(r);
        EXPECT_NEAR(run.reception.pitchHz, signal.HeardHz(TickFormatOf(station).pitchHz), 15);
        EXPECT_GT(run.estimate.wanderAllowancePpm, 0);
    }
}

// WWV and WWVH on one frequency, 9 ms apart, on either sideband: each one
// asked for is the one measured, its ticks where that station's arrive.
TEST(TickMeter, TellsWwvFromWwvhHeardTogether)
{
    for (bool lower : {false, true})
        for (TimeStation asked : {TimeStation::Wwv, TimeStation::Wwvh}) {
            SCOPED_TRACE(std::string(CallSign(asked)) + (lower ? " LSB" : " USB"));
            Reception r = MakeReception(TimeStation::Wwv, TickCondition::Noise, 3, 90);
            r.stations[0].delaySeconds = 0.004;
            StationArrival h = r.stations[0];
            h.station = TimeStation::Wwvh;
            h.delaySeconds = 0.013;
            h.level = 0.2;
            r.stations.push_back(h);
            r.lowerSideband = lower;
            r.pitchOffsetHz = lower ? 2100 : 420;
            const TickRun run = RunTicks(r, asked, 90);
            ASSERT_TRUE(run.estimate.valid) << run.heard.problem;
            EXPECT_EQ(run.reception.trains, 2);
            EXPECT_LT(run.estimate.uncertaintyPpm, 1.0);
            EXPECT_LE(std::fabs(run.estimate.ppm - r.clock.ppm), 3 * run.estimate.uncertaintyPpm);
            const size_t index = asked == TimeStation::Wwv ? 0 : 1;
            StationSignal truth(r);
            const int64_t first = FirstSecond(truth, index, run.events, r.clock.startSeconds);
            // Each used tick within 1.5 ms of the asked station's (a few
            // samples of the receiver's filter after it), the other's being
            // 9 ms (72 samples) away.
            std::vector<double> offsets;
            for (const ReferenceEvent& e : run.events)
                if (e.flags & EVENT_USED)
                    offsets.push_back(e.position - truth.ArrivalSample(index, first + e.index));
            ASSERT_GT(offsets.size(), 60u);
            std::vector<double> sorted = offsets;
            std::sort(sorted.begin(), sorted.end());
            const double median = sorted[sorted.size() / 2];
            EXPECT_NEAR(median, 0, 6);
            for (double o : offsets)
                EXPECT_NEAR(o, median, 12);
        }
}

// WWVH alone in WWV's minutes of announcements (14 to 19), when WWVH keeps
// its tones silent: the voice's time in the minute tells whose the ticks
// are; and WWV alone in them the same way.
TEST(TickMeter, TellsAStationAloneByItsVoiceWhereThereAreNoTones)
{
    for (TimeStation heard : {TimeStation::Wwvh, TimeStation::Wwv})
        for (TimeStation asked : {TimeStation::Wwv, TimeStation::Wwvh}) {
            SCOPED_TRACE(std::string(CallSign(heard)) + " asked as " + CallSign(asked));
            Reception r = MakeReception(heard, TickCondition::Noise, 11, 270);
            r.clock.startSeconds = 60 * 14 + 50.3;
            const TickRun run = RunTicks(r, asked, 270);
            EXPECT_EQ(run.estimate.valid, heard == asked) << run.heard.problem;
            if (heard != asked) {
                EXPECT_NE(run.heard.problem.find(std::string(CallSign(heard)) + "'s (the voice"), std::string::npos)
                    << run.heard.problem;
            }
        }
}

// The first second after the search holds no tick (WWV's second 59 is
// omitted; CHU's 51 has a 10 ms tick, a marker): the meter follows on from
// where the search found the ticks, every second after it an event.
TEST(TickMeter, FollowsOnWhenTheFirstSecondHoldsNoTick)
{
    const double RUN_SECONDS = 40;
    for (TimeStation station : {TimeStation::Wwv, TimeStation::Chu}) {
        SCOPED_TRACE(CallSign(station));
        Reception r = MakeReception(station, TickCondition::Clean, 5, RUN_SECONDS);
        r.clock.startSeconds = station == TimeStation::Chu ? 600 + 50.5 : 600 + 58.5;
        r.snrDb = 20;
        const TickRun run = RunTicks(r, station, RUN_SECONDS);
        ASSERT_FALSE(run.events.empty());
        int64_t expected = run.events.front().index;
        for (const ReferenceEvent& e : run.events) {
            if (!(e.flags & EVENT_EXTRA)) {
                EXPECT_EQ(e.index, expected++);
            }
        }
        // All but the search's 12 s and the last second's stretch.
        EXPECT_GE(expected - run.events.front().index, RUN_SECONDS - 14);
    }
}

// What each second of the minute is, as the meter must classify it.
unsigned ExpectedFlags(TimeStation station, int minute, int second, int dut1)
{
    switch (KindOfSecond(station, minute, second)) {
    case SecondKind::Tick:
        return station != TimeStation::Chu && Dut1MarkedSecond(dut1, second) ? EVENT_USED | EVENT_EXTRA : EVENT_USED;
    case SecondKind::Omitted: return EVENT_MISSED;
    default: return EVENT_MARKER;
    }
}

// Two minutes across the top of an hour: the hour and minute tones, the
// omitted seconds, DUT1's doubled ticks, CHU's code and voice seconds are
// recognised, and none of them goes into the line.
TEST(TickMeter, RecognisesWhatIsNotATick)
{
    for (TimeStation station : {TimeStation::Wwv, TimeStation::Wwvh, TimeStation::Chu}) {
        SCOPED_TRACE(CallSign(station));
        Reception r = MakeReception(station, TickCondition::Clean, 5, 130);
        r.clock.startSeconds = 3600 - 20.4;  // 20 s before the hour
        r.stations[0].dut1Tenths = 3;
        r.snrDb = 25;
        const TickRun run = RunTicks(r, station, 130);
        ASSERT_TRUE(run.estimate.valid) << run.heard.problem;
        StationSignal truth(r);
        const int64_t first = FirstSecond(truth, 0, run.events, r.clock.startSeconds);
        std::map<int64_t, unsigned> flags;
        for (const ReferenceEvent& e : run.events)
            flags[first + e.index] |= e.flags & (EVENT_USED | EVENT_MISSED | EVENT_MARKER | EVENT_EXTRA);
        int seen = 0;
        for (const auto& [second, got] : flags) {
            const int minute = static_cast<int>((second / 60) % 60), within = static_cast<int>(second % 60);
            EXPECT_EQ(got, ExpectedFlags(station, minute, within, 3)) << "minute " << minute << " second " << within;
            ++seen;
        }
        EXPECT_GT(seen, 100);
    }
}

// Inputs with no usable ticks: no figure, and words for what was heard.
TEST(TickMeter, SaysWhatItHeardWhenThereAreNoTicks)
{
    struct Case {
        const char* name;
        TimeStation asked;
        std::function<std::vector<float>()> make;
        const char* says;
    };
    constexpr int RATE = 8000;
    constexpr int SECONDS = 30;
    const auto stationOnly = [](TimeStation station) {
        return [station] {
            Reception r = MakeReception(station, TickCondition::Noise, 2, SECONDS);
            StationSignal signal(r);
            return signal.Generate(SECONDS * RATE);
        };
    };
    // A station heard alone on an SSB receiver, its carrier at `offset`
    // (on the lower sideband where `lower`), from `start` (seconds from the
    // top of an hour).
    struct Alone {
        TimeStation station;
        double offset;
        bool lower;
        double snrDb, start;
        bool fading;
        uint64_t seed;
    };
    const auto alone = [](Alone a) {
        return [a] {
            Reception r;
            r.clock.nominalRate = RATE;
            r.clock.ppm = 3.21;
            r.clock.startSeconds = a.start;
            r.pitchOffsetHz = a.offset;
            r.lowerSideband = a.lower;
            r.snrDb = a.snrDb;
            r.seed = a.seed;
            StationArrival arrival;
            arrival.station = a.station;
            if (a.fading) {
                arrival.fading = FadingKind::Rayleigh;
                arrival.echoLevel = 0.5;
            }
            r.stations.push_back(arrival);
            StationSignal signal(r);
            return signal.Generate(SECONDS * RATE);
        };
    };
    const Case cases[] = {
        {"silence", TimeStation::Wwv, [] { return std::vector<float>(SECONDS * RATE, 0.0f); }, "silent"},
        {"noise", TimeStation::Wwv,
         [] {
             TestRandom random(9);
             std::vector<float> x(SECONDS * RATE);
             for (float& v : x)
                 v = static_cast<float>(0.1 * random.Gaussian());
             return x;
         },
         "no ticks: noise"},
        {"a steady tone", TimeStation::Wwv,
         [] {
             std::vector<float> x(SECONDS * RATE);
             for (size_t i = 0; i < x.size(); ++i)
                 x[i] = static_cast<float>(0.3 * UnitPhasor(1000.0 * i / RATE).real());
             return x;
         },
         "steady tone at 1000 Hz"},
        {"CHU for WWV", TimeStation::Wwv, stationOnly(TimeStation::Chu), "300 ms long: CHU's, not WWV's"},
        {"WWV for CHU", TimeStation::Chu, stationOnly(TimeStation::Wwv), "5 ms long"},
        // through fading, a second path and a wandering delay (a line gone
        // wrong on the other station's sounds once read before its samples)
        {"WWV for CHU, wandering", TimeStation::Chu,
         [] {
             Reception r = MakeReception(TimeStation::Wwv, TickCondition::Hard, 3, SECONDS);
             StationSignal signal(r);
             return signal.Generate(SECONDS * RATE);
         },
         "5 ms long"},
        // CHU's 10 ms ticks (seconds 51-59) most of the first search, once
        // followed as WWV's
        {"CHU for WWV, its 10 ms ticks first", TimeStation::Wwv, alone({TimeStation::Chu, 600, false, 20, 648.0, false, 1}),
         "300 ms long: CHU's, not WWV's"},
        // ... and said by the searches that heard it, not by the last few
        // seconds' (too few to tell a train in)
        {"CHU for WWV, fading, the last stretch short", TimeStation::Wwv,
         alone({TimeStation::Chu, 1700, true, 30, 1145.94, true, 228}), "300 ms long: CHU's, not WWV's"},
        // ... and followed from a search that saw one of its pulses only
        {"CHU for WWVH, followed from its 10 ms ticks", TimeStation::Wwvh,
         alone({TimeStation::Chu, 2200, true, 30, 1528.27, false, 269}), "300 ms long: CHU's, not WWVH's"},
        // the time code's pulses on the 100 Hz subcarrier, once taken for CHU's
        {"WWVH for CHU, its time code heard", TimeStation::Chu, alone({TimeStation::Wwvh, 1500, true, 30, 569.35, false, 185}),
         "5 ms long"},
        {"WWVH for WWV", TimeStation::Wwv, stationOnly(TimeStation::Wwvh), "WWVH's"},
        // found to be WWVH's, then searched again where the tones are
        // silent (the voice), once taken for WWV's
        {"WWVH for WWV, its tones then silent", TimeStation::Wwv, alone({TimeStation::Wwvh, 600, false, 10, 2232.94, true, 128}),
         "WWVH's (their pitch lies 600 to 760 Hz from the standard tones)"},
        // CHU's pulses heard, then a stretch of its 10 ms ticks and code
        // (seconds 29-35) that one search alone takes for ticks
        {"CHU for WWV, its code last", TimeStation::Wwv, alone({TimeStation::Chu, 1800, false, 20, 3185.67, false, 249}),
         "300 ms long: CHU's, not WWV's"},
        {"WWV fading out", TimeStation::Wwv,
         [] {
             Reception r = MakeReception(TimeStation::Wwv, TickCondition::Noise, 2, SECONDS);
             StationSignal signal(r);
             std::vector<float> x = signal.Generate(SECONDS * RATE);
             TestRandom random(4);
             for (size_t i = 16 * RATE; i < x.size(); ++i)
                 x[i] = static_cast<float>(0.05 * random.Gaussian());
             return x;
         },
         "lost at"},
        {"WWV, faint and fading", TimeStation::Wwv, alone({TimeStation::Wwv, 420, false, -3, 423.37, true, 2}), "ticks found in only"},
        {"WWV for WWVH", TimeStation::Wwvh, stationOnly(TimeStation::Wwv), "WWV's"},
        {"the test burst", TimeStation::Wwv,
         [] {
             Synthesis synthesis = InitialisedSynthesis(RATE, 1500);
             std::vector<int16_t> pcm;
             AppendStream(synthesis, SECONDS * RATE / SAMPLES_PER_SYMBOL, pcm);
             std::vector<float> x(pcm.size());
             for (size_t i = 0; i < pcm.size(); ++i)
                 x[i] = pcm[i] / 32768.0f;
             return x;
         },
         "pulses a second, not one"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TickMeterSettings settings;
        settings.station = c.asked;
        settings.sampleRate = RATE;
        TickMeter meter(settings);
        const std::vector<float> x = c.make();
        // in the pieces a recording is read in
        constexpr size_t PIECE = 8192;
        for (size_t at = 0; at < x.size(); at += PIECE)
            meter.Push(x.data() + at, std::min(PIECE, x.size() - at));
        meter.Finish();
        EXPECT_FALSE(meter.Estimate().valid);
        const ReferenceHeard heard = meter.Heard();
        EXPECT_FALSE(heard.present);
        EXPECT_NE(heard.problem.find(c.says), std::string::npos) << heard.problem;
    }
}

// A receiver turned up until its ticks clip: no clipped tick is timed, and
// what was heard says how many samples clipped.
TEST(TickMeter, TimesNoClippedTick)
{
    Reception r = MakeReception(TimeStation::Wwv, TickCondition::Noise, 8, 60);
    r.stations[0].level = 1.6;
    StationSignal signal(r);
    std::vector<float> x = signal.Generate(60 * 8000);
    for (float& v : x)
        v = std::clamp(v, -1.0f, 1.0f);  // the card's converter
    TickMeterSettings settings;
    TickMeter meter(settings);
    int clippedTicks = 0, used = 0;
    meter.OnEvent([&](const ReferenceEvent& e) {
        clippedTicks += (e.flags & EVENT_CLIPPED) ? 1 : 0;
        used += (e.flags & EVENT_USED) ? 1 : 0;
    });
    meter.Push(x.data(), x.size());
    meter.Finish();
    EXPECT_GT(clippedTicks, 30);
    EXPECT_EQ(used, 0);
    EXPECT_FALSE(meter.Estimate().valid);
    EXPECT_GT(meter.Heard().clippedSamples, 1000u);
}

// Samples lost or repeated, the stream saying so or not: a new segment
// from there, and the rate as if nothing had happened.
TEST(TickMeter, StepsOverSamplesLostOrRepeated)
{
    struct Case {
        int64_t samples;  // > 0 lost, < 0 repeated
        bool reported;
    };
    const std::vector<Case> cases = SHORT ? std::vector<Case>{{1234, true}, {20, false}}
                                          : std::vector<Case>{{1234, true}, {-777, true}, {20, false}, {-9, false}, {50000, false}};
    for (const Case c : cases) {
        SCOPED_TRACE(std::to_string(c.samples) + (c.reported ? " reported" : " unreported"));
        Reception r = MakeReception(TimeStation::Wwv, TickCondition::Noise, 4, 150);
        r.faultAtSample = 75 * 8000 + 123;
        r.faultSamples = c.samples;
        const TickRun run = RunTicks(r, TimeStation::Wwv, 150, c.reported ? 75 + 123.0 / 8000 : -1);
        ASSERT_TRUE(run.estimate.valid) << run.heard.problem;
        EXPECT_GE(run.estimate.steps, 1);
        EXPECT_GE(run.estimate.segments, 2);
        EXPECT_NEAR(run.estimate.ppm, r.clock.ppm, 0.3);
        EXPECT_LE(run.estimate.ppm - r.clock.ppm, 3 * run.estimate.uncertaintyPpm + 0.01);
    }
}

// The user's range: the card's rate, the tick's pitch from 300 to 3000 Hz
// on either sideband, the card fast or slow.
TEST(TickMeter, MeasuresAtEveryRateAndPitch)
{
    struct Case {
        int rate;
        TimeStation station;
        double tickHeardHz;
        bool lower;
        double ppm;
    };
    const Case cases[] = {
        {8000, TimeStation::Wwv, 330, false, -87.6},   {11025, TimeStation::Wwvh, 2800, false, 3.3},
        {44100, TimeStation::Chu, 700, true, 150.25},  {48000, TimeStation::Wwv, 2400, true, -0.4},
        {16000, TimeStation::Wwvh, 1800, true, 41.0},
    };
    for (const Case& c : cases) {
        if (SHORT && (c.rate == 48000 || c.rate == 16000))
            continue;  // one decimating rate is enough under the sanitizers and Wine
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, tick at " + std::to_string(c.tickHeardHz));
        Reception r = MakeReception(c.station, TickCondition::Clean, 6, 60);
        r.snrDb = 20;
        r.clock.nominalRate = c.rate;
        r.clock.ppm = c.ppm;
        r.lowerSideband = c.lower;
        const double broadcast = TickFormatOf(c.station).pitchHz;
        r.pitchOffsetHz = c.lower ? c.tickHeardHz + broadcast : c.tickHeardHz - broadcast;
        const TickRun run = RunTicks(r, c.station, 60);
        ASSERT_TRUE(run.estimate.valid) << run.heard.problem;
        // A minute is short: the figure within its uncertainty, which is
        // under a ppm. The pitch near the passband's edges is pulled in.
        EXPECT_LT(run.estimate.uncertaintyPpm, 1.0);
        EXPECT_LE(std::fabs(run.estimate.ppm - c.ppm), 3 * run.estimate.uncertaintyPpm);
        EXPECT_NEAR(run.reception.pitchHz, c.tickHeardHz, 50);
    }
}

}  // namespace
