#include "meter/calibration.h"

#include <cmath>

Calibration Combine(const ClockFigure& receive, const LoopFigure& loop)
{
    Calibration c;
    c.receive = receive;
    c.loop = loop;
    if (!receive.valid || !loop.valid || loop.playRate <= 0 || loop.recordRate <= 0)
        return c;
    const double ratio = loop.recordRate / loop.playRate;
    const double r = receive.ppm * 1e-6, L = loop.ppm * 1e-6;
    const double ur = receive.uncertaintyPpm * 1e-6, uL = loop.uncertaintyPpm * 1e-6;
    c.valid = true;
    c.transmit.valid = true;
    c.transmit.nominalRate = loop.playRate;
    c.transmit.ppm = (ratio * (1 + r) / (1 + L) - 1) * 1e6;
    // dt/dr = ratio / (1 + L), dt/dL = -ratio (1 + r) / (1 + L)^2
    c.transmit.uncertaintyPpm = ratio * std::hypot(ur / (1 + L), (1 + r) * uL / ((1 + L) * (1 + L))) * 1e6;
    c.loopExcessPpm = ((1 + L) / ratio - 1) * 1e6;
    c.loopPlausible = std::fabs(c.loopExcessPpm) <= LOOP_EXCESS_LIMIT_PPM;
    return c;
}

bool AgreesWithin3(const ClockFigure& figure, const ClockFigure& other)
{
    return std::fabs(figure.ppm - other.ppm) <= 3 * std::hypot(figure.uncertaintyPpm, other.uncertaintyPpm);
}
