// How soundclock writes its figures for people: fixed decimals, counts
// with their noun, and a figure with its uncertainty, the uncertainty to
// two significant digits and the figure to the same decimal place (so
// that "+- 0.000031" never reads as "+- 0.0000", nor "+- 0.0800" claims a
// digit it does not have).
#pragma once

#include <cstdint>
#include <string>

// Fixed-point text: Fixed(1.5, 2) is "1.50", with `sign` "+1.50".
std::string Fixed(double value, int decimals, bool sign = false);
// "1 jump", "3 jumps".
std::string Counted(int64_t count, const char* one, const char* many);

// The decimal places that show `uncertainty` to two significant digits:
// 0.000031 -> 6, 0.08 -> 3, 3.3 -> 1, 755 -> 0; at most
// MAX_UNCERTAINTY_DECIMALS.
int UncertaintyDecimals(double uncertainty);
constexpr int MAX_UNCERTAINTY_DECIMALS = 6;
// The uncertainty so: "0.000031", "0.080", "760" (rounded up to the last
// place shown where it would read as zero there: never less than it is).
std::string UncertaintyText(double uncertainty);
// "+1000.000012 ppm +- 0.000031 ppm": the figure (signed) to the
// uncertainty's decimal places, then the uncertainty, each with `unit`.
std::string FigureText(double value, double uncertainty, const std::string& unit);
