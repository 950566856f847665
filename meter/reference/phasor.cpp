#include "meter/reference/phasor.h"

#include "common/extended_trig.h"
#include "common/signal_facts.h"

#include <cmath>

std::complex<double> UnitPhasor(long double turns)
{
    // Into [-1/2, 1/2) turn: where ExtendedSineCosine keeps full precision.
    const long double reduced = turns - std::floor(turns + 0.5L);
    const SineCosine sc = ExtendedSineCosine(2 * PI * reduced);
    return {static_cast<double>(sc.cosine), static_cast<double>(sc.sine)};
}

std::vector<std::complex<double>> PhasorSeries(long double start, long double step, size_t count)
{
    // Each rotation may add an ulp or two: 32 of them stay far below what
    // any table here needs.
    constexpr size_t ANCHOR_EVERY = 32;
    std::vector<std::complex<double>> series(count);
    const std::complex<double> rotation = UnitPhasor(step);
    for (size_t n = 0; n < count; ++n) {
        if (n % ANCHOR_EVERY == 0) {
            series[n] = UnitPhasor(start + step * static_cast<long double>(n));
            continue;
        }
        const std::complex<double> p = series[n - 1];
        series[n] = {p.real() * rotation.real() - p.imag() * rotation.imag(),
                     p.real() * rotation.imag() + p.imag() * rotation.real()};
    }
    return series;
}

namespace {

// atan t for 0 <= t <= tan(pi/16): its Taylor series, to t^29 (the first
// term left out is below 1e-21 there).
long double SmallArcTangent(long double t)
{
    constexpr int TERMS = 15;
    const long double t2 = t * t;
    long double series = 0;
    for (int k = TERMS - 1; k >= 0; --k)
        series = 1.0L / (2 * k + 1) - t2 * series;
    return t * series;
}

}  // namespace

double TurnsOf(double re, double im)
{
    const long double x = std::fabs(static_cast<long double>(re)), y = std::fabs(static_cast<long double>(im));
    if (x == 0 && y == 0)
        return 0;
    // The octant's angle from the nearer axis, t = tan of it in [0, 1],
    // halved twice (tan a/2 = t / (1 + sqrt(1 + t^2))) into the series' range.
    const bool steep = y > x;
    long double t = steep ? x / y : y / x;
    for (int halving = 0; halving < 2; ++halving)
        t = t / (1 + std::sqrt(1 + t * t));
    long double turns = 4 * SmallArcTangent(t) / (2 * PI);
    if (steep)
        turns = 0.25L - turns;
    if (re < 0)
        turns = 0.5L - turns;
    if (im < 0)
        turns = -turns;
    const double rounded = static_cast<double>(turns);
    return rounded >= 0.5 ? -0.5 : rounded;
}
