#include "meter/reference/tick_voice.h"

namespace {

// WWVH speaks from 45 s to 52.5 s, WWV from 52.5 s on: the seconds wholly
// inside each, clear of the tones (which end at 44 s).
constexpr int EARLY_FROM = 46, EARLY_TO = 51;
constexpr int LATE_FROM = 54, LATE_TO = 58;
constexpr int ENOUGH_SECONDS = 4;
// A voice over the noise of a 10 dB channel: several times the power of
// the quiet seconds (the subcarrier is in both).
constexpr double VOICE_RATIO = 2.0;
constexpr int MINUTES_TO_DECIDE = 2;

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

void VoiceTiming::MinuteAt(int64_t index)
{
    if (minuteKnown && FloorDiv(index - minuteStart, 60) * 60 == index - minuteStart)
        return;  // the same minute grid
    Close();
    minuteKnown = true;
    minuteStart = index;
    minute = 0;
}

void VoiceTiming::Second(int64_t index, double power)
{
    if (!minuteKnown)
        return;
    const int64_t m = FloorDiv(index - minuteStart, 60);
    if (m != minute) {
        Close();
        minute = m;
    }
    const int second = static_cast<int>(index - minuteStart - 60 * m);
    if (second >= EARLY_FROM && second <= EARLY_TO) {
        early += power;
        ++earlyCount;
    } else if (second >= LATE_FROM && second <= LATE_TO) {
        late += power;
        ++lateCount;
    }
}

void VoiceTiming::Close()
{
    if (earlyCount >= ENOUGH_SECONDS && lateCount >= ENOUGH_SECONDS) {
        const double e = early / earlyCount, l = late / lateCount;
        if (e > VOICE_RATIO * l)
            ++wwvhMinutes;
        else if (l > VOICE_RATIO * e)
            ++wwvMinutes;
    }
    early = late = 0;
    earlyCount = lateCount = 0;
}

bool VoiceTiming::Decided() const
{
    return (wwvMinutes >= MINUTES_TO_DECIDE && wwvhMinutes == 0) || (wwvhMinutes >= MINUTES_TO_DECIDE && wwvMinutes == 0);
}
