#include "soundclock/receiver_reading.h"

#include "common/rounding.h"
#include "common/ui_facts.h"
#include "receiver/dsp/readout.h"

#include <cmath>

namespace {

constexpr long double CENTRE_POSITION = CLOCK_TRACKBAR_CENTRE;
constexpr long double POSITIONS_PER_UNIT = CLOCK_STEPS_PER_UNIT;
constexpr int32_t FIRST_POSITION = CLOCK_TRACKBAR_MINIMUM;
constexpr int32_t LAST_POSITION = CLOCK_TRACKBAR_MAXIMUM;

}  // namespace

ReceiverReading ReadingForOffset(double ppm)
{
    ReceiverReading reading;
    const long double exact = CENTRE_POSITION - static_cast<long double>(ppm) * 1e-6L * POSITIONS_PER_UNIT;
    long long position = std::isfinite(static_cast<double>(exact)) ? RoundHalfEven(exact) : 0;
    reading.withinReach = position >= FIRST_POSITION && position <= LAST_POSITION;
    if (position < FIRST_POSITION)
        position = FIRST_POSITION;
    if (position > LAST_POSITION)
        position = LAST_POSITION;
    reading.position = static_cast<int32_t>(position);
    reading.clockText = FormatClockText((CENTRE_POSITION - position) / POSITIONS_PER_UNIT);
    return reading;
}
