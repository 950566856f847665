// The mixing oscillator: its phase step by step, and the cosine and sine of
// that phase at extended precision.
//
// The C libraries of our toolchains (glibc natively, the MinGW runtime on
// Windows) may differ in the last bit of cosl/sinl, which would change the
// mixed samples from one build to the other. These use only +, -, *, / on
// `long double` (one exactly rounded x87 operation each), so every build
// gets the same bits. Error: about 1e-19, far below the 32-bit floats they
// feed.
#pragma once

struct CosSin {
    long double cos;
    long double sin;
};

// Meant for phases in [0, 2*pi), which is all the oscillator produces; the
// error grows slowly with |phase| beyond that.
CosSin ExtendedCosSin(long double phase);

// The phase after one more step of `step` radians, stored as a float and
// kept in [0, 2*pi) for a step of any size or sign. For a step from 0 up
// to below 2*pi (a carrier from 0 up to the sample rate) this is exactly
// the sum rounded to a float minus 2*pi once when it has reached 2*pi:
// both summands are below 2*pi, so one subtraction always suffices, and
// the full wrap only serves negative carriers and those at or above the
// sample rate.
float AdvanceOscillatorPhase(float phase, float step);
