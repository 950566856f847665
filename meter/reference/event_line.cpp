#include "meter/reference/event_line.h"

#include <cmath>

void EventLine::Add(double referenceSeconds, double position, double scatter, uint32_t segment)
{
    const double weight = scatter > 0 ? 1 / (scatter * scatter) : 1.0;
    points.push_back({referenceSeconds, position, weight, segment});
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
    double sxx = 0;
    for (const Moments& m : segments)
        if (m.count > 0) {
            sxx += m.sxx;
            ++fit.segments;
        }
    fit.used = static_cast<int64_t>(points.size());
    const int64_t freedom = fit.used - fit.segments - 1;
    if (freedom < 1 || sxx <= 0)
        return fit;
    fit.slope = Slope();
    double squares = 0, weighted = 0, first = points.front().seconds, last = first;
    for (const Point& p : points) {
        const double r = p.position - Predict(p.seconds, p.segment);
        squares += r * r;
        weighted += p.weight * r * r;
        first = std::fmin(first, p.seconds);
        last = std::fmax(last, p.seconds);
    }
    fit.valid = true;
    fit.scatter = std::sqrt(squares / static_cast<double>(fit.used));
    fit.seconds = last - first;
    fit.slopeUncertainty = std::sqrt(weighted / static_cast<double>(freedom) / sxx);
    if (extraSeconds > 0 && fit.seconds > 0)
        fit.slopeUncertainty = std::hypot(fit.slopeUncertainty, extraSeconds * fit.slope / fit.seconds);
    return fit;
}
