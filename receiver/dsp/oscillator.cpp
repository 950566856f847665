#include "receiver/dsp/oscillator.h"

#include "common/rounding.h"
#include "receiver/dsp/receiver_arithmetic.h"

#include <cmath>

namespace {

// 2*pi to full extended precision (four times pi/2: exact).
constexpr long double TWO_PI = 4 * 1.57079632679489661923132169163975144L;

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
