#include "meter/rate_fit.h"
#include "meter/rate_series.h"
#include "meter/robust_line.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Stamps are good to a microsecond at best; below that the spread of a
// clean series is rounding, not jitter to judge stamps by.
constexpr double SCALE_FLOOR_SECONDS = 1e-6;

// The stamps as a line's points: system time against the stream's
// nominal time, each of the same weight; the run is timed by the system clock.
std::vector<LinePoint> StampPoints(const RateSeries& series)
{
    std::vector<LinePoint> points(series.streamSeconds.size());
    for (size_t i = 0; i < points.size(); ++i)
        points[i] = {series.streamSeconds[i], series.systemSeconds[i], 1.0, series.segment[i]};
    return points;
}

constexpr RobustLineSettings STAMP_LINE = {SCALE_FLOOR_SECONDS, RunAxis::Y};

// The lowest stamp (least late against the line so far) of each window
// of LATENESS_WINDOW_SECONDS of system time within a segment.
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
            windowEnd = series.systemSeconds[i] + LATENESS_WINDOW_SECONDS;
        } else if (residuals[i] < residuals[best])
            best = i;
    }
    if (best != SIZE_MAX)
        chosen[best] = 1;
    return chosen;
}

// The rate and its uncertainty from a robust line through the stamps.
RateEstimate EstimateFrom(const RateSeries& series, const RobustLine& line, double nominalRate)
{
    RateEstimate estimate;
    if (!line.valid || line.slope <= 0)
        return estimate;
    estimate.valid = true;
    estimate.rate = nominalRate / line.slope;
    estimate.ppm = (1 / line.slope - 1) * 1e6;
    estimate.uncertaintyPpm = line.slopeUncertainty / (line.slope * line.slope) * 1e6;
    estimate.seconds = line.runLast - line.runFirst;
    estimate.segments = line.segments;
    estimate.silentGaps = series.silentGaps;
    estimate.stamps = static_cast<int64_t>(line.kept.size());
    estimate.pointsUsed = line.used;
    estimate.pointsLeftOut = estimate.stamps - line.used;
    estimate.jitterSeconds = line.deviation;
    estimate.correlation = line.correlation;
    return estimate;
}

// The better of the two fits, as the stamps alone show it.
RateEstimate FitStamps(const RatePoint* points, size_t count, double nominalRate)
{
    if (count < 3 || nominalRate <= 0)
        return {};
    const RateSeries series = PrepareRateSeries(points, count, nominalRate);
    const std::vector<LinePoint> stamps = StampPoints(series);
    const RobustLine allLine = FitRobustLine(stamps, STAMP_LINE);
    const RateEstimate all = EstimateFrom(series, allLine, nominalRate);
    if (!all.valid)
        return all;
    std::vector<char> lowest = LowerEnvelope(series, allLine.residuals, allLine.kept);
    const int64_t windows = std::count(lowest.begin(), lowest.end(), 1);
    const RateEstimate envelope = EstimateFrom(series, FitRobustLine(stamps, STAMP_LINE, std::move(lowest)), nominalRate);
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
    // once another stream starts), which the least late stamps do not see.
    // docs/accuracy.md#rate-envelope-disagreement
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
