// A phase series made continuous across its steps, for the second
// differences of the Allan deviation: where a new stretch starts (samples
// lost or repeated, a jump: the phase steps by an unknown amount), it
// continues the last stretch's local slope. Missing points are NaN.
#pragma once

#include <cstddef>
#include <vector>

// The series' slope over its last `points` values that are there (0 with
// fewer than two).
double RecentSlope(const std::vector<double>& series, int points);

// What to add to a new stretch's first value `value`, at `index`, so that
// it continues the series' last value along its recent slope (0 for an
// empty series).
double StitchAt(const std::vector<double>& series, size_t index, double value, int slopePoints);
