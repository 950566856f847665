// What the time stations broadcast, as far as the tick meter and our test
// signal need it: one home for these facts. The sources, and what was taken
// from each, are listed in docs/reference-ticks.md#sources.
//
// Times are within the station's own second (seconds after its start) or
// within its minute (the second's number, 0..59). Audio frequencies are as
// broadcast, before a receiver shifts or inverts them.
#pragma once

#include "meter/reference/reference_kind.h"

// The seconds pulse ("tick") and the tones that stand in for it.
struct TickFormat {
    double pitchHz;          // the tick's audio frequency
    double tickSeconds;      // its length in an ordinary second
    // The part of the pulse the meter's edge detector looks at: the whole
    // tick for WWV/WWVH; CHU's shortest pulse (10 cycles, 10 ms) for CHU,
    // whose longer pulses share that start.
    double edgeSeconds;
    double minuteToneSeconds;  // second 0
    double hourToneHz;         // second 0 of minute 0
    double hourToneSeconds;
    bool doubledTicksForDut1;  // WWV/WWVH; CHU splits its pulses instead
};

TickFormat TickFormatOf(TimeStation station);
// "WWV", "WWVH", "CHU": the station's call sign, for words to the user.
const char* CallSign(TimeStation station);

// What a station broadcasts in second `second` (0..59) of minute `minute`
// (0..59) of an hour, as the tick meter classifies a second.
enum class SecondKind {
    Tick,          // an ordinary pulse at the second's start
    Omitted,       // no pulse (WWV/WWVH 29 and 59, CHU 29, CHU 1..9 after the hour)
    MinuteTone,    // second 0: a long tone at the tick's pitch
    HourTone,      // second 0 of minute 0 (WWV/WWVH: 1500 Hz)
    ShortTick,     // CHU 31..39 (time code follows) and 51..59 (voice follows): 10 ms
};
SecondKind KindOfSecond(TimeStation station, int minute, int second);

// The silence around WWV's and WWVH's ticks (the "protected zone"): no
// tone, code or voice from 10 ms before the second to 30 ms after it.
constexpr double PROTECTED_BEFORE_SECONDS = 0.010;
constexpr double PROTECTED_AFTER_SECONDS = 0.030;

// WWV's and WWVH's standard audio tones between the ticks (seconds 1 to
// 44 of most minutes): 500 Hz and 600 Hz in alternate minutes (each
// station the opposite of the other), 440 Hz in one minute an hour.
constexpr double STANDARD_TONES_HZ[] = {500.0, 600.0, 440.0};
// The tone, 0 for none (a voice announcement or the other station's).
double StandardToneHz(TimeStation station, int minute);
// WWV's and WWVH's minutes of announcements instead of tones (seconds 1
// to 44); the other station keeps silent (ticks only) in them.
bool AnnouncementMinute(TimeStation station, int minute);

// The once-a-minute voice: WWVH from 45 s to 52.5 s, WWV from 52.5 s to
// 60 s, CHU in the last ten seconds (after each 10 ms tick).
struct VoiceWindow {
    double fromSecond;
    double toSecond;
};
VoiceWindow TimeVoiceWindow(TimeStation station);

// The time code: WWV/WWVH on a 100 Hz subcarrier, one pulse a second
// starting 30 ms into it, 170 ms long for a 0, 470 ms for a 1, 770 ms for
// a position marker (seconds 9, 19, ... 59); none in second 0.
constexpr double SUBCARRIER_HZ = 100.0;
constexpr double SUBCARRIER_START_SECONDS = 0.030;
constexpr double SUBCARRIER_ZERO_SECONDS = 0.170;
constexpr double SUBCARRIER_ONE_SECONDS = 0.470;
constexpr double SUBCARRIER_MARKER_SECONDS = 0.770;

// CHU's time code (seconds 31 to 39): Bell 103 FSK at 300 bit/s, mark
// 2225 Hz from 10 ms, ten 11-bit characters ending at 500 ms, mark to
// 510 ms.
constexpr double CHU_MARK_HZ = 2225.0;
constexpr double CHU_SPACE_HZ = 2025.0;
constexpr double CHU_BIT_SECONDS = 1.0 / 300.0;
constexpr double CHU_CODE_START_SECONDS = 0.010;
constexpr double CHU_DATA_START_SECONDS = 0.500 - 110 * (1.0 / 300.0);
constexpr double CHU_CODE_END_SECONDS = 0.510;
constexpr int CHU_FIRST_CODE_SECOND = 31;
constexpr int CHU_LAST_CODE_SECOND = 39;

// DUT1: WWV and WWVH double the ticks of seconds 1..8 (positive) or 9..16
// (negative), one per tenth of a second; CHU splits its pulses in the same
// seconds.
constexpr int DUT1_FIRST_SECOND = 1;
constexpr int DUT1_LAST_SECOND = 16;
bool Dut1MarkedSecond(int dut1Tenths, int second);
