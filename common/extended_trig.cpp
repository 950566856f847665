#include "common/extended_trig.h"

#include "common/rounding.h"

#include <cstddef>

namespace {

// pi/2 split in two: kHalfPiHigh holds its first 61 bits, so a multiple by
// a quadrant number up to 7 stays exact in a 64-bit mantissa; kHalfPiLow
// holds the next 64 bits. Together they carry pi/2 to about 125 bits, so
// the reduced angle keeps full extended precision even for phases that are
// the double closest to a multiple of pi/2.
constexpr long double kHalfPiHigh = 0x1.921FB54442D1846p+0L;
constexpr long double kHalfPiLow = 0x1.313198A2E0370734p-61L;
constexpr long double kTwoOverPi = 0x1.45F306DC9C882A54p-1L;

// 1/n! for the Taylor series. Every n! up to 22! is exact in a 64-bit
// mantissa, so each constant is one correctly rounded division, folded by
// the compiler.
constexpr long double InverseFactorial(int n)
{
    long double factorial = 1.0L;
    for (int k = 2; k <= n; ++k)
        factorial *= k;
    return 1.0L / factorial;
}

// Taylor coefficients, highest order first, for Horner's rule in x^2.
// Sine: -1/3!, +1/5!, ... up to +1/21!; the first omitted term is below
// 2e-25 relative to the result on [-pi/4, pi/4].
constexpr long double kSineTerms[] = {
    InverseFactorial(21), -InverseFactorial(19), InverseFactorial(17), -InverseFactorial(15),
    InverseFactorial(13), -InverseFactorial(11), InverseFactorial(9), -InverseFactorial(7),
    InverseFactorial(5), -InverseFactorial(3),
};
// Cosine: -1/2!, +1/4!, ... up to -1/22!; the first omitted term is below
// 5e-24.
constexpr long double kCosineTerms[] = {
    -InverseFactorial(22), InverseFactorial(20), -InverseFactorial(18), InverseFactorial(16),
    -InverseFactorial(14), InverseFactorial(12), -InverseFactorial(10), InverseFactorial(8),
    -InverseFactorial(6), InverseFactorial(4), -InverseFactorial(2),
};

template <std::size_t N>
long double Horner(const long double (&terms)[N], long double z)
{
    long double series = terms[0];
    for (std::size_t n = 1; n < N; ++n)
        series = terms[n] + z * series;
    return series;
}

// Valid on [-pi/4, pi/4]; a little beyond is harmless.
long double SineNearZero(long double x)
{
    const long double z = x * x;
    return x + x * (z * Horner(kSineTerms, z));
}

long double CosineNearZero(long double x)
{
    const long double z = x * x;
    return 1.0L + z * Horner(kCosineTerms, z);
}

}  // namespace

SineCosine ExtendedSineCosine(long double angle)
{
    // Reduce to r = angle - quadrant * pi/2 with |r| <= about pi/4. For a
    // quadrant of 1 or more the first subtraction is exact (the operands
    // are within a factor of two of each other), the second rounds once.
    const long long quadrant = RoundHalfEven(angle * kTwoOverPi);
    const long double q = static_cast<long double>(quadrant);
    const long double r = (angle - q * kHalfPiHigh) - q * kHalfPiLow;
    const long double s = SineNearZero(r);
    const long double c = CosineNearZero(r);
    switch (quadrant & 3) {
    case 0: return {s, c};
    case 1: return {c, -s};
    case 2: return {-s, -c};
    default: return {-c, s};
    }
}
