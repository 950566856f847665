// Whose ticks, by when in the minute the voice speaks: WWVH's announcement
// from 45 s to 52.5 s, WWV's from 52.5 s to the minute (station_format.h).
// Where the standard tones say nothing (the minutes of announcements, in
// which the other station keeps silent), a station heard alone is told by
// this.
//
// The minute's start comes from the minute tone (the meter's marker); the
// power of each second between its ticks goes in. A minute speaks when the
// seconds 46 to 51 and 54 to 58 differ in power by a factor; two stations
// heard together speak in both, and that minute says nothing.
#pragma once

#include <cstdint>

class VoiceTiming {
public:
    // Second `index` (the meter's tick count) is a second 0.
    void MinuteAt(int64_t index);
    // The mean power of second `index` between its ticks.
    void Second(int64_t index, double power);

    int wwvMinutes = 0, wwvhMinutes = 0;  // minutes whose voice said so
    // Two minutes or more, none the other way.
    bool Decided() const;
    bool SaysWwvh() const { return wwvhMinutes > wwvMinutes; }

private:
    void Close();

    bool minuteKnown = false;
    int64_t minuteStart = 0;
    int64_t minute = 0;  // of the sums below
    double early = 0, late = 0;
    int earlyCount = 0, lateCount = 0;
};
