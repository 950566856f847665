#include "meter/robust_line.h"

#include <algorithm>
#include <cmath>

namespace {

// Weighted residuals beyond this many robust deviations from the median are
// left out: Gaussian scatter loses 1 point in 16000 to it, a stall or a
// misplaced edge of 25 times the scatter every point it moves by more.
constexpr double REJECTION_LIMIT = 4.0;
constexpr int MAX_ITERATIONS = 30;
// A correlation near 1 would claim infinite widening from a few points.
constexpr double CORRELATION_CAP = 0.999;
// The residuals' block means, this many over the run (few: a wander over
// tens of seconds must still leave several points in each block), show a
// wander too slow for the lag-one correlation to see.
constexpr int UNCERTAINTY_BLOCKS = 5;

double RunOf(const LinePoint& point, RunAxis axis)
{
    return axis == RunAxis::X ? point.x : point.y;
}

int SegmentCount(const std::vector<LinePoint>& points)
{
    int count = 0;
    for (const LinePoint& point : points)
        count = std::max(count, point.segment + 1);
    return count;
}

// Weighted least squares over the kept points: one slope, one intercept per
// segment. Leaves the residuals of every point in `line`.
void FitKept(const std::vector<LinePoint>& points, RobustLine& line)
{
    const int segments = SegmentCount(points);
    std::vector<double> sumX(segments, 0), sumY(segments, 0), sumW(segments, 0);
    for (size_t i = 0; i < points.size(); ++i)
        if (line.kept[i]) {
            const LinePoint& p = points[i];
            sumX[p.segment] += p.weight * p.x;
            sumY[p.segment] += p.weight * p.y;
            sumW[p.segment] += p.weight;
        }
    line.meanX.assign(segments, 0);
    line.meanY.assign(segments, 0);
    line.used = 0;
    line.segments = 0;
    for (int s = 0; s < segments; ++s)
        if (sumW[s] > 0) {
            line.meanX[s] = sumX[s] / sumW[s];
            line.meanY[s] = sumY[s] / sumW[s];
            ++line.segments;
        }
    double sumXY = 0;
    line.sumXX = 0;
    for (size_t i = 0; i < points.size(); ++i)
        if (line.kept[i]) {
            const LinePoint& p = points[i];
            const double dx = p.x - line.meanX[p.segment];
            line.sumXX += p.weight * dx * dx;
            sumXY += p.weight * dx * (p.y - line.meanY[p.segment]);
            ++line.used;
        }
    line.slope = line.sumXX > 0 ? sumXY / line.sumXX : 0;
    line.residuals.resize(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        line.residuals[i] = points[i].y - line.Predict(points[i].x, points[i].segment);
}

// The residual in units of a point of weight 1.
std::vector<double> Weighted(const std::vector<LinePoint>& points, const std::vector<double>& residuals)
{
    std::vector<double> weighted(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        weighted[i] = residuals[i] * std::sqrt(points[i].weight);
    return weighted;
}

// Which points lie within the robust limit, judged by the kept ones.
std::vector<char> WithinLimit(const std::vector<double>& weighted, const std::vector<char>& kept, double scaleFloor)
{
    std::vector<double> values;
    for (size_t i = 0; i < weighted.size(); ++i)
        if (kept[i])
            values.push_back(weighted[i]);
    const double median = Median(values);
    for (double& value : values)
        value = std::fabs(value - median);
    const double scale = std::max(MAD_TO_DEVIATION * Median(values), scaleFloor);
    std::vector<char> within(weighted.size());
    for (size_t i = 0; i < weighted.size(); ++i)
        within[i] = std::fabs(weighted[i] - median) <= REJECTION_LIMIT * scale;
    return within;
}

// Lag-one correlation of the kept weighted residuals, over neighbours in
// the same segment.
double NeighbourCorrelation(const std::vector<double>& weighted, const std::vector<char>& kept,
                            const std::vector<LinePoint>& points)
{
    double lagged = 0, squares = 0;
    size_t previous = SIZE_MAX;
    for (size_t i = 0; i < weighted.size(); ++i) {
        if (!kept[i])
            continue;
        squares += weighted[i] * weighted[i];
        if (previous != SIZE_MAX && points[previous].segment == points[i].segment)
            lagged += weighted[i] * weighted[previous];
        previous = i;
    }
    return squares > 0 ? lagged / squares : 0;
}

// How much a lag-one correlation r widens a slope's uncertainty over that
// of independent residuals.
double Widening(double correlation)
{
    const double r = std::min(correlation, CORRELATION_CAP);
    return r > 0 ? std::sqrt((1 + r) / (1 - r)) : 1.0;
}

// The slope's uncertainty from a line through the residuals' means over
// blocks of equal length of the run: a wander over seconds averages out
// over a block no more than over its points, and shows here. 0 with too
// few blocks.
double BlockUncertainty(const std::vector<LinePoint>& points, const RobustLine& line, RunAxis axis)
{
    const double blockLength = (line.runLast - line.runFirst) / UNCERTAINTY_BLOCKS;
    struct Block {
        double sumX = 0, sumR = 0, sumW = 0;
        int segment = 0;
        double MeanX() const { return sumX / sumW; }
        double MeanR() const { return sumR / sumW; }
    };
    std::vector<Block> blocks;
    double blockEnd = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        if (!line.kept[i])
            continue;
        const LinePoint& p = points[i];
        if (blocks.empty() || p.segment != blocks.back().segment || RunOf(p, axis) >= blockEnd) {
            blocks.push_back({0, 0, 0, p.segment});
            blockEnd = RunOf(p, axis) + blockLength;
        }
        blocks.back().sumX += p.weight * p.x;
        blocks.back().sumR += p.weight * line.residuals[i];
        blocks.back().sumW += p.weight;
    }
    const int segments = SegmentCount(points);
    std::vector<double> segmentSum(segments, 0);
    std::vector<int> segmentBlocks(segments, 0);
    for (const Block& block : blocks) {
        segmentSum[block.segment] += block.MeanX();
        ++segmentBlocks[block.segment];
    }
    int segmentsUsed = 0;
    for (int count : segmentBlocks)
        segmentsUsed += count > 0;
    const int64_t freedom = static_cast<int64_t>(blocks.size()) - segmentsUsed - 1;
    if (freedom < 2)
        return 0;
    double spread = 0, squares = 0, lagged = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        const Block& block = blocks[b];
        const double r = block.MeanR();
        const double dx = block.MeanX() - segmentSum[block.segment] / segmentBlocks[block.segment];
        spread += dx * dx;
        squares += r * r;
        if (b > 0 && blocks[b - 1].segment == block.segment)
            lagged += r * blocks[b - 1].MeanR();
    }
    if (spread <= 0 || squares <= 0)
        return 0;
    return Widening(lagged / squares) * std::sqrt(squares / static_cast<double>(freedom) / spread);
}

// The uncertainty and the run's extent, once the kept set is stable.
void Judge(const std::vector<LinePoint>& points, const std::vector<double>& weighted, RunAxis axis, RobustLine& line)
{
    double squares = 0;
    bool seen = false;
    for (size_t i = 0; i < points.size(); ++i)
        if (line.kept[i]) {
            squares += points[i].weight * line.residuals[i] * line.residuals[i];
            if (!seen)
                line.runFirst = RunOf(points[i], axis);
            line.runLast = RunOf(points[i], axis);
            seen = true;
        }
    line.deviation = std::sqrt(squares / static_cast<double>(line.Freedom()));
    line.correlation = NeighbourCorrelation(weighted, line.kept, points);
    line.slopeUncertainty = std::max(Widening(line.correlation) * line.deviation / std::sqrt(line.sumXX),
                                     BlockUncertainty(points, line, axis));
    line.valid = true;
}

}  // namespace

RobustLine FitRobustLine(const std::vector<LinePoint>& points, const RobustLineSettings& settings,
                         std::vector<char> allowed)
{
    RobustLine line;
    line.kept = allowed.empty() ? std::vector<char>(points.size(), 1) : std::move(allowed);
    line.kept.resize(points.size(), 0);
    FitKept(points, line);
    std::vector<double> weighted = Weighted(points, line.residuals);
    for (int iteration = 0; iteration < MAX_ITERATIONS; ++iteration) {
        std::vector<char> next = WithinLimit(weighted, line.kept, settings.scaleFloor);
        for (size_t i = 0; i < next.size(); ++i)
            next[i] = next[i] && line.kept[i];
        if (next == line.kept)
            break;
        line.kept = std::move(next);
        FitKept(points, line);
        weighted = Weighted(points, line.residuals);
    }
    if (line.Freedom() < 1 || line.sumXX <= 0)
        return line;
    Judge(points, weighted, settings.runAxis, line);
    return line;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    return values[middle];
}
