#include "meter/line_fit.h"

#include <cmath>

void SegmentedLineFit::Add(long double x, long double y, long double weight)
{
    if (segmentCount == 0 && segments == 0)
        segments = 1;
    ++count;
    ++segmentCount;
    weightSum += weight;
    const long double dx = x - meanX;
    const long double dy = y - meanY;
    meanX += dx * weight / weightSum;
    meanY += dy * weight / weightSum;
    xx += weight * dx * (x - meanX);
    xy += weight * dx * (y - meanY);
    yy += weight * dy * (y - meanY);
}

void SegmentedLineFit::StartSegment()
{
    if (segmentCount == 0)
        return;
    pooledXX += xx;
    pooledXY += xy;
    pooledYY += yy;
    // The means stay as they are: until the new segment has a point, it is
    // predicted by the old one's line (its first point replaces them).
    segmentCount = 0;
    weightSum = xx = xy = yy = 0;
    ++segments;
}

long double SegmentedLineFit::Slope() const
{
    return SumXX() > 0 ? SumXY() / SumXX() : 0;
}

long double SegmentedLineFit::Predict(long double x) const
{
    return meanY + Slope() * (x - meanX);
}

long double SegmentedLineFit::ResidualDeviation() const
{
    const int64_t freedom = Freedom();
    if (freedom < 1 || SumXX() <= 0)
        return 0;
    long double squares = SumYY() - SumXY() * SumXY() / SumXX();
    if (squares < 0)
        squares = 0;
    return std::sqrt(squares / freedom);
}

long double SegmentedLineFit::SlopeUncertainty() const
{
    if (SumXX() <= 0)
        return 0;
    return ResidualDeviation() / std::sqrt(SumXX());
}
