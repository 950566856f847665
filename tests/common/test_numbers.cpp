// The arithmetic both programs rely on, checked on the build that runs it:
// the native build and the Windows build must agree bit for bit.
#include "common/rounding.h"

#include <gtest/gtest.h>

#include <cfloat>

TEST(Numbers, LongDoubleIsX87Extended)
{
    // 64-bit mantissa and the FPU really computing at that precision
    // (a runtime that left the x87 unit at 53 bits would fail the sum).
    EXPECT_EQ(LDBL_MANT_DIG, 64);
    volatile long double one = 1.0L;
    volatile long double tiny = 1.0L / 4611686018427387904.0L;  // 2^-62
    EXPECT_NE(one + tiny, one);
}

TEST(Numbers, RoundingHalvesGoToEven)
{
    const struct { long double in; long long out; } cases[] = {
        {8000.5L, 8000}, {8001.5L, 8002}, {254.5L, 254}, {253.5L, 254},
        {-0.5L, 0}, {-1.5L, -2}, {2.4999L, 2}, {-7459.6L, -7460},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfEven(c.in), c.out) << static_cast<double>(c.in);
}

TEST(Numbers, Int32ConversionStaysInRange)
{
    EXPECT_EQ(RoundHalfEvenToInt32(80001500.0L), 80001500);
    EXPECT_EQ(RoundHalfEvenToInt32(1e30L), INT32_MAX);
    EXPECT_EQ(RoundHalfEvenToInt32(-1e30L), INT32_MIN);
    EXPECT_EQ(RoundHalfEvenToInt32(2147483647.5L), INT32_MAX);
    EXPECT_EQ(RoundHalfEvenToInt32(NAN), 0);
}
