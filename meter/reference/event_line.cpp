#include "meter/reference/event_line.h"

#include <cmath>

namespace {

// Event positions are samples: below a millionth of one the spread of a
// clean series is rounding. Events that carry a scatter are judged in
// units of it, where the same floor is as far below any real scatter.
constexpr RobustLineSettings EVENT_LINE = {1e-6, RunAxis::X};

}  // namespace

void EventLine::Add(double referenceSeconds, double position, double scatter, uint32_t segment)
{
    const double weight = scatter > 0 ? 1 / (scatter * scatter) : 1.0;
    points.push_back({referenceSeconds, position, weight, static_cast<int>(segment)});
    if (segments.size() <= segment)
        segments.resize(segment + 1);
    Moments& m = segments[segment];
    m.weight += weight;
    ++m.count;
    const double dx = referenceSeconds - m.meanSeconds;
    const double dy = position - m.meanPosition;
    m.meanSeconds += dx * weight / m.weight;
    m.meanPosition += dy * weight / m.weight;
    m.sxx += weight * dx * (referenceSeconds - m.meanSeconds);
    m.sxy += weight * dx * (position - m.meanPosition);
}

double EventLine::Slope() const
{
    double sxx = 0, sxy = 0;
    for (const Moments& m : segments) {
        sxx += m.sxx;
        sxy += m.sxy;
    }
    return sxx > 0 ? sxy / sxx : 0;
}

bool EventLine::CanPredict(uint32_t segment) const
{
    return segment < segments.size() && segments[segment].count > 0 && Slope() > 0;
}

double EventLine::Predict(double referenceSeconds, uint32_t segment) const
{
    const Moments& m = segments[segment];
    return m.meanPosition + Slope() * (referenceSeconds - m.meanSeconds);
}

EventLineFit EventLine::Fit(double extraSeconds) const
{
    EventLineFit fit;
    const RobustLine line = FitRobustLine(points, EVENT_LINE);
    fit.used = line.used;
    fit.leftOut = static_cast<int64_t>(points.size()) - line.used;
    fit.segments = line.segments;
    for (size_t i = 0; i < points.size(); ++i)
        if (!line.kept[i])
            fit.leftOutPoints.push_back(i);
    if (!line.valid || line.slope <= 0)
        return fit;
    double squares = 0;
    for (size_t i = 0; i < points.size(); ++i)
        if (line.kept[i])
            squares += line.residuals[i] * line.residuals[i];
    fit.valid = true;
    fit.slope = line.slope;
    fit.scatter = std::sqrt(squares / static_cast<double>(line.used));
    fit.correlation = line.correlation;
    fit.seconds = line.runLast - line.runFirst;
    fit.slopeUncertainty = line.slopeUncertainty;
    if (extraSeconds > 0 && fit.seconds > 0)
        fit.slopeUncertainty = std::hypot(fit.slopeUncertainty, extraSeconds * fit.slope / fit.seconds);
    return fit;
}
