// The clock stamps as the rate's fit takes them: seconds on both axes from
// the first stamp, and segments, each with its own intercept, started by
// the backend's xruns, by a position that goes back, and by gaps in the
// stream that nobody reported.
#pragma once

#include "meter/rate_fit.h"

#include <cstddef>
#include <vector>

// The series relative to its first stamp, in seconds on both axes, with
// segments numbered densely from 0.
struct RateSeries {
    std::vector<double> streamSeconds;
    std::vector<double> systemSeconds;
    std::vector<int> segment;
    int segments = 0;
    int silentGaps = 0;  // segments started where no xrun was reported
};

RateSeries PrepareRateSeries(const RatePoint* points, size_t count, double nominalRate);

// The middle value (of an even count, the upper of the two).
double Median(std::vector<double> values);
