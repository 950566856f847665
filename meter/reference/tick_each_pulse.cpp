#include "meter/reference/tick_each_pulse.h"

#include "meter/reference/tick_envelope.h"

#include <algorithm>
#include <cmath>

namespace {

// Each second at the train's pitch, in windows of 5 ms (WWV's tick; the
// standard tones 400 Hz and more away fall in their nulls): a pulse where
// its start stands this far above the pitch's level 60 to 10 ms before it
// (CHU's 700 ms of quiet, WWV's protected zone); ending where the level 10
// to 25 ms after the start falls under this share of it (a tick's 5 ms and
// CHU's 10 ms are over, the code's FSK is at another pitch); going on
// where the level in each of four pieces of 30 to 250 ms after the start
// (CHU's pulse) is this share of the start's and as far above that quiet,
// and past CHU's pulse where the level in those of 320 to 420 ms after it
// is (the time code's ones end 440 ms after their start). A voice's
// partial near the pitch can reach most of a faded tick's level, for a
// syllable (180 ms) only. Why: docs/accuracy.md#ticks-identity
constexpr double EACH_WINDOW_SECONDS = 0.005;
constexpr double EACH_QUIET_FROM_SECONDS = 0.060, EACH_QUIET_TO_SECONDS = 0.010;
constexpr double EACH_END_FROM_SECONDS = 0.010, EACH_END_TO_SECONDS = 0.025;
constexpr double EACH_ON_FROM_SECONDS = 0.030, EACH_ON_TO_SECONDS = 0.250;
constexpr double EACH_PAST_FROM_SECONDS = 0.320, EACH_PAST_TO_SECONDS = 0.420;
constexpr double EACH_OVER_QUIET = 4.0;
constexpr double EACH_ENDED_SHARE = 0.3;
constexpr double EACH_GOES_ON = 0.6;
constexpr int EACH_PIECES = 4;
// CHU's pulses, also among its 10 ms ticks (seconds 31-39 and 51-59: in
// a stretch of 12 s the 10 ms ticks may be nine, the pulses two or three):
// pulses going on in this many seconds, where WWV's and WWVH's go on once
// a minute (the minute tone). Pulses going past CHU's 300 ms in this many
// are none of CHU's (its 0.5 s and 1 s go on once a minute): the time
// code's 470 and 770 ms pulses on WWV's and WWVH's 100 Hz subcarrier,
// which an SSB receiver hears at its carrier's offset plus or less 100 Hz,
// 30 ms after their ticks. Pulses that neither go on nor end in half of
// them (and a quarter of the seconds) are none either: what starts after
// WWV's protected zone (a voice).
constexpr int CHU_PULSES_AMONG_TICKS = 2;
constexpr int PAST_CHU_PULSES = 3;

long SamplesIn(double seconds, int rate)
{
    return static_cast<long>(std::lrint(seconds * rate));
}

}  // namespace

EachPulse LookAtEachPulse(const float* x, size_t seconds, int rate, long offset, double pitchHz)
{
    const auto at = [rate](double seconds) { return SamplesIn(seconds, rate); };
    const size_t window = static_cast<size_t>(at(EACH_WINDOW_SECONDS));
    const long end = static_cast<long>(seconds) * rate;
    EachPulse each;
    for (size_t s = 0; s < seconds; ++s) {
        const long start = static_cast<long>(s) * rate + offset;
        if (start < at(EACH_QUIET_FROM_SECONDS) || start + at(EACH_PAST_TO_SECONDS) > end)
            continue;
        const auto level = [&](double from, double to) {
            return ToneLevel(x + start + at(from), static_cast<size_t>(at(to) - at(from)), pitchHz, rate, window);
        };
        ++each.looked;
        const double pulse = level(0, EACH_WINDOW_SECONDS);
        const double quiet = level(-EACH_QUIET_FROM_SECONDS, -EACH_QUIET_TO_SECONDS);
        if (pulse <= EACH_OVER_QUIET * quiet)
            continue;
        ++each.pulses;
        each.end += level(EACH_END_FROM_SECONDS, EACH_END_TO_SECONDS) < EACH_ENDED_SHARE * pulse ? 1 : 0;
        // Going on: in each piece of the stretch (a steady pulse is; a
        // voice's partial lasts a syllable).
        const auto goesOn = [&](double from, double to) {
            const double piece = (to - from) / EACH_PIECES;
            double least = level(from, from + piece);
            for (int k = 1; k < EACH_PIECES; ++k)
                least = std::min(least, level(from + k * piece, from + (k + 1) * piece));
            return least > EACH_GOES_ON * pulse && least > EACH_OVER_QUIET * quiet;
        };
        each.goOn += goesOn(EACH_ON_FROM_SECONDS, EACH_ON_TO_SECONDS) ? 1 : 0;
        each.goPast += goesOn(EACH_PAST_FROM_SECONDS, EACH_PAST_TO_SECONDS) ? 1 : 0;
    }
    return each;
}

bool EachPulse::LongPulses() const
{
    return goOn >= CHU_PULSES_AMONG_TICKS;
}

bool EachPulse::PastChuPulses() const
{
    return goPast >= PAST_CHU_PULSES;
}

bool EachPulse::NeitherEndNorGoOn() const
{
    return 2 * end < pulses || 4 * end < looked;
}
