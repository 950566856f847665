#include "receiver/dsp/oscillator.h"

#include "common/phase.h"
#include "common/signal_facts.h"
#include "receiver/dsp/receiver_arithmetic.h"

namespace {

// 2*pi to full extended precision.
constexpr long double TWO_PI = 2 * PI;

}  // namespace

float AdvanceOscillatorPhase(float phase, float step)
{
    float next = StoreFloat(static_cast<long double>(phase) + step);
    if (next >= TWO_PI)
        next = StoreFloat(next - TWO_PI);
    if (next >= TWO_PI || next < 0)
        next = WrapIntoTurn<float>(next, TWO_PI, StoreFloat);
    return next;
}
