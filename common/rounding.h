// Floating point to integer conversions of both programs.
//
// Every conversion rounds to the nearest integer and an exact half goes to
// the even neighbour (8000.5 -> 8000, 8001.5 -> 8002, 254.5 -> 254). This is
// the default IEEE rounding mode, which neither program ever changes, so
// llrintl gives it on every compiler and word size; the argument is a long
// double so no value is rounded twice on its way in.
#pragma once

#include <cmath>
#include <cstdint>

inline long long RoundHalfEven(long double value)
{
    return std::llrint(value);
}

// The same rounding, held inside the signed 32-bit range (values beyond it,
// and NaN, would otherwise make the conversion undefined).
inline int32_t RoundHalfEvenToInt32(long double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0L)
        return INT32_MAX;
    if (value <= -2147483648.0L)
        return INT32_MIN;
    return static_cast<int32_t>(std::llrint(value));
}
