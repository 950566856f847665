#include "meter/rate_fit.h"

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

// A stream that loses or gains samples without telling (PipeWire's ALSA
// plugin drops some of a stream now and then, with no xrun) shifts
// every later stamp by the samples' time: the least late stamp of each
// window of GAP_WINDOW_SECONDS steps by more than GAP_LIMIT_SECONDS and
// stays there (PipeWire's were 10.7 and 21.4 ms). A stall moves it for a
// window at most; the jitter of a busy machine moves it by up to 2 or 3 ms
// over a few windows.
constexpr double GAP_WINDOW_SECONDS = 1.0;
constexpr double GAP_LIMIT_SECONDS = 0.008;

// The series relative to its first stamp, in seconds on both axes, with
// segments numbered densely from 0.
struct Series {
    std::vector<double> streamSeconds;
    std::vector<double> systemSeconds;
    std::vector<int> segment;
    int segments = 0;
    int silentGaps = 0;  // segments started by CutAtSilentGaps
};

double Median(std::vector<double> values)
{
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    return values[middle];
}

// The least late stamp (system time less stream time) of each window of
// GAP_WINDOW_SECONDS within a segment, and the window's first stamp.
struct LatenessWindow {
    size_t first = 0;
    int segment = 0;
    double least = 0;
};

std::vector<LatenessWindow> LatenessWindows(const Series& series)
{
    std::vector<LatenessWindow> windows;
    double windowEnd = 0;
    for (size_t i = 0; i < series.streamSeconds.size(); ++i) {
        const double lateness = series.systemSeconds[i] - series.streamSeconds[i];
        if (windows.empty() || series.segment[i] != windows.back().segment || series.systemSeconds[i] >= windowEnd) {
            windows.push_back({i, series.segment[i], lateness});
            windowEnd = series.systemSeconds[i] + GAP_WINDOW_SECONDS;
        } else
            windows.back().least = std::min(windows.back().least, lateness);
    }
    return windows;
}

// Starts a segment where the least late stamps step and stay stepped: a
// gap in the stream that no xrun reported. The window in which it falls
// may see part of it or none, so the step is judged across it, from the
// window before to the one after, and must hold in the one after that.
// The card's own rate moves the stamps too (a millisecond a second at
// 1000 ppm): steps are judged against the median step.
void CutAtSilentGaps(Series& series)
{
    const std::vector<LatenessWindow> windows = LatenessWindows(series);
    std::vector<double> steps;
    for (size_t k = 1; k < windows.size(); ++k)
        if (windows[k].segment == windows[k - 1].segment)
            steps.push_back(windows[k].least - windows[k - 1].least);
    if (steps.size() < 3)
        return;
    const double usual = Median(steps);
    // How far window `to` lies from window `from`, beyond the usual steps.
    auto moved = [&](size_t from, size_t to) {
        return windows[to].least - windows[from].least - usual * static_cast<double>(to - from);
    };
    std::vector<size_t> cuts;
    for (size_t k = 1; k + 2 < windows.size(); ++k) {
        if (windows[k - 1].segment != windows[k + 2].segment)
            continue;
        const double across = moved(k - 1, k + 1), held = moved(k - 1, k + 2);
        if (std::fabs(across) <= GAP_LIMIT_SECONDS || std::fabs(held) <= GAP_LIMIT_SECONDS ||
            (across > 0) != (held > 0) || std::fabs(moved(k + 1, k + 2)) > GAP_LIMIT_SECONDS / 2)
            continue;
        // Where window k's least late stamp already shows most of it, the
        // gap came before it.
        const bool inWindow = std::fabs(moved(k - 1, k)) > std::fabs(across) / 2;
        cuts.push_back(windows[inWindow ? k : k + 1].first);
        k += 2;
    }
    int added = 0;
    size_t next = 0;
    for (size_t i = 0; i < series.segment.size(); ++i) {
        if (next < cuts.size() && i == cuts[next]) {
            ++added;
            ++next;
        }
        series.segment[i] += added;
    }
    series.segments += added;
    series.silentGaps = added;
}

Series PrepareSeries(const RatePoint* points, size_t count, double nominalRate)
{
    Series series;
    series.streamSeconds.reserve(count);
    series.systemSeconds.reserve(count);
    series.segment.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        // A position that goes back cannot be the same stream's: treat it
        // as an xrun the backend did not report.
        const bool newSegment = i == 0 || points[i].segment != points[i - 1].segment ||
                                points[i].frames < points[i - 1].frames;
        if (newSegment)
            ++series.segments;
        // Exact: positions stay far below 2^53.
        const double frames = static_cast<double>(points[i].frames) - static_cast<double>(points[0].frames);
        series.streamSeconds.push_back(frames / nominalRate);
        series.systemSeconds.push_back(points[i].systemSeconds - points[0].systemSeconds);
        series.segment.push_back(series.segments - 1);
    }
    CutAtSilentGaps(series);
    return series;
}

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

SegmentedLine FitLine(const Series& series, const std::vector<char>& keep)
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

std::vector<double> Residuals(const Series& series, const SegmentedLine& line)
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
double BlockUncertainty(const Series& series, const std::vector<double>& residuals, const std::vector<char>& keep,
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
std::vector<char> LowerEnvelope(const Series& series, const std::vector<double>& residuals, const std::vector<char>& keep)
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
SegmentedLine RobustLine(const Series& series, std::vector<char>& keep, std::vector<double>& residuals)
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
RateEstimate EstimateFrom(const Series& series, std::vector<char>& keep, std::vector<double>& residuals,
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
    const Series series = PrepareSeries(points, count, nominalRate);
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
