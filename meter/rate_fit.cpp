#include "meter/rate_fit.h"
#include "meter/rate_series.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Residuals beyond this many robust deviations from the median are left
// out: Gaussian jitter loses 1 stamp in 16000 to it, a stall of 25 times
// the jitter every stamp it delays by more.
constexpr double REJECTION_LIMIT = 4.0;
// Stamps are good to a microsecond at best; below that the spread of a
// clean series is rounding, not jitter to judge stamps by.
constexpr double SCALE_FLOOR_SECONDS = 1e-6;
constexpr double MAD_TO_DEVIATION = 1.4826;
constexpr int MAX_ITERATIONS = 30;
// A correlation near 1 would claim infinite widening from a few stamps.
constexpr double CORRELATION_CAP = 0.999;
// The residuals' block means, this many over the run (few: on a busy
// machine the stamps wander over tens of seconds), show a wander too
// slow for the lag-one correlation to see.
constexpr int UNCERTAINTY_BLOCKS = 5;
// Where the position advances in chunks or the lateness follows a pattern
// (an audio server's quantum, its rate control), the least late stamp of
// each window this long lies on the card's line far closer than the rest.
constexpr double ENVELOPE_SECONDS = 1.0;

// Least squares over the kept stamps: one slope (system seconds per
// nominal stream second), one intercept per segment.
struct SegmentedLine {
    double slope = 0;
    double sumXX = 0;
    int64_t count = 0;
    int segmentsUsed = 0;
    std::vector<double> meanX, meanY;

    double Predict(double x, int segment) const { return meanY[segment] + slope * (x - meanX[segment]); }
};

SegmentedLine FitLine(const RateSeries& series, const std::vector<char>& keep)
{
    SegmentedLine line;
    const size_t n = series.streamSeconds.size();
    std::vector<double> sumX(series.segments, 0), sumY(series.segments, 0);
    std::vector<int64_t> counts(series.segments, 0);
    for (size_t i = 0; i < n; ++i)
        if (keep[i]) {
            sumX[series.segment[i]] += series.streamSeconds[i];
            sumY[series.segment[i]] += series.systemSeconds[i];
            ++counts[series.segment[i]];
        }
    line.meanX.assign(series.segments, 0);
    line.meanY.assign(series.segments, 0);
    for (int s = 0; s < series.segments; ++s)
        if (counts[s] > 0) {
            line.meanX[s] = sumX[s] / static_cast<double>(counts[s]);
            line.meanY[s] = sumY[s] / static_cast<double>(counts[s]);
            line.count += counts[s];
            ++line.segmentsUsed;
        }
    double sumXY = 0;
    for (size_t i = 0; i < n; ++i)
        if (keep[i]) {
            const double dx = series.streamSeconds[i] - line.meanX[series.segment[i]];
            line.sumXX += dx * dx;
            sumXY += dx * (series.systemSeconds[i] - line.meanY[series.segment[i]]);
        }
    line.slope = line.sumXX > 0 ? sumXY / line.sumXX : 0;
    return line;
}

std::vector<double> Residuals(const RateSeries& series, const SegmentedLine& line)
{
    std::vector<double> residuals(series.streamSeconds.size());
    for (size_t i = 0; i < residuals.size(); ++i)
        residuals[i] = series.systemSeconds[i] - line.Predict(series.streamSeconds[i], series.segment[i]);
    return residuals;
}

// Which stamps lie within the robust limit, judged by the kept ones.
std::vector<char> WithinLimit(const std::vector<double>& residuals, const std::vector<char>& keep)
{
    std::vector<double> kept;
    for (size_t i = 0; i < residuals.size(); ++i)
        if (keep[i])
            kept.push_back(residuals[i]);
    const double median = Median(kept);
    for (double& value : kept)
        value = std::fabs(value - median);
    const double scale = std::max(MAD_TO_DEVIATION * Median(kept), SCALE_FLOOR_SECONDS);
    std::vector<char> within(residuals.size());
    for (size_t i = 0; i < residuals.size(); ++i)
        within[i] = std::fabs(residuals[i] - median) <= REJECTION_LIMIT * scale;
    return within;
}

// Lag-one correlation of the kept residuals, over neighbours in the same
// segment.
double NeighbourCorrelation(const std::vector<double>& residuals, const std::vector<char>& keep,
                            const std::vector<int>& segment)
{
    double lagged = 0, squares = 0;
    size_t previous = SIZE_MAX;
    for (size_t i = 0; i < residuals.size(); ++i) {
        if (!keep[i])
            continue;
        squares += residuals[i] * residuals[i];
        if (previous != SIZE_MAX && segment[previous] == segment[i])
            lagged += residuals[i] * residuals[previous];
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
// blocks of equal time: a lateness that wanders over seconds (an audio
// server's buffering settling, a busy spell) averages out over a block no
// more than over its stamps, and shows here. 0 with too few blocks.
double BlockUncertainty(const RateSeries& series, const std::vector<double>& residuals, const std::vector<char>& keep,
                        double firstUsed, double lastUsed)
{
    const double blockSeconds = (lastUsed - firstUsed) / UNCERTAINTY_BLOCKS;
    struct Block {
        double sumX = 0, sumR = 0;
        int64_t count = 0;
        int segment = 0;
    };
    std::vector<Block> blocks;
    double blockEnd = 0;
    for (size_t i = 0; i < residuals.size(); ++i) {
        if (!keep[i])
            continue;
        if (blocks.empty() || series.segment[i] != blocks.back().segment || series.systemSeconds[i] >= blockEnd) {
            blocks.push_back({0, 0, 0, series.segment[i]});
            blockEnd = series.systemSeconds[i] + blockSeconds;
        }
        blocks.back().sumX += series.streamSeconds[i];
        blocks.back().sumR += residuals[i];
        ++blocks.back().count;
    }
    std::vector<double> segmentSum(series.segments, 0);
    std::vector<int> segmentBlocks(series.segments, 0);
    for (const Block& block : blocks) {
        segmentSum[block.segment] += block.sumX / static_cast<double>(block.count);
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
        const double x = block.sumX / static_cast<double>(block.count);
        const double r = block.sumR / static_cast<double>(block.count);
        const double dx = x - segmentSum[block.segment] / segmentBlocks[block.segment];
        spread += dx * dx;
        squares += r * r;
        if (b > 0 && blocks[b - 1].segment == block.segment)
            lagged += r * blocks[b - 1].sumR / static_cast<double>(blocks[b - 1].count);
    }
    if (spread <= 0 || squares <= 0)
        return 0;
    return Widening(lagged / squares) * std::sqrt(squares / static_cast<double>(freedom) / spread);
}

// The lowest stamp (least late against the line so far) of each window
// of ENVELOPE_SECONDS of system time within a segment.
std::vector<char> LowerEnvelope(const RateSeries& series, const std::vector<double>& residuals, const std::vector<char>& keep)
{
    std::vector<char> chosen(residuals.size(), 0);
    size_t best = SIZE_MAX;
    double windowEnd = 0;
    for (size_t i = 0; i < residuals.size(); ++i) {
        if (!keep[i])
            continue;
        if (best == SIZE_MAX || series.segment[i] != series.segment[best] || series.systemSeconds[i] >= windowEnd) {
            if (best != SIZE_MAX)
                chosen[best] = 1;
            best = i;
            windowEnd = series.systemSeconds[i] + ENVELOPE_SECONDS;
        } else if (residuals[i] < residuals[best])
            best = i;
    }
    if (best != SIZE_MAX)
        chosen[best] = 1;
    return chosen;
}

// The segmented line through the stamps `keep` marks, leaving out those
// beyond the robust limit until the set is stable; `keep` and `residuals`
// are left as they end.
SegmentedLine RobustLine(const RateSeries& series, std::vector<char>& keep, std::vector<double>& residuals)
{
    SegmentedLine line = FitLine(series, keep);
    residuals = Residuals(series, line);
    for (int iteration = 0; iteration < MAX_ITERATIONS; ++iteration) {
        std::vector<char> next = WithinLimit(residuals, keep);
        for (size_t i = 0; i < next.size(); ++i)
            next[i] = next[i] && keep[i];
        if (next == keep)
            break;
        keep = std::move(next);
        line = FitLine(series, keep);
        residuals = Residuals(series, line);
    }
    return line;
}

// The rate and its uncertainty from a robust line through the stamps
// `keep` marks.
RateEstimate EstimateFrom(const RateSeries& series, std::vector<char>& keep, std::vector<double>& residuals,
                          double nominalRate)
{
    RateEstimate estimate;
    const SegmentedLine line = RobustLine(series, keep, residuals);
    const int64_t freedom = line.count - line.segmentsUsed - 1;
    if (freedom < 1 || line.sumXX <= 0 || line.slope <= 0)
        return estimate;
    double squares = 0, firstUsed = 0, lastUsed = 0;
    bool seen = false;
    for (size_t i = 0; i < keep.size(); ++i)
        if (keep[i]) {
            squares += residuals[i] * residuals[i];
            if (!seen)
                firstUsed = series.systemSeconds[i];
            lastUsed = series.systemSeconds[i];
            seen = true;
        }
    const double jitter = std::sqrt(squares / static_cast<double>(freedom));
    const double correlation = NeighbourCorrelation(residuals, keep, series.segment);
    const double slopeUncertainty = std::max(Widening(correlation) * jitter / std::sqrt(line.sumXX),
                                             BlockUncertainty(series, residuals, keep, firstUsed, lastUsed));
    estimate.valid = true;
    estimate.rate = nominalRate / line.slope;
    estimate.ppm = (1 / line.slope - 1) * 1e6;
    estimate.uncertaintyPpm = slopeUncertainty / (line.slope * line.slope) * 1e6;
    estimate.seconds = lastUsed - firstUsed;
    estimate.segments = line.segmentsUsed;
    estimate.silentGaps = series.silentGaps;
    estimate.stamps = static_cast<int64_t>(keep.size());
    estimate.pointsUsed = line.count;
    estimate.pointsLeftOut = static_cast<int64_t>(keep.size()) - line.count;
    estimate.jitterSeconds = jitter;
    estimate.correlation = correlation;
    return estimate;
}

// The better of the two fits, as the stamps alone show it.
RateEstimate FitStamps(const RatePoint* points, size_t count, double nominalRate)
{
    if (count < 3 || nominalRate <= 0)
        return {};
    const RateSeries series = PrepareRateSeries(points, count, nominalRate);
    std::vector<char> keep(count, 1);
    std::vector<double> residuals;
    const RateEstimate all = EstimateFrom(series, keep, residuals, nominalRate);
    if (!all.valid)
        return all;
    std::vector<char> lowest = LowerEnvelope(series, residuals, keep);
    const int64_t windows = std::count(lowest.begin(), lowest.end(), 1);
    RateEstimate envelope = EstimateFrom(series, lowest, residuals, nominalRate);
    if (!envelope.valid)
        return all;
    const bool useEnvelope = envelope.uncertaintyPpm < all.uncertaintyPpm;
    RateEstimate chosen = useEnvelope ? envelope : all;
    // A lateness that drifts over the whole run (a machine growing busier)
    // looks like a rate to any residual; it moves the stamps' mean more than
    // their least late ones, so the two fits part. Where the line through
    // all stamps is the figure, their disagreement beyond their own
    // uncertainties goes into its uncertainty. Where the least late ones
    // are, it does not: the mean also moves when the pattern of the
    // stamps changes (an audio server taking a playback in other chunks
    // once another stream starts moved it 3 ms in one step, and the line
    // through all of them 50 ppm), which the least late stamps do not see.
    const double disagreement = envelope.ppm - all.ppm;
    const double unexplained = disagreement * disagreement - all.uncertaintyPpm * all.uncertaintyPpm -
                               envelope.uncertaintyPpm * envelope.uncertaintyPpm;
    if (!useEnvelope && unexplained > 0)
        chosen.uncertaintyPpm = std::sqrt(chosen.uncertaintyPpm * chosen.uncertaintyPpm + unexplained);
    if (useEnvelope) {
        // Said of the run as a whole: the windows span what the stamps did,
        // and what was left out is the late stamps and the windows off the line.
        chosen.lowerEnvelope = true;
        chosen.seconds = all.seconds;
        chosen.pointsLeftOut = all.pointsLeftOut + (windows - envelope.pointsUsed);
    }
    return chosen;
}

}  // namespace

RateEstimate FitRate(const RatePoint* points, size_t count, double nominalRate, double latenessDriftSeconds)
{
    RateEstimate estimate = FitStamps(points, count, nominalRate);
    if (estimate.valid && estimate.seconds > 0 && latenessDriftSeconds > 0) {
        estimate.driftAllowancePpm = latenessDriftSeconds / estimate.seconds * 1e6;
        estimate.uncertaintyPpm = std::hypot(estimate.uncertaintyPpm, estimate.driftAllowancePpm);
    }
    return estimate;
}
