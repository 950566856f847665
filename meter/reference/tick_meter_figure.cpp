// The tick meter's settling and its figure (tick_meter.h, steps 4 and 6):
// the steps' verdicts into the seconds measured, the seconds emitted as
// events in order once judged, and the line through the used ticks.
#include "meter/reference/tick_meter.h"

#include <cmath>
#include <cstdio>

namespace {

// Steps found over the whole run: at least this large (smaller ones move
// the rate less than the ticks' scatter does). Why: docs/accuracy.md#ticks-steps
constexpr double SPLIT_FLOOR_SECONDS = 0.0001;
// A figure: at least this many ticks over this long.
constexpr int64_t MINIMUM_TICKS = 20;
constexpr double MINIMUM_SECONDS = 20;

}  // namespace

// The steps' word on the ticks, into their observations.
void TickMeter::ApplyVerdicts()
{
    for (const TickSteps::Verdict& v : steps.TakeVerdicts())
        for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            if (it->index == v.index && it->kind == SecondClass::Tick) {
                it->judged = true;
                it->accepted = v.used;
                it->segment = v.segment;
                if (v.jump)
                    it->flags |= EVENT_JUMP;
                if (!v.used)
                    it->flags |= EVENT_OUTLIER;
                break;
            }
}

// Emits the observations whose verdicts are in, in order.
void TickMeter::Settle()
{
    while (!pending.empty() && pending.front().judged) {
        Observation& o = pending.front();
        if (o.kind == SecondClass::Tick)
            settledSegment = o.segment;
        else
            o.segment = settledSegment;
        EmitObservation(o);
        pending.pop_front();
    }
}

void TickMeter::EmitObservation(const Observation& o)
{
    ReferenceEvent e;
    e.index = o.index;
    e.referenceSeconds = static_cast<double>(o.index);
    e.position = InputPosition(o.position);
    e.scatter = o.scatter * decimator.Factor();
    e.segment = o.segment;
    e.levelDbfs = AmplitudeDbfs(o.level);
    e.flags = o.flags;
    switch (o.kind) {
    case SecondClass::Missed:
        e.flags |= EVENT_MISSED;
        ++missed;
        break;
    case SecondClass::Marker:
        e.flags |= EVENT_MARKER;
        ++rejected;
        break;
    case SecondClass::Tick:
        if (o.clipped) {
            e.flags |= EVENT_CLIPPED;
            ++rejected;
        } else if (o.accepted) {
            if (line.CanPredict(o.segment))
                e.residual = e.position - line.Predict(e.referenceSeconds, o.segment);
            line.Add(e.referenceSeconds, e.position, e.scatter, o.segment);
            usedTicks.push_back({e.referenceSeconds, e.position, e.scatter, o.segment});
            e.flags |= EVENT_USED;
            ++used;
        } else {
            e.flags |= EVENT_OUTLIER;
            ++rejected;
        }
        break;
    }
    Emit(e);
    if (o.hasExtra) {
        ReferenceEvent extra = e;
        extra.flags = EVENT_EXTRA;
        extra.position = InputPosition(o.extraPosition);
        extra.residual = 0;
        ++rejected;
        Emit(extra);
    }
}

double TickMeter::WanderAllowance(double seconds) const
{
    if (seconds <= 0)
        return 0;
    const double scale = settings.delayTimeScaleSeconds;
    return seconds <= scale ? settings.delayRate : settings.delayRate * std::pow(scale / seconds, 1.5);
}

ReferenceEstimate TickMeter::Estimate() const
{
    ReferenceEstimate estimate;
    // The segments the steps made, and those only the whole run shows.
    std::vector<SegmentPoint> points;
    points.reserve(usedTicks.size());
    for (const UsedTick& u : usedTicks)
        points.push_back({u.seconds, u.position, 1 / (u.scatter * u.scatter), u.segment});
    const Splits splits = SplitAtSteps(points, SPLIT_FLOOR_SECONDS * settings.sampleRate);
    const auto fitWith = [&](size_t splitAt) {
        EventLine line;
        for (size_t i = 0; i < points.size(); ++i)
            line.Add(usedTicks[i].seconds, usedTicks[i].position, usedTicks[i].scatter,
                     points[i].segment + (splitAt > 0 && i >= splitAt ? 1 : 0));
        const EventLineFit plain = line.Fit();
        return line.Fit(WanderAllowance(plain.seconds) * plain.seconds);
    };
    EventLineFit fit = fitWith(0);
    const double allowance = WanderAllowance(fit.seconds);
    if (splits.doubtfulAt > 0 && fit.valid) {
        // A step the run cannot tell from chance: the figure with it and
        // without it differ by what the uncertainty must hold too.
        const EventLineFit split = fitWith(splits.doubtfulAt);
        if (split.valid)
            fit.slopeUncertainty = std::hypot(fit.slopeUncertainty, split.slope - fit.slope);
    }
    estimate.eventsUsed = used;
    estimate.eventsMissed = missed;
    estimate.eventsRejected = rejected;
    estimate.steps = steps.Steps() + splits.added;
    estimate.segments = fit.segments;
    estimate.scatterSamples = fit.scatter;
    estimate.seconds = fit.seconds;
    estimate.wanderAllowancePpm = allowance * 1e6;
    const double nominal = settings.sampleRate;
    if (fit.valid) {
        estimate.rateHz = fit.slope;
        estimate.ppm = (fit.slope / nominal - 1) * 1e6;
        estimate.uncertaintyPpm = fit.slopeUncertainty / nominal * 1e6;
    }
    estimate.valid = fit.valid && fit.used >= MINIMUM_TICKS && fit.seconds >= MINIMUM_SECONDS && identity.Problem(settings.station, reception.votes, reception.voice).empty();
    if (estimate.steps >= 3) {
        char text[120];
        std::snprintf(text, sizeof text, "the ticks' arrival stepped %lld times (the path changed, or samples were lost)",
                      static_cast<long long>(estimate.steps));
        estimate.unsteady = text;
    }
    return estimate;
}
