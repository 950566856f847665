// The arithmetic of the receiver's signal path, in one place.
//
// The receiver keeps signals, taps and sums in 32-bit floats and rounds
// every partial sum to a 32-bit float before the next term is added, while
// products and other intermediate values are formed at extended precision.
// How that is obtained, identically on every build:
//  - every operand is converted to `long double` (the x87 80-bit format,
//    64-bit mantissa, on host g++ x86_64 and MinGW i686/x86_64) and the
//    operation runs in long double: a product of two floats is exact there;
//  - the result goes through StoreFloat, which writes it to a volatile
//    32-bit float. The volatile store makes the rounding certain: the
//    32-bit build computes on the x87 stack, and GCC 12 may skip the
//    rounding a plain cast or assignment asks for in C++ (excess precision);
//  - the build uses -ffp-contract=off, so no multiply-add is fused.
// The only library function used is sqrtl, which is exactly rounded (x87
// fsqrt) everywhere; sine and cosine are our own (common/extended_trig.h).
#pragma once

// Rounds an extended-precision value to the nearest 32-bit float (ties to
// even), for certain.
inline float StoreFloat(long double value)
{
    volatile float stored = static_cast<float>(value);
    return stored;
}

// One step of a running 32-bit float sum: sum + a * b, the product and the
// sum formed at extended precision, the result rounded to a float.
inline float AddProduct(float sum, float a, float b)
{
    return StoreFloat(static_cast<long double>(sum)
                      + static_cast<long double>(a) * static_cast<long double>(b));
}
