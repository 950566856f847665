#include "meter/reference/tone_fit.h"

#include "meter/reference/tone_demodulator.h"
#include "meter/reference/tone_steadiness.h"
#include "meter/reference/tone_steps.h"
#include "meter/robust_line.h"

#include <cmath>
#include <string>

namespace {

// The points carry their scatter as weights, so their weighted residuals
// are in units of it: a millionth of one is rounding.
constexpr RobustLineSettings TONE_LINE = {1e-6, RunAxis::X};

struct Fitted {
    RobustLine line;
    // The slope's uncertainty from the residuals, widened by the blocks'
    // known correlation (not the line's own widening for a lag-one
    // correlation: overlapping blocks are correlated over three lags,
    // and it would claim 16 % more. Why: docs/accuracy.md#tone-blocks)
    double slopeUncertainty = 0;
    double scatter = 0;  // RMS residual, samples
    ToneSteadiness steadiness;
};

Fitted FitPoints(const std::vector<TonePoint>& points, const ToneFitSettings& settings)
{
    Fitted fitted;
    std::vector<LinePoint> line;
    line.reserve(points.size());
    for (const TonePoint& p : points)
        line.push_back({p.seconds, p.position, 1 / (p.scatter * p.scatter), static_cast<int>(p.segment)});
    fitted.line = FitRobustLine(line, TONE_LINE);
    if (!fitted.line.valid || !(fitted.line.sumXX > 0))
        return fitted;
    fitted.slopeUncertainty = fitted.line.deviation * std::sqrt(settings.correlationFactor / fitted.line.sumXX);
    double squares = 0;
    for (size_t i = 0; i < points.size(); ++i)
        if (fitted.line.kept[i])
            squares += fitted.line.residuals[i] * fitted.line.residuals[i];
    fitted.scatter = std::sqrt(squares / static_cast<double>(fitted.line.used));
    fitted.steadiness = JudgeToneSteadiness(points, fitted.line, settings);
    return fitted;
}

// The used records as the line takes them. Each block is weighted by its
// phase noise: the run's last estimate of it at the tone's mean level,
// inversely as the tone's level as followed. (Not each block's own running
// estimate: early in the run that rests on a few blocks, and weights that
// scatter cost the slope more than they gain. Why: docs/accuracy.md#tone-weights)
std::vector<TonePoint> UsedPoints(const std::vector<ToneRecord>& records, size_t count, const ToneFitSettings& settings)
{
    double levels = 0, used = 0, deviation = 0;
    for (size_t i = 0; i < count; ++i)
        if (records[i].flags & EVENT_USED) {
            levels += records[i].level;
            ++used;
            deviation = records[i].deviation;
        }
    const double meanLevel = used > 0 ? levels / used : 0;
    const double toSamples = settings.sampleRate / settings.toneHz;  // a cycle of phase, in samples
    std::vector<TonePoint> points;
    points.reserve(static_cast<size_t>(used));
    for (size_t i = 0; i < count; ++i) {
        const ToneRecord& r = records[i];
        if (r.flags & EVENT_USED)
            points.push_back({r.cycles / settings.toneHz, r.centre, deviation * toSamples * meanLevel / r.level,
                              r.segment, r.index});
    }
    return points;
}

}  // namespace

ReferenceEstimate FitTone(const std::vector<ToneRecord>& records, size_t count, const ToneFitSettings& settings)
{
    ReferenceEstimate estimate;
    count = std::min(count, records.size());
    for (size_t i = 0; i < count; ++i) {
        if (records[i].flags & EVENT_MISSED)
            ++estimate.eventsMissed;
        else if (!(records[i].flags & EVENT_USED))
            ++estimate.eventsRejected;
    }
    const std::vector<TonePoint> points = UsedPoints(records, count, settings);
    Fitted chosen = FitPoints(points, settings);
    int64_t stepsFound = settings.stepsFound;
    std::vector<TonePoint> split = points;
    const int64_t splits = SplitAtSteps(split, settings.correlationFactor,
                                        SYSTEMATIC_CYCLES * settings.sampleRate / settings.toneHz);
    if (splits > 0) {
        Fitted fitted = FitPoints(split, settings);
        if (fitted.line.valid && fitted.steadiness.steady) {
            chosen = fitted;
            stepsFound += splits;
            estimate.eventsRejected += static_cast<int64_t>(points.size() - split.size());
        }
    }
    estimate.steps = stepsFound + settings.gapsReported;
    const RobustLine& line = chosen.line;
    const double seconds = line.runLast - line.runFirst;
    if (!line.valid || !(line.slope > 0) || seconds < MIN_FIT_SECONDS)
        return estimate;
    estimate.valid = true;
    estimate.rateHz = line.slope;
    estimate.ppm = (line.slope / settings.sampleRate - 1) * 1e6;
    estimate.seconds = seconds;
    estimate.eventsUsed = line.used;
    estimate.eventsRejected += static_cast<int64_t>(line.kept.size()) - line.used;
    estimate.segments = line.segments;
    estimate.scatterSamples = chosen.scatter;
    const double fromNoise = chosen.slopeUncertainty * 1e6 / settings.sampleRate;
    const double birge = chosen.steadiness.birge;
    estimate.uncertaintyPpm = fromNoise * birge;
    estimate.wanderAllowancePpm = fromNoise * std::sqrt(birge * birge - 1);
    std::string words = chosen.steadiness.words;
    if (stepsFound > 0)
        words = (words.empty() ? "" : words + "; ") + "the phase stepped " + std::to_string(stepsFound) +
                (stepsFound == 1 ? " time" : " times") +
                " and was stepped over (samples lost or repeated without an xrun, or the tone's own phase)";
    estimate.unsteady = words;
    return estimate;
}
