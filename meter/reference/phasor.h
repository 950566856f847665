// Phasors of phases given in turns (cycles), and the turns of a phasor,
// with the same bits on every build: only +, -, *, / and the square root
// on long double (the x87 80-bit format on every compiler we use, each
// operation rounded once), by way of ExtendedSineCosine, never the C
// library's trigonometry (whose last bit differs between glibc and the
// MinGW runtimes, 32- and 64-bit). The tone meter's tables and each
// block's phase come from here, so that its figure is the same to the last
// bit on the native, 32-bit and 64-bit Windows builds.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

// exp(2 pi i turns), for a phase of any size (the whole turns are taken
// off at extended precision first).
std::complex<double> UnitPhasor(long double turns);

// exp(2 pi i (start + step n)) for n = 0 .. count-1: each a rotation of the
// one before, anchored afresh by UnitPhasor every few dozen (an error of a
// few parts in 1e15 at most), for tables too long to take each sine at
// extended precision.
std::vector<std::complex<double>> PhasorSeries(long double start, long double step, size_t count);

// The angle of (re, im) in turns, in [-1/2, 1/2): atan2(im, re) / 2 pi,
// to within a unit in the last place of a double. 0 for (0, 0).
double TurnsOf(double re, double im);
