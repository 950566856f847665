// The facts the tick meter goes by, and how it finds and tells the trains
// of ticks apart, on their own.
#include "meter/reference/station_format.h"
#include "meter/reference/tick_envelope.h"
#include "meter/reference/tick_search.h"
#include "tests/reference/hf_channel.h"
#include "tests/reference/station_signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

// The stations' minutes as NIST Special Publication 432, 15 CFR 200.107 and
// the NRC describe them (docs/reference-ticks.md#sources).
TEST(StationFormat, FollowsThePublishedMinute)
{
    struct Case {
        TimeStation station;
        int minute, second;
        SecondKind kind;
    };
    const Case cases[] = {
        {TimeStation::Wwv, 7, 0, SecondKind::MinuteTone},   {TimeStation::Wwv, 0, 0, SecondKind::HourTone},
        {TimeStation::Wwv, 7, 29, SecondKind::Omitted},     {TimeStation::Wwv, 7, 59, SecondKind::Omitted},
        {TimeStation::Wwv, 7, 30, SecondKind::Tick},        {TimeStation::Wwvh, 7, 59, SecondKind::Omitted},
        {TimeStation::Chu, 7, 29, SecondKind::Omitted},     {TimeStation::Chu, 7, 59, SecondKind::ShortTick},
        {TimeStation::Chu, 7, 31, SecondKind::ShortTick},   {TimeStation::Chu, 7, 39, SecondKind::ShortTick},
        {TimeStation::Chu, 7, 40, SecondKind::Tick},        {TimeStation::Chu, 7, 50, SecondKind::Tick},
        {TimeStation::Chu, 0, 5, SecondKind::Omitted},      {TimeStation::Chu, 1, 5, SecondKind::Tick},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KindOfSecond(c.station, c.minute, c.second), c.kind)
            << CallSign(c.station) << " " << c.minute << ":" << c.second;
    EXPECT_EQ(TickFormatOf(TimeStation::Wwv).pitchHz * TickFormatOf(TimeStation::Wwv).tickSeconds, 5);   // cycles
    EXPECT_EQ(TickFormatOf(TimeStation::Wwvh).pitchHz * TickFormatOf(TimeStation::Wwvh).tickSeconds, 6);
    // WWV 440 Hz in minute 2, WWVH in minute 1; 500/600 the other way round
    // from each other; none in either's announcement minutes.
    EXPECT_EQ(StandardToneHz(TimeStation::Wwv, 2), 440);
    EXPECT_EQ(StandardToneHz(TimeStation::Wwvh, 1), 440);
    EXPECT_EQ(StandardToneHz(TimeStation::Wwvh, 4), 600);
    EXPECT_EQ(StandardToneHz(TimeStation::Wwv, 4), 500);
    EXPECT_EQ(StandardToneHz(TimeStation::Wwv, 5), 600);
    EXPECT_EQ(StandardToneHz(TimeStation::Wwv, 45), 0);   // WWVH's alerts
    EXPECT_EQ(StandardToneHz(TimeStation::Wwvh, 15), 0);  // WWV's GPS report
    EXPECT_TRUE(Dut1MarkedSecond(3, 3));
    EXPECT_FALSE(Dut1MarkedSecond(3, 4));
    EXPECT_TRUE(Dut1MarkedSecond(-2, 10));
    EXPECT_FALSE(Dut1MarkedSecond(-2, 11));
}

// A second of audio: a tick at `pitch` at 100 ms, and a standard tone at
// `tone` from 130 ms on (both as heard).
std::vector<float> TickAndTone(double pitch, double tone)
{
    std::vector<float> x(8000, 0.0f);
    for (size_t i = 800; i < 840; ++i)
        x[i] += static_cast<float>(0.3 * UnitPhasor(pitch * i / 8000.0).real());
    for (size_t i = 1040; i < 7900; ++i)
        x[i] += static_cast<float>(0.15 * UnitPhasor(tone * i / 8000.0).real());
    return x;
}

// Whose tick, and which sideband, by the distance from the tick's pitch to
// the standard tone, wherever the receiver put them.
TEST(ToneVotes, TellTheStationAndTheSidebandByTheTones)
{
    struct Case {
        double broadcastTick, broadcastTone, offset;
        bool lower;
        bool wwvh;
    };
    const Case cases[] = {
        {1000, 500, 300, false, false}, {1000, 600, 1700, false, false}, {1000, 440, 0, false, false},
        {1200, 600, 300, false, true},  {1200, 500, 900, false, true},   {1200, 440, 1500, false, true},
        {1000, 600, 2600, true, false}, {1200, 500, 2900, true, true},   {1200, 440, 2000, true, true},
    };
    for (const Case& c : cases) {
        const double tick = c.lower ? c.offset - c.broadcastTick : c.offset + c.broadcastTick;
        const double tone = c.lower ? c.offset - c.broadcastTone : c.offset + c.broadcastTone;
        SCOPED_TRACE("tick " + std::to_string(tick) + ", tone " + std::to_string(tone));
        const std::vector<float> x = TickAndTone(tick, tone);
        const ToneVotes v = VoteByTones(x.data(), x.size(), 800, tick, 8000);
        EXPECT_EQ(v.wwvh, c.wwvh ? 1 : 0);
        EXPECT_EQ(v.wwv, c.wwvh ? 0 : 1);
        EXPECT_EQ(v.lower, c.lower ? 1 : 0);
    }
}

TickTrain Train(double pitch, bool longPulses)
{
    TickTrain t;
    t.pitchHz = pitch;
    t.longPulses = longPulses;
    t.seenFraction = 1;
    return t;
}

ToneVotes Votes(int wwv, int wwvh, int upper, int lower)
{
    ToneVotes v;
    v.wwv = wwv;
    v.wwvh = wwvh;
    v.upper = upper;
    v.lower = lower;
    return v;
}

// The train asked for among those heard, or the words for why none is.
TEST(ChooseTrain, PicksTheAskedStationOrSaysWhoseTheTicksAre)
{
    struct Case {
        const char* name;
        std::vector<TickTrain> trains;
        std::vector<ToneVotes> votes;
        TimeStation asked;
        int chosen;
        const char* says;
    };
    const Case cases[] = {
        {"WWV alone", {Train(1400, false)}, {Votes(9, 0, 9, 0)}, TimeStation::Wwv, 0, ""},
        {"WWVH alone for WWV", {Train(1400, false)}, {Votes(0, 9, 9, 0)}, TimeStation::Wwv, -1, "WWVH's"},
        {"undecided: taken", {Train(1400, false)}, {Votes(1, 1, 2, 0)}, TimeStation::Wwvh, 0, ""},
        {"pair, upper: WWV the lower pitch", {Train(1600, false), Train(1400, false)}, {Votes(0, 0, 6, 0), Votes(0, 0, 6, 0)},
         TimeStation::Wwv, 1, ""},
        {"pair, lower: WWV the higher pitch", {Train(1600, false), Train(1400, false)}, {Votes(0, 0, 0, 6), Votes(0, 0, 0, 6)},
         TimeStation::Wwv, 0, ""},
        {"pair, no tones: upper assumed", {Train(1600, false), Train(1400, false)}, {ToneVotes(), ToneVotes()},
         TimeStation::Wwvh, 0, ""},
        {"CHU for WWV", {Train(1000, true)}, {ToneVotes()}, TimeStation::Wwv, -1, "300 ms long: CHU's, not WWV's"},
        {"WWV for CHU", {Train(1000, false)}, {ToneVotes()}, TimeStation::Chu, -1, "5 ms long"},
        {"CHU among WWV", {Train(1400, false), Train(1000, true)}, {ToneVotes(), ToneVotes()}, TimeStation::Chu, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TickSearch search;
        search.trains = c.trains;
        std::string problem;
        EXPECT_EQ(ChooseTrain(search, c.votes, c.asked, problem), c.chosen);
        EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
        if (c.chosen >= 0) {
            EXPECT_TRUE(problem.empty());
        }
    }
}

// A station alone on the upper sideband (the lower where `lower`), its
// first 12 s from `start` (seconds from the top of an hour).
std::vector<float> TwelveSeconds(TimeStation station, double offset, bool lower, double snrDb, double start)
{
    Reception r;
    r.clock.nominalRate = 8000;
    r.clock.startSeconds = start;
    r.pitchOffsetHz = offset;
    r.lowerSideband = lower;
    r.snrDb = snrDb;
    StationArrival a;
    a.station = station;
    r.stations.push_back(a);
    StationSignal signal(r);
    return signal.Generate(12 * 8000);
}

// How long the pulses of each train are, and their pitch: CHU's where its
// 10 ms ticks are most of the stretch (seconds 48 to 60, the fold then
// short), at its pitch where they are followed by the code's FSK; not
// CHU's where the pulses go on past its 300 ms (the time code on WWV's and
// WWVH's 100 Hz subcarrier, heard 1400 Hz from an LSB receiver's carrier,
// WWVH's tick near the passband's lower edge).
TEST(SearchTicks, TellsCHUsPulsesByEachSecond)
{
    struct Case {
        const char* name;
        TimeStation station;
        double offset;
        bool lower;
        double snrDb, start;
        int longTrains, shortTrains;
    };
    const Case cases[] = {
        {"CHU, its 10 ms ticks", TimeStation::Chu, 600, false, 20, 600 + 47.3, 1, 0},
        {"CHU, its code", TimeStation::Chu, 600, false, 20, 600 + 28.6, 1, 0},
        {"WWVH and its time code", TimeStation::Wwvh, 1500, true, 30, 569.35, 0, 1},
        {"WWV", TimeStation::Wwv, 420, false, 20, 600 + 47.3, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> x = TwelveSeconds(c.station, c.offset, c.lower, c.snrDb, c.start);
        const TickSearch search = SearchTicks(x.data(), x.size(), 8000);
        const double broadcast = TickFormatOf(c.station).pitchHz;
        const double pitch = c.lower ? c.offset - broadcast : c.offset + broadcast;
        int longTrains = 0, shortTrains = 0;
        for (const TickTrain& t : search.trains) {
            if (t.continuous)
                continue;
            ++(t.longPulses ? longTrains : shortTrains);
            EXPECT_NEAR(t.pitchHz, pitch, 60);  // WWVH's near the passband's edge is pulled up
        }
        EXPECT_EQ(longTrains, c.longTrains);
        EXPECT_EQ(shortTrains, c.shortTrains);
    }
}

// The tones' votes second by second at the ticks of a station heard alone:
// the standard tones vote for it; a minute of announcements (WWV's voice,
// WWVH silent) and CHU's pulses (going on at the pitch, whose edges leak
// into the places) hardly ever.
TEST(ToneVotes, ComeFromTheStandardTonesOnly)
{
    struct Case {
        const char* name;
        TimeStation station;
        double start, snrDb;
        int atLeast, atMost;  // votes for the station (WWVH's for CHU), of 40
        int againstAtMost;
    };
    const Case cases[] = {
        {"WWVH's tones", TimeStation::Wwvh, 60 * 21 + 2.5, 20, 36, 40, 0},
        {"WWV's announcements", TimeStation::Wwv, 60 * 15 + 2.5, 20, 0, 2, 2},
        {"CHU's pulses", TimeStation::Chu, 60 * 21 + 2.5, 30, 0, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reception r;
        r.clock.nominalRate = 8000;
        r.clock.startSeconds = c.start;
        r.pitchOffsetHz = 2200;
        r.lowerSideband = true;
        r.snrDb = c.snrDb;
        StationArrival a;
        a.station = c.station;
        r.stations.push_back(a);
        StationSignal signal(r);
        const std::vector<float> x = signal.Generate(41 * 8000);
        ToneVotes votes;
        for (int64_t s = 0; s < 40; ++s) {
            const int64_t second = static_cast<int64_t>(std::ceil(c.start)) + s;
            const size_t start = static_cast<size_t>(std::llrint(signal.ArrivalSample(0, second)));
            votes.Add(VoteByTones(x.data(), x.size(), start, signal.HeardHz(TickFormatOf(c.station).pitchHz), 8000));
        }
        const int forIt = c.station == TimeStation::Wwv ? votes.wwv : votes.wwvh;
        const int against = c.station == TimeStation::Wwv ? votes.wwvh : votes.wwv;
        EXPECT_GE(forIt, c.atLeast);
        EXPECT_LE(forIt, c.atMost);
        EXPECT_LE(against, c.againstAtMost);
    }
}

// A clean tick's start found the same to a few hundredths of a sample
// wherever it falls between two samples; a second path 1 ms later and
// twice as strong does not move it by more than a fraction of a sample.
std::vector<double> StartsAcrossTheSamples(double echo)
{
    std::vector<double> starts;
    for (double fraction = 0; fraction < 1; fraction += 0.125) {
        const double start = 400 + fraction;
        std::vector<float> x(1200, 0.0f);
        const auto tick = [](double t, double level) {
            // A 5 ms tick of 1400 Hz with 0.5 ms raised-cosine edges.
            if (t <= 0 || t >= 0.005)
                return 0.0;
            const double edge = std::min(t, 0.005 - t);
            const double gate = edge >= 0.0005 ? 1.0 : 0.5 - 0.5 * UnitPhasor(0.5 * edge / 0.0005).real();
            return level * gate * UnitPhasor(1400 * t).imag();
        };
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(tick((i - start) / 8000.0, 0.3) + tick((i - start - 8) / 8000.0, 0.3 * echo));
        PitchEnvelope envelope;
        envelope.Load(x.data(), x.size(), 1400, 8000);
        const TickEdge edge = FindFirstEdge(envelope, 380, 430, 8, 0.001, 0.35);
        EXPECT_TRUE(edge.found);
        starts.push_back(edge.position - start);
    }
    return starts;
}

TEST(FindFirstEdge, TimesTheFirstPathAcrossTheSamples)
{
    const std::vector<double> alone = StartsAcrossTheSamples(0), echoed = StartsAcrossTheSamples(2);
    const auto [low, high] = std::minmax_element(alone.begin(), alone.end());
    EXPECT_LT(*high - *low, 0.05);
    for (double s : echoed)
        EXPECT_NEAR(s, alone.front(), 0.5);
}

}  // namespace
