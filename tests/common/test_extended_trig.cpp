// ExtendedSineCosine against the C library and against itself.
#include "common/extended_trig.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kPi = 0x1.921fb54442d18p+1;

TEST(ExtendedSineCosine, AgreesWithTheLibraryOverTheCarrierRange)
{
    // The library's double results are within an ulp (2.2e-16 near 1);
    // a wrong coefficient, sign or quadrant would be off by far more.
    for (int n = 0; n <= 20000; ++n) {
        const double x = -2 * kPi + 4 * kPi * n / 20000;
        const SineCosine sc = ExtendedSineCosine(x);
        ASSERT_NEAR(static_cast<double>(sc.sine), std::sin(x), 3e-16) << x;
        ASSERT_NEAR(static_cast<double>(sc.cosine), std::cos(x), 3e-16) << x;
        ASSERT_NEAR(static_cast<double>(sc.sine * sc.sine + sc.cosine * sc.cosine), 1.0, 3e-19) << x;
    }
}

TEST(ExtendedSineCosine, ExactAndNearZeroValues)
{
    const SineCosine atZero = ExtendedSineCosine(0);
    EXPECT_EQ(atZero.sine, 0.0L);
    EXPECT_EQ(atZero.cosine, 1.0L);
    // Near the zeros of sine and cosine the reduction keeps full relative
    // precision: the double nearest pi differs from pi by 1.2246467991473532e-16.
    const struct { double x; long double expected; bool sine; } cases[] = {
        {kPi, 1.2246467991473531772e-16L, true},
        {kPi / 2, 6.1232339957367658861e-17L, false},
        {3 * kPi / 2, -1.8369701987210297658e-16L, false},
        {2 * kPi, -2.4492935982947063545e-16L, true},
        {1e-10, 1e-10L, true},
    };
    for (const auto& c : cases) {
        const SineCosine sc = ExtendedSineCosine(c.x);
        const long double got = c.sine ? sc.sine : sc.cosine;
        EXPECT_NEAR(static_cast<double>(got / c.expected), 1.0, 1e-15) << c.x;
    }
}

}  // namespace
