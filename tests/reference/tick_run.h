// Runs the tick meter over a test signal, as the tests and the accuracy
// matrix do: the signal made in blocks of a tenth of a second and pushed
// as a stream would deliver it.
#pragma once

#include "meter/reference/tick_meter.h"
#include "tests/reference/station_signal.h"

#include <vector>

struct TickRun {
    ReferenceEstimate estimate;
    ReferenceHeard heard;
    TickReception reception;
    std::vector<ReferenceEvent> events;
    double errorPpm = 0;  // estimate less the truth
};

// `breakAtSecond` >= 0: the meter is told of a discontinuity there (the
// signal itself carries whatever fault the reception says).
TickRun RunTicks(const Reception& reception, TimeStation asked, double seconds, double breakAtSecond = -1,
                 const TickMeterSettings* settings = nullptr);
