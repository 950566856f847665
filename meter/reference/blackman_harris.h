// The four-term Blackman-Harris window (Harris, 1978): sidelobes 92 dB
// down, a main lobe 4 bins to either side, an equivalent noise bandwidth of
// 2.0 bins. The tone meter weights its spectrum and its blocks with it: a
// hum line or another tone beyond the main lobe adds nothing measurable to
// the tone's phase.
//
// Periodic form, w[n] = a0 - a1 cos(2 pi n/L) + a2 cos(4 pi n/L) - a3 cos(6 pi n/L),
// n = 0 .. L-1: symmetric about n = L/2, and copies of it a quarter of its
// length apart sum to exactly 4 a0 (the three cosines cancel), so blocks
// that overlap by three quarters weight every sample alike.
#pragma once

#include <cstddef>
#include <vector>

// The window's values for a length of `length` samples.
std::vector<double> BlackmanHarris(size_t length);

// The half-width of the main lobe in bins (of 1/L cycles a sample).
constexpr double BLACKMAN_HARRIS_LOBE_BINS = 4;
