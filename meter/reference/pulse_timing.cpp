#include "meter/reference/pulse_timing.h"

#include "meter/reference/reference_meter.h"

#include <algorithm>
#include <cmath>

namespace {

// A pulse is there when the template fits it with at least this much of
// its height: a missing pulse leaves noise (near 0), a half-height pulse
// is still a pulse.
constexpr double PRESENT_FRACTION = 0.5;

}  // namespace

bool PulsePresent(const EdgeFit& fit)
{
    return fit.converged && fit.amplitude >= PRESENT_FRACTION;
}

std::vector<double> DifferenceWindow(const SampleRing& ring, int64_t centre)
{
    const int64_t first = centre - EDGE_WINDOW_LENGTH / 2;
    if (first - 1 < ring.Begin() || first + EDGE_WINDOW_LENGTH > ring.End())
        return {};
    std::vector<double> window(EDGE_WINDOW_LENGTH);
    for (int i = 0; i < EDGE_WINDOW_LENGTH; ++i)
        window[i] = ring.Difference(first + i);
    return window;
}

bool ClippedAround(const SampleRing& ring, int64_t centre)
{
    const int64_t first = std::max(centre - EDGE_WINDOW_LENGTH / 2 - 1, ring.Begin());
    const int64_t last = std::min(centre + EDGE_WINDOW_LENGTH / 2, ring.End());
    for (int64_t n = first; n < last; ++n)
        if (std::fabs(ring[n]) >= PPS_CLIP_LEVEL)
            return true;
    return false;
}

double LevelAround(const SampleRing& ring, int64_t centre)
{
    double highest = 0;
    const int64_t first = std::max(centre - EDGE_WINDOW_LENGTH / 2 - 1, ring.Begin());
    const int64_t last = std::min(centre + EDGE_WINDOW_LENGTH / 2, ring.End());
    for (int64_t n = first; n < last; ++n)
        highest = std::max(highest, std::fabs(static_cast<double>(ring[n])));
    return AmplitudeDbfs(highest);
}

PulseObservation TimePulse(const SampleRing& ring, const EdgeTemplate& edge, int64_t index, int64_t centre)
{
    PulseObservation seen;
    seen.index = index;
    seen.position = static_cast<double>(centre);
    seen.levelDbfs = LevelAround(ring, centre);
    if (ClippedAround(ring, centre)) {
        seen.kind = PulseObservation::Kind::Clipped;
        return seen;
    }
    std::vector<double> window = DifferenceWindow(ring, centre);
    if (window.empty())
        return seen;
    EdgeFit fit = edge.Fit(window.data());
    // A coarse centre a sample or more off: once more from the nearer one.
    if (fit.converged && std::fabs(fit.delay) > 0.5) {
        centre += std::llrint(fit.delay);
        window = DifferenceWindow(ring, centre);
        if (window.empty())
            return seen;
        fit = edge.Fit(window.data());
    }
    if (!fit.converged || fit.amplitude < PRESENT_FRACTION)
        return seen;
    seen.kind = PulseObservation::Kind::Timed;
    seen.position = static_cast<double>(centre) + fit.delay;
    seen.scatter = fit.delayScatter;
    return seen;
}

std::optional<int64_t> BestMatch(const SampleRing& ring, const EdgeTemplate& edge, int64_t from, int64_t to)
{
    // Fit windows wholly in the ring.
    from = std::max(from, ring.Begin() + 1 + EDGE_FIT_LENGTH / 2);
    to = std::min(to, ring.End() - EDGE_FIT_LENGTH / 2);
    if (to < from)
        return std::nullopt;
    std::vector<double> difference(static_cast<size_t>(to - from + EDGE_FIT_LENGTH));
    for (size_t i = 0; i < difference.size(); ++i)
        difference[i] = ring.Difference(from - EDGE_FIT_LENGTH / 2 + static_cast<int64_t>(i));
    double best = PRESENT_FRACTION;
    std::optional<int64_t> at;
    for (int64_t c = from; c <= to; ++c) {
        const double match = edge.Match(&difference[static_cast<size_t>(c - from)]);
        if (match >= best) {
            best = match;
            at = c;
        }
    }
    return at;
}
