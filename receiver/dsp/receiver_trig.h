// Cosine and sine of the mixing oscillator's phase, at extended precision.
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
