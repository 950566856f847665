#include "meter/reference/pulse_line.h"

#include <algorithm>
#include <cmath>

namespace {

// A pulse this many deviations off the line (its own scatter or the last
// pulses', whichever is larger) is held: a step if the next follows it.
// Why 8 and the floor: docs/accuracy.md#pps-steps
constexpr double STEP_SIGMAS = 8;
constexpr double STEP_FLOOR_SAMPLES = 0.05;
// The next pulse follows a step when it lies off the line by the same
// amount within this many deviations of the two.
constexpr double CONFIRM_SIGMAS = 6;
// A step is a whole number of samples (a block lost or repeated: the
// intercept stays) when it lies within this many deviations of one and
// the deviation is small enough to tell neighbouring whole numbers apart.
constexpr double WHOLE_SIGMAS = 5;
constexpr double WHOLE_RESOLUTION_SAMPLES = 0.25;
// A larger block than this of a second lost may have taken a pulse with
// it: the pulse count is not trusted across it, and a segment starts.
constexpr double MAX_WHOLE_STEP_SECONDS = 0.25;
// The last pulses' scatter, an exponential average of squared residuals
// with this weight for the newest (about ten pulses).
constexpr double RECENT_WEIGHT = 0.1;

}  // namespace

std::optional<double> PulseLine::Predict(int64_t index) const
{
    if (segmentDue || !line.CanPredict(segment))
        return std::nullopt;
    return line.Predict(static_cast<double>(index), segment) + stepOffset;
}

std::optional<double> PulseLine::HeldPosition() const
{
    return held ? std::optional<double>(held->position) : std::nullopt;
}

double PulseLine::Residual(const PulseObservation& seen) const
{
    const std::optional<double> predicted = Predict(seen.index);
    return predicted ? seen.position - *predicted : 0;
}

double PulseLine::StepLimit(const PulseObservation& seen) const
{
    return std::max(STEP_FLOOR_SAMPLES, STEP_SIGMAS * std::max(seen.scatter, recentScatter));
}

void PulseLine::Observe(const PulseObservation& seen, std::vector<ReferenceEvent>& events)
{
    if (seen.kind != PulseObservation::Kind::Timed) {
        const bool absent = seen.kind == PulseObservation::Kind::Missed;
        ++(absent ? missed : clipped);
        events.push_back(Event(seen, absent ? EVENT_MISSED : EVENT_CLIPPED, 0));
        return;
    }
    ++timed;
    if (segmentDue) {
        segmentDue = false;
        ++segment;
        stepOffset = 0;
        Use(seen, EVENT_JUMP, events);
        return;
    }
    const double residual = Residual(seen);
    if (held) {
        const PulseObservation first = *held;
        held.reset();
        const double firstResidual = Residual(first);
        const double deviation = std::max({std::hypot(first.scatter, seen.scatter), recentScatter, 1e-9});
        if (std::fabs(residual - firstResidual) <= CONFIRM_SIGMAS * deviation) {
            Step(first, 0.5 * (residual + firstResidual), deviation / std::sqrt(2.0), false, events);
            Use(seen, 0, events);
            return;
        }
        events.push_back(Event(first, EVENT_OUTLIER, firstResidual));
        ++outliers;
    }
    const bool stepped = std::fabs(residual) > StepLimit(seen);
    if (reportedAt && seen.position > static_cast<double>(*reportedAt)) {
        // The stream said so: this pulse alone tells the step.
        reportedAt.reset();
        if (stepped) {
            Step(seen, residual, std::max(seen.scatter, recentScatter), true, events);
            return;
        }
    } else if (stepped) {
        held = seen;
        return;
    }
    Use(seen, 0, events);
}

void PulseLine::Finish(std::vector<ReferenceEvent>& events)
{
    if (!held)
        return;
    events.push_back(Event(*held, EVENT_OUTLIER, Residual(*held)));
    ++outliers;
    held.reset();
}

void PulseLine::Step(const PulseObservation& first, double step, double stepScatter, bool reported,
                     std::vector<ReferenceEvent>& events)
{
    if (!reported)
        ++stepsFound;
    const double whole = std::nearbyint(step);
    const bool isWhole = whole != 0 && std::fabs(step - whole) <= WHOLE_SIGMAS * stepScatter &&
                         WHOLE_SIGMAS * stepScatter < WHOLE_RESOLUTION_SAMPLES &&
                         std::fabs(whole) <= MAX_WHOLE_STEP_SECONDS * rate;
    if (isWhole)
        stepOffset += whole;
    else {
        ++segment;
        stepOffset = 0;
    }
    Use(first, EVENT_JUMP, events);
}

void PulseLine::Use(const PulseObservation& seen, unsigned flags, std::vector<ReferenceEvent>& events)
{
    const double residual = Residual(seen);
    line.Add(static_cast<double>(seen.index), seen.position - stepOffset, seen.scatter, segment);
    recentScatter = std::sqrt((1 - RECENT_WEIGHT) * recentScatter * recentScatter + RECENT_WEIGHT * residual * residual);
    events.push_back(Event(seen, EVENT_USED | flags, residual));
}

ReferenceEvent PulseLine::Event(const PulseObservation& seen, unsigned flags, double residual) const
{
    ReferenceEvent event;
    event.index = seen.index;
    event.referenceSeconds = static_cast<double>(seen.index);
    event.position = seen.position;
    event.scatter = seen.scatter;
    event.segment = segment;
    event.flags = flags;
    event.residual = residual;
    event.levelDbfs = seen.levelDbfs;
    return event;
}
