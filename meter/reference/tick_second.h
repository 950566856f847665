// What one second of a time station's broadcast is, once the tick meter
// has looked for its tick: a tick; a marker (WWV's and WWVH's minute tone
// or hour tone, CHU's 10 ms ticks before its time code and voice, CHU's
// minute pulse); nothing; and a second tick in it (DUT1's doubled ticks).
// Only ticks go into the line; a marker still says the minute (the
// voice's clock, tick_voice.h), and a second going on like the minute
// tone, steadily and strongly, is counted towards CHU's pulses
// (tick_identity.h).
//
// What goes in: the second's stretch (from 60 ms before the tick's start
// to 960 ms after it) as samples and as its envelope at the ticks' pitch
// (tick_envelope.h), where the tick starts in it, whether one was found
// and its level, and what the meter knows of the reception. What comes
// out: the second's shape. Keeps nothing: the recent ticks' level is the
// caller's (it is updated with each tick found before its second is
// classified).
#pragma once

#include "meter/reference/reference_kind.h"
#include "meter/reference/tick_envelope.h"

#include <cstddef>

// A tick, or a doubled one: an edge this many times the envelope's median
// level. Rayleigh noise passes 5 times its median (5.9 deviations) once in
// 3e7 looks: once in about two days of seconds searched 12 ms either side.
constexpr double TICK_DETECTION_RATIO = 5.0;

enum class SecondClass { Tick, Marker, Missed };

// What the meter knows when it classifies a second.
struct SecondContext {
    TimeStation station = TimeStation::Wwv;
    int rate = 8000;             // of the samples looked at
    size_t edgeSamples = 0;      // the window a tick is found with
    double pitchHz = 0;          // the ticks'
    bool lowerSideband = false;  // as the tones decided it
    double otherDelay = -1e9;    // the other station's start after this one's, samples (-1e9: none)
    double tickLevel = 0;        // the recent ticks' level (0: none yet)
    double noise = 0;            // the envelope's noise level
};

struct SecondShape {
    SecondClass kind = SecondClass::Missed;
    bool minute = false;         // a minute or hour tone: the minute's start
    bool steadyPulse = false;    // went on like a minute tone, steadily and strongly
    bool hasExtra = false;       // a second tick in the second
    size_t extraAt = 0;          // its start, samples into the stretch
};

// Second whose stretch is span[0..envelope.Size()), its tick (`found`:
// Tick, or Missed where none was found) starting `startAt` samples into it
// at `level`.
SecondShape ClassifySecond(const PitchEnvelope& envelope, const float* span, double startAt, SecondClass found, double level,
                           const SecondContext& context);
