#include "meter/receiver_reading.h"

#include "common/rounding.h"
#include "receiver/dsp/readout.h"

#include <cmath>

namespace {

constexpr long double CENTRE_POSITION = 1000;
constexpr long double POSITIONS_PER_UNIT = 500000;
constexpr int32_t LAST_POSITION = 2000;

}  // namespace

ReceiverReading ReadingForOffset(double ppm)
{
    ReceiverReading reading;
    const long double exact = CENTRE_POSITION - static_cast<long double>(ppm) * 1e-6L * POSITIONS_PER_UNIT;
    long long position = std::isfinite(static_cast<double>(exact)) ? RoundHalfEven(exact) : 0;
    reading.withinReach = position >= 0 && position <= LAST_POSITION;
    if (position < 0)
        position = 0;
    if (position > LAST_POSITION)
        position = LAST_POSITION;
    reading.position = static_cast<int32_t>(position);
    reading.clockText = FormatClockText((CENTRE_POSITION - position) / POSITIONS_PER_UNIT);
    return reading;
}
