// The texts of `soundclock rate` and of the loop's per-card rates: the
// figure for people, as JSON, and the system clock's state beside it,
// which every rate carries (the rate is only as good as that clock).
#pragma once

#include "soundclock/json_writer.h"

#include "audio/system_clock.h"
#include "meter/rate_fit.h"

#include <string>

struct RateReport {
    RateEstimate estimate;
    double nominalRate = 0;
    std::string direction;  // "capture" or "playback"
    std::string device;
    int64_t xruns = 0;
    SystemClockState clock;
    bool haveExpect = false;
    double expect = 0, tolerance = 0;
};

bool WithinExpectation(const RateReport& report);

// "+0.0312 ppm +- 0.0400 ppm (8000.00025 Hz)": the figure alone.
std::string RateFigureText(const RateEstimate& estimate);
// The once-a-second line while it runs.
std::string RateLiveText(double secondsRun, const RateEstimate& estimate);
// The result: one line.
std::string RateResultLine(const RateReport& report);
// The same as one JSON object (measure's names where they mean the same).
JsonObject RateJson(const RateReport& report);

// "system clock: synchronised (...), frequency correction ..., estimated error ..."
std::string SystemClockLine(const SystemClockState& clock);
// What a user must know when the clock is not known to be in step; empty
// when it is.
std::string SystemClockWarning(const SystemClockState& clock);
JsonObject SystemClockJson(const SystemClockState& clock);
