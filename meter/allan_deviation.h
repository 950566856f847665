// Frequency stability from phase data, in the terms of NIST SP 1065: phase
// x_i (the time error between two clocks) sampled every tau0, the
// overlapping Allan deviation and the modified Allan deviation at
// averaging times m tau0, each with the number of terms behind it.
//
// The phase and tau0 may be in any one unit of time (seconds, or samples
// of a clock): the deviations are of the dimensionless fractional
// frequency. A missing point is NaN; a term that would need it is left
// out, so a gap costs terms, not accuracy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct AllanResult {
    double deviation = 0;  // NaN without terms
    int64_t terms = 0;
};

// The Allan deviation at m tau0 from second differences taken every
// `stride` points: 1 is the overlapping estimator, m the original one.
AllanResult AllanDeviation(const std::vector<double>& phase, size_t m, size_t stride, double tau0);
AllanResult ModifiedAllanDeviation(const std::vector<double>& phase, size_t m, double tau0);

// The averaging factors for tau = 1, 2, 5, 10, 20, 50, ... `unitSeconds`
// (rounded to whole multiples of tau0, seconds), up to a quarter of a
// series of `count` points.
std::vector<size_t> DecadeAveragingFactors(double tau0Seconds, size_t count, double unitSeconds = 1);

struct StabilityPoint {
    double tauSeconds = 0;
    AllanResult adev;  // overlapping
    AllanResult mdev;
};

std::vector<StabilityPoint> StabilityTable(const std::vector<double>& phase, double tau0, double tau0Seconds);
