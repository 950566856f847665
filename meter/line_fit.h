// A weighted least-squares straight line y = a + b x, updated one point at
// a time (nothing is kept per point), in segments that share the slope but
// each have their own intercept: a segment starts where the data jumped by
// an amount that is not known exactly.
//
// The sums are co-moments about running means (West's weighted form of
// Welford's update), so that a line through values far from zero loses no
// precision.
#pragma once

#include <cstdint>

class SegmentedLineFit {
public:
    void Add(long double x, long double y, long double weight = 1);
    // The points from now on get an intercept of their own.
    void StartSegment();

    int64_t Count() const { return count; }
    int Segments() const { return segments; }
    bool HasSlope() const { return count - segments >= 1 && (pooledXX + xx) > 0; }
    long double Slope() const;
    // The line's value at x, with the current segment's intercept.
    long double Predict(long double x) const;
    // The standard deviation of a point of weight 1 about the line, from the
    // residuals (0 with too few points).
    long double ResidualDeviation() const;
    // The slope's standard uncertainty from the residuals.
    long double SlopeUncertainty() const;
    // The weighted co-moment of x about each segment's mean: the slope's
    // uncertainty is a point's deviation over its square root.
    long double SumXX() const { return pooledXX + xx; }
    // The residuals' degrees of freedom: points less intercepts, less the slope.
    int64_t Freedom() const { return count - segments - 1; }

private:
    long double SumXY() const { return pooledXY + xy; }
    long double SumYY() const { return pooledYY + yy; }

    int64_t count = 0;
    int segments = 0;
    // the current segment
    int64_t segmentCount = 0;
    long double weightSum = 0, meanX = 0, meanY = 0, xx = 0, xy = 0, yy = 0;
    // the segments before it
    long double pooledXX = 0, pooledXY = 0, pooledYY = 0;
};
