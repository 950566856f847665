#include "meter/reference/tone_fit.h"

#include "meter/reference/event_line.h"
#include "meter/reference/tone_steadiness.h"
#include "meter/reference/tone_steps.h"

#include <cmath>
#include <string>

namespace {

// Less reference time than this gives no figure.
constexpr double MIN_SECONDS = 1;

struct Fitted {
    EventLineFit fit;
    ToneSteadiness steadiness;
};

Fitted FitPoints(const std::vector<TonePoint>& points, const ToneFitSettings& settings)
{
    Fitted fitted;
    EventLine line;
    for (const TonePoint& p : points)
        line.Add(p.seconds, p.position, p.scatter, p.segment);
    fitted.fit = line.Fit();
    if (fitted.fit.valid)
        fitted.steadiness = JudgeToneSteadiness(points, line, settings);
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
    const int64_t splits = SplitAtSteps(split, settings.correlationFactor);
    if (splits > 0) {
        Fitted fitted = FitPoints(split, settings);
        if (fitted.fit.valid && fitted.steadiness.steady) {
            chosen = fitted;
            stepsFound += splits;
            estimate.eventsRejected += static_cast<int64_t>(points.size() - split.size());
        }
    }
    estimate.steps = stepsFound + settings.gapsReported;
    const EventLineFit& fit = chosen.fit;
    if (!fit.valid || fit.seconds < MIN_SECONDS)
        return estimate;
    estimate.valid = true;
    estimate.rateHz = fit.slope;
    estimate.ppm = (fit.slope / settings.sampleRate - 1) * 1e6;
    estimate.seconds = fit.seconds;
    estimate.eventsUsed = fit.used;
    estimate.eventsRejected += fit.leftOut;
    estimate.segments = fit.segments;
    estimate.scatterSamples = fit.scatter;
    const double fromNoise = fit.slopeUncertainty * std::sqrt(settings.correlationFactor) * 1e6 / settings.sampleRate;
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
