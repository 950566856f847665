// A straight line through measured points that may hold outliers, in
// segments that share one slope and each have their own intercept (a
// segment starts where the data stepped by an amount not known exactly:
// an xrun, a block of samples the stream lost).
//
// The rate fit's (position, system time) stamps and a reference's
// (reference time, position) events both end here: one home for how a
// slope and its uncertainty are had from points whose scatter is partly
// unknown.
//
// Contract:
//   - Points go in as doubles: a pulse's edge keeps its fraction of a
//     sample. The sums are taken about each segment's weighted means, so
//     that values far from zero (an hour at 96 kHz) lose no precision.
//   - `weight` is relative: 1 / the point's variance where the caller
//     knows it, 1 for all where it does not. The fit's own residuals set
//     the scale (a weighted least squares with its variance factor taken
//     from the residuals), so weights that are right only in proportion
//     give an honest uncertainty too.
//   - Robust: points whose weighted residual lies beyond REJECTION_LIMIT
//     robust deviations from the median (the median absolute deviation,
//     scaled to a standard deviation) are left out and the line fitted
//     again, until the set is stable. The caller's `scaleFloor` keeps a
//     clean series (residuals near rounding) from being judged by its
//     rounding.
//   - The slope's standard uncertainty is that of the residuals, widened
//     by sqrt((1 + r) / (1 - r)) for their lag-one correlation r (points
//     that linger together carry less than independent ones), and at least
//     that of a line through the residuals' means over fifths of the run
//     (a wander over seconds that no neighbour sees).
//   - Results are the same bit for bit on every platform and word size for
//     the same points (plain doubles, fixed order of summation).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct LinePoint {
    double x = 0;
    double y = 0;
    double weight = 1;  // relative: 1 / the point's variance, or 1 for all
    int segment = 0;    // numbered from 0; every point of a segment shares its intercept
};

// Which coordinate is the run's own clock: the blocks of equal length that
// show a slow wander are taken on it, and the run's span.
enum class RunAxis { X, Y };

struct RobustLineSettings {
    // The smallest robust deviation to judge weighted residuals by (in y
    // for a point of weight 1): below it the spread is rounding.
    double scaleFloor = 0;
    RunAxis runAxis = RunAxis::X;
};

struct RobustLine {
    bool valid = false;           // one degree of freedom or more and a spread in x
    double slope = 0;             // y per x
    double slopeUncertainty = 0;  // standard, y per x
    double deviation = 0;         // a point of weight 1 about the line: sqrt(sum w r^2 / freedom)
    double correlation = 0;       // the weighted residuals' lag-one correlation, within segments
    double runFirst = 0;          // the run axis at the first point used and the last
    double runLast = 0;
    double sumXX = 0;             // the weighted co-moment of x about each segment's mean
    int64_t used = 0;
    int segments = 0;             // with points used
    std::vector<double> meanX;    // each segment's weighted means over the points used
    std::vector<double> meanY;
    std::vector<double> residuals;  // y less the line, for every point
    std::vector<char> kept;         // which points are in the line

    int64_t Freedom() const { return used - segments - 1; }
    // The line's value at x in `segment`.
    double Predict(double x, int segment) const { return meanY[segment] + slope * (x - meanX[segment]); }
};

// The robust line through `points`, in their order (the neighbours whose
// correlation is judged are those next to each other in a segment). Only
// the points `allowed` marks may be used (empty: all); of those, the ones
// beyond the robust limit are left out.
RobustLine FitRobustLine(const std::vector<LinePoint>& points, const RobustLineSettings& settings,
                         std::vector<char> allowed = {});

// The middle value (of an even count, the upper of the two); 0 of none.
double Median(std::vector<double> values);

// Gaussian values' median absolute deviation times this is their standard
// deviation: a scale that a few values far off do not move.
constexpr double MAD_TO_DEVIATION = 1.4826;
