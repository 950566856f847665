// Numbers as the tone meter's words give them.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

// `value` with `decimals` digits after the point.
inline std::string FixedPoint(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A power ratio in dB; -1e9 for none.
inline double PowerDb(double ratio)
{
    return ratio > 0 ? 10 * std::log10(ratio) : -1e9;
}
