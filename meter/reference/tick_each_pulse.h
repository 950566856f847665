// Each second of a search's stretch at a train's pitch: whether a pulse
// starts there, and whether it ends as a tick does, goes on like CHU's
// 300 ms pulse, or goes on past it (the time code's). The fold sees the
// pulses' length on average; this sees it second by second, where one
// minute tone among few seconds moves the fold's and CHU's pulses among
// its 10 ms ticks (seconds 31-39, 51-59) hide in it.
//
// What goes in: the stretch's whole seconds (samples[0..seconds*rate)),
// the train's start (`offset`, samples into each second) and its pitch.
// Seconds too near the stretch's ends for the quiet before the start or
// the look past CHU's pulse are not looked at. What comes out: the counts,
// and the verdicts drawn from them. Keeps nothing.
// Why the numbers: docs/accuracy.md#ticks-identity
#pragma once

#include <cstddef>

struct EachPulse {
    int looked = 0;  // seconds looked at
    int pulses = 0;  // of them, with a pulse at the pitch
    int end = 0;     // of these, ending as a tick does
    int goOn = 0;    // going on past a tick
    int goPast = 0;  // and past CHU's pulse

    // CHU's pulses: going on in more seconds than WWV's and WWVH's minute
    // tone does in a stretch.
    bool LongPulses() const;
    // Going on past CHU's pulses in more seconds than CHU's own do: the
    // time code's, not ticks.
    bool PastChuPulses() const;
    // Pulses that neither end as ticks nor go on, in most seconds: what
    // starts after WWV's protected zone (a voice), not ticks.
    bool NeitherEndNorGoOn() const;
};

EachPulse LookAtEachPulse(const float* samples, size_t seconds, int rate, long offset, double pitchHz);
