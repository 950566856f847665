// Sine and cosine at extended precision, computed by this program itself.
//
// The carrier's cosine enters every output sample, and the 16-bit samples
// must come out bit for bit the same from every build. The C libraries of
// our toolchains (glibc natively, the MinGW runtime on Windows) may differ in
// the last bit of sin/cos, which can move a sample across a rounding
// boundary. These functions use only +, -, * on `long double` (the x87
// 80-bit format on every compiler we use, one IEEE rounding per operation)
// and constants fixed at compile time, so every build gets the same bits.
// Accuracy: within a few units in the last place of a long double
// (about 1e-19), far finer than the double the C library would return.
#pragma once

struct SineCosine {
    long double sine;
    long double cosine;
};

// Sine and cosine of `angle` in radians. Accurate for |angle| <= 2*pi (the
// carrier phase lives in [0, 2*pi)); larger angles lose accuracy gradually.
SineCosine ExtendedSineCosine(long double angle);
