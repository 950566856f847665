#include "receiver/dsp/oscillator.h"

#include "common/rounding.h"
#include "receiver/dsp/receiver_arithmetic.h"

#include <cmath>

namespace {

// pi/2 to full extended precision. Reducing a phase below 2*pi by up to
// four quarter turns with it costs at most about 1e-19 rad, which no 32-bit
// float result can show.
constexpr long double HALF_PI = 1.57079632679489661923132169163975144L;
constexpr long double TWO_PI = 4 * HALF_PI;

// Taylor series on |x| <= pi/4, nested so that every coefficient is an
// exact small integer division: the first omitted term is below 1e-24.
//   sin x = x (1 - x^2/(2*3) (1 - x^2/(4*5) (1 - ... (1 - x^2/(22*23)))))
//   cos x =    1 - x^2/(1*2) (1 - x^2/(3*4) (1 - ... (1 - x^2/(21*22))))
constexpr int SERIES_TERMS = 11;

long double SineNearZero(long double x)
{
    const long double square = x * x;
    long double series = 1.0L;
    for (int n = SERIES_TERMS; n >= 1; --n)
        series = 1.0L - square / static_cast<long double>((2 * n) * (2 * n + 1)) * series;
    return x * series;
}

long double CosineNearZero(long double x)
{
    const long double square = x * x;
    long double series = 1.0L;
    for (int n = SERIES_TERMS; n >= 1; --n)
        series = 1.0L - square / static_cast<long double>((2 * n - 1) * (2 * n)) * series;
    return series;
}

// A phase of any size brought into [0, 2*pi). fmodl is exact, so every
// build gets the same bits.
float WrapIntoTurn(float phase)
{
    long double turn = std::fmod(static_cast<long double>(phase), TWO_PI);
    if (turn < 0)
        turn += TWO_PI;
    const float wrapped = StoreFloat(turn);
    // Just below a full turn the float can round up to 2*pi: that is 0.
    return wrapped >= TWO_PI ? 0.0f : wrapped;
}

}  // namespace

float AdvanceOscillatorPhase(float phase, float step)
{
    float next = StoreFloat(static_cast<long double>(phase) + step);
    if (next >= TWO_PI)
        next = StoreFloat(next - TWO_PI);
    if (next >= TWO_PI || next < 0)
        next = WrapIntoTurn(next);
    return next;
}

CosSin ExtendedCosSin(long double phase)
{
    const long long quarterTurns = RoundHalfEven(phase / HALF_PI);
    const long double turns = static_cast<long double>(quarterTurns);
    const long double x = phase - turns * HALF_PI;
    const long double c = CosineNearZero(x);
    const long double s = SineNearZero(x);
    switch (quarterTurns & 3) {
    case 0: return {c, s};
    case 1: return {-s, c};
    case 2: return {-c, -s};
    default: return {s, -c};
    }
}
