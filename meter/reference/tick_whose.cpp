#include "meter/reference/tick_whose.h"

#include "meter/reference/station_format.h"
#include "meter/reference/tick_envelope.h"
#include "meter/reference/tick_search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {

// The tones between ticks: looked for 100 to 900 ms after the tick
// (clear of WWV's protected zone and of the next tick), in windows of 20 ms
// (nulls 50 Hz off: 560 and 600 Hz apart from the tick stay apart). A
// standard tone is there all along: a place counts where its level in each
// of eight pieces is at least half of that in any other (a voice's
// partial lasts a syllable). A vote where the strongest of the twelve
// places stands this far above their median and at this share of the
// tick's level at its pitch (a standard tone is half the tick's amplitude;
// a pulse at the pitch going on leaks a few percent into the places).
// Why: docs/accuracy.md#ticks-votes
constexpr double TONES_FROM_SECONDS = 0.100, TONES_TO_SECONDS = 0.900;
constexpr int TONE_PIECES = 8;
constexpr double TONE_WINDOW_SECONDS = 0.020;
constexpr double TONE_VOTE_RATIO = 4.0;
constexpr double TONE_TICK_SHARE = 0.1;
constexpr int VOTES_TO_DECIDE = 5;
// Two trains 200 Hz apart are WWV and WWVH (their ticks' pitches).
constexpr double PAIR_TOLERANCE_HZ = 50;

size_t Samples(double seconds, int rate)
{
    return static_cast<size_t>(std::lrint(seconds * rate));
}

}  // namespace

void ToneVotes::Add(const ToneVotes& other)
{
    wwv += other.wwv;
    wwvh += other.wwvh;
    upper += other.upper;
    lower += other.lower;
}

bool ToneVotes::Decided() const
{
    const int total = wwv + wwvh;
    return total >= VOTES_TO_DECIDE && 4 * std::max(wwv, wwvh) >= 3 * total;
}

bool ToneVotes::SidebandDecided() const
{
    const int total = upper + lower;
    return total >= VOTES_TO_DECIDE && 4 * std::max(upper, lower) >= 3 * total;
}

ToneVotes VoteByTones(const float* samples, size_t count, size_t start, double pitchHz, int rate)
{
    ToneVotes votes;
    const size_t from = start + Samples(TONES_FROM_SECONDS, rate);
    const size_t to = std::min(count, start + Samples(TONES_TO_SECONDS, rate));
    if (from >= to)
        return votes;
    struct Place {
        TimeStation station;
        bool lower;
        double level;
    };
    std::vector<Place> places;
    for (TimeStation station : {TimeStation::Wwv, TimeStation::Wwvh})
        for (double tone : STANDARD_TONES_HZ)
            for (bool lower : {false, true}) {
                const double distance = TickFormatOf(station).pitchHz - tone;
                const double hz = lower ? pitchHz + distance : pitchHz - distance;
                if (hz < 100 || hz > 0.45 * rate)
                    continue;
                const size_t piece = (to - from) / TONE_PIECES, window = Samples(TONE_WINDOW_SECONDS, rate);
                double least = 0, most = 0;
                for (int k = 0; k < TONE_PIECES; ++k) {
                    const double level = ToneLevel(samples + from + k * piece, piece, hz, rate, window);
                    least = k == 0 ? level : std::min(least, level);
                    most = std::max(most, level);
                }
                places.push_back({station, lower, least > 0.5 * most ? least : 0.0});
            }
    if (places.size() < 3)
        return votes;
    std::vector<double> levels;
    for (const Place& p : places)
        levels.push_back(p.level);
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    const double median = levels[levels.size() / 2];
    const Place& best = *std::max_element(places.begin(), places.end(), [](const Place& a, const Place& b) { return a.level < b.level; });
    const size_t tickLength = Samples(TickFormatOf(TimeStation::Wwv).tickSeconds, rate);
    const double tick = start + tickLength <= count ? ToneLevel(samples + start, tickLength, pitchHz, rate, tickLength) : 0.0;
    if (best.level <= TONE_VOTE_RATIO * median || best.level <= TONE_TICK_SHARE * tick || best.level <= 0)
        return votes;
    (best.station == TimeStation::Wwv ? votes.wwv : votes.wwvh) = 1;
    (best.lower ? votes.lower : votes.upper) = 1;
    return votes;
}

std::string NotTheAskedText(TimeStation asked, const std::string& heard)
{
    return "the ticks heard are " + heard + ", not " + CallSign(asked) + "'s";
}

std::string TonesTellText(TimeStation station)
{
    const auto [nearest, farthest] = std::minmax_element(std::begin(STANDARD_TONES_HZ), std::end(STANDARD_TONES_HZ));
    const double pitch = TickFormatOf(station).pitchHz;
    char text[100];
    std::snprintf(text, sizeof text, "their pitch lies %.0f to %.0f Hz from the standard tones", pitch - *farthest, pitch - *nearest);
    return text;
}

int ChooseTrain(const TickSearch& search, const std::vector<ToneVotes>& votes, TimeStation station, std::string& problem)
{
    const bool wantLong = station == TimeStation::Chu;
    std::vector<int> fitting;
    for (size_t i = 0; i < search.trains.size(); ++i)
        if (search.trains[i].longPulses == wantLong && !search.trains[i].continuous)
            fitting.push_back(static_cast<int>(i));
    const bool anyTicks = std::any_of(search.trains.begin(), search.trains.end(), [](const TickTrain& t) { return !t.continuous; });
    if (fitting.empty()) {
        if (!anyTicks)
            return -1;
        if (!wantLong) {
            problem = NotTheAskedText(station, "300 ms long: CHU's");
            return -1;
        }
        // WWV's or WWVH's: the tones may have said whose.
        std::string whose = "WWV's or WWVH's";
        for (size_t i = 0; i < search.trains.size(); ++i)
            if (!search.trains[i].continuous && votes[i].Decided()) {
                const TimeStation heard = votes[i].SaysWwvh() ? TimeStation::Wwvh : TimeStation::Wwv;
                whose = std::string(CallSign(heard)) + "'s (" + TonesTellText(heard) + ")";
                break;
            }
        problem = NotTheAskedText(station, "5 ms long: " + whose);
        return -1;
    }
    if (wantLong)
        return fitting.front();
    // Whose is each train: by its own tones, or as one of a pair 200 Hz
    // apart on the sideband their tones (or, failing them, the upper) say.
    ToneVotes all;
    for (const ToneVotes& v : votes)
        all.Add(v);
    std::vector<int> identity(search.trains.size(), -1);  // 0 WWV, 1 WWVH
    for (int i : fitting)
        if (votes[i].Decided())
            identity[i] = votes[i].SaysWwvh() ? 1 : 0;
    if (fitting.size() == 2) {
        const TickTrain& a = search.trains[fitting[0]];
        const TickTrain& b = search.trains[fitting[1]];
        const double apart = std::fabs(a.pitchHz - b.pitchHz);
        const double expected = TickFormatOf(TimeStation::Wwvh).pitchHz - TickFormatOf(TimeStation::Wwv).pitchHz;
        if (std::fabs(apart - expected) < PAIR_TOLERANCE_HZ) {
            const bool lower = all.SidebandDecided() && all.SaysLower();
            const bool aIsLower = a.pitchHz < b.pitchHz;
            // Upper sideband: WWV's the lower pitch.
            identity[fitting[0]] = (aIsLower != lower) ? 0 : 1;
            identity[fitting[1]] = 1 - identity[fitting[0]];
        }
    }
    const int wanted = station == TimeStation::Wwvh ? 1 : 0;
    for (int i : fitting)
        if (identity[i] == wanted)
            return i;
    for (int i : fitting)
        if (identity[i] < 0)
            return i;
    const TimeStation other = wanted ? TimeStation::Wwv : TimeStation::Wwvh;
    problem = NotTheAskedText(station, std::string(CallSign(other)) + "'s (" + TonesTellText(other) + ")");
    return -1;
}
