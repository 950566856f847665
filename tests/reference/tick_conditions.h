// The conditions the tick meter is tested and measured under, one home
// for the unit tests and the accuracy matrix.
#pragma once

#include "tests/reference/station_signal.h"

enum class TickCondition {
    Clean,   // upper sideband, 420 Hz pitch offset, nothing else
    Noise,   // and noise at 10 dB SNR
    Fading,  // and Rayleigh fading (3 s) and a second path 1 ms later, half as strong
    Hard,    // and the delay wandering (50 us RMS, 20 min) and jumping 0.3 ms at 40 % of the run
};

const char* ConditionName(TickCondition condition);
const char* CallSignOf(TimeStation station);

// A reception of `station` under `condition` for a run of `seconds`: the
// card 12.345 ppm fast (the truth), starting 3.37 s into minute 7.
Reception MakeReception(TimeStation station, TickCondition condition, uint64_t seed, double seconds);
