#include "meter/reference/station_format.h"

TickFormat TickFormatOf(TimeStation station)
{
    switch (station) {
    case TimeStation::Wwvh: return {1200.0, 0.005, 0.005, 0.800, 1500.0, 0.800, true};
    case TimeStation::Chu: return {1000.0, 0.300, 0.010, 0.500, 1000.0, 1.000, false};
    case TimeStation::Wwv: break;
    }
    return {1000.0, 0.005, 0.005, 0.800, 1500.0, 0.800, true};
}

const char* CallSign(TimeStation station)
{
    switch (station) {
    case TimeStation::Wwvh: return "WWVH";
    case TimeStation::Chu: return "CHU";
    case TimeStation::Wwv: break;
    }
    return "WWV";
}

SecondKind KindOfSecond(TimeStation station, int minute, int second)
{
    if (second == 0)
        return minute == 0 ? SecondKind::HourTone : SecondKind::MinuteTone;
    if (second == 29)
        return SecondKind::Omitted;
    if (station != TimeStation::Chu)
        return second == 59 ? SecondKind::Omitted : SecondKind::Tick;
    // CHU: nine silent seconds after the hour's one-second tone.
    if (minute == 0 && second <= 9)
        return SecondKind::Omitted;
    if ((second >= CHU_FIRST_CODE_SECOND && second <= CHU_LAST_CODE_SECOND) || second >= 51)
        return SecondKind::ShortTick;
    return SecondKind::Tick;
}

bool AnnouncementMinute(TimeStation station, int minute)
{
    // WWV: identification at 0 and 30, storm warnings 8..11, GPS 14..15,
    // geophysical alerts 18 and its neighbours; WWVH: identification at 29
    // and 59, GPS 43..44, alerts 45, storm warnings 48..52.
    static constexpr bool WWV[60] = {
        1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1,
        1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    static constexpr bool WWVH[60] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1};
    const int m = ((minute % 60) + 60) % 60;
    switch (station) {
    case TimeStation::Wwv: return WWV[m];
    case TimeStation::Wwvh: return WWVH[m];
    case TimeStation::Chu: break;
    }
    return false;
}

double StandardToneHz(TimeStation station, int minute)
{
    if (station == TimeStation::Chu)
        return 0;
    const TimeStation other = station == TimeStation::Wwv ? TimeStation::Wwvh : TimeStation::Wwv;
    if (AnnouncementMinute(station, minute) || AnnouncementMinute(other, minute))
        return 0;
    const int m = ((minute % 60) + 60) % 60;
    if ((station == TimeStation::Wwv && m == 2) || (station == TimeStation::Wwvh && m == 1))
        return STANDARD_TONES_HZ[2];
    // WWVH: 600 Hz in even minutes; WWV the other way round.
    const bool even = m % 2 == 0;
    const bool sixHundred = station == TimeStation::Wwvh ? even : !even;
    return sixHundred ? STANDARD_TONES_HZ[1] : STANDARD_TONES_HZ[0];
}

VoiceWindow TimeVoiceWindow(TimeStation station)
{
    switch (station) {
    case TimeStation::Wwvh: return {45.0, 52.5};
    case TimeStation::Chu: return {51.0, 60.0};
    case TimeStation::Wwv: break;
    }
    return {52.5, 60.0};
}

bool Dut1MarkedSecond(int dut1Tenths, int second)
{
    if (dut1Tenths > 0)
        return second >= 1 && second <= dut1Tenths && dut1Tenths <= 8;
    if (dut1Tenths < 0)
        return second >= 9 && second < 9 - dut1Tenths && dut1Tenths >= -8;
    return false;
}
