// The mixing oscillator's phase, step by step. Its cosine and sine come
// from ExtendedSineCosine (common/extended_trig.h), which gives the same
// bits on every build, unlike the C libraries' cosl/sinl.
#pragma once

#include "common/extended_trig.h"

// The phase after one more step of `step` radians, stored as a float and
// kept in [0, 2*pi) for a step of any size or sign. For a step from 0 up
// to below 2*pi (a carrier from 0 up to the sample rate) this is exactly
// the sum rounded to a float minus 2*pi once when it has reached 2*pi:
// both summands are below 2*pi, so one subtraction always suffices, and
// the full wrap only serves negative carriers and those at or above the
// sample rate.
float AdvanceOscillatorPhase(float phase, float step);
