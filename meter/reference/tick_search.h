// Finding a time station's ticks in the first seconds of a stream, before
// anything about the receiver is known: where in the second they are, at
// what pitch, how long, and whose.
//
//   - Where: the short-time energy folded at the one-second period; a tick
//     shows as a sharp rise after a silence at the same place every second
//     (WWV's and WWVH's protected zone, the gap before CHU's pulse), in
//     most of the seconds (a burst train at another rate does not). Up to
//     two trains: WWV and WWVH share frequencies and arrive with different
//     delays.
//   - How long: the folded energy just after the start: CHU's 300 ms
//     pulses go on where WWV's 5 ms ticks have ended in silence; and each
//     second at the pitch, for CHU's pulses among its 10 ms ticks and for
//     pulses longer than CHU's (the time code's, not ticks;
//     tick_each_pulse.h).
//   - Pitch: the spectrum of the first milliseconds after each start,
//     then the phase's drift along the tick (a few hertz).
//   - Whose: by the tones between the ticks (tick_whose.h).
#pragma once

#include "meter/reference/tick_whose.h"

#include <cstddef>
#include <string>
#include <vector>

struct TickTrain {
    double offset = 0;          // its start, samples into the stretch's first second
    double pitchHz = 0;
    bool longPulses = false;    // CHU's 300 ms pulses rather than 5 ms ticks
    // Not ticks: tones that go on (WWV's after its protected zone), or
    // pulses going on past CHU's 300 ms (the time code's on WWV's 100 Hz
    // subcarrier).
    bool continuous = false;
    double seenFraction = 0;    // of the seconds, those with a clear start there
    double level = 0;           // the pulse's amplitude (a sine's)
};

struct TickSearch {
    std::vector<TickTrain> trains;  // of pulses, the clearer first; at most three
    double onsetsPerSecond = 0;     // sharp rises in energy a second, anywhere
    double strongestHz = 0;
    double strongestOverMedianDb = 0;  // how far the strongest frequency stands out
    double seconds = 0;
};

// Looks at samples[0..count) of a stream of `rate` samples a second (the
// whole seconds of it): at least a few seconds for a fold to mean anything.
TickSearch SearchTicks(const float* samples, size_t count, int rate);
