#include "meter/reference/reference_track.h"

#include "meter/stitched_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The events a new stretch's stitch takes the slope from.
constexpr int SLOPE_POINTS = 16;

}  // namespace

ReferenceTrack::ReferenceTrack(double interval, double rate, double spacing)
    : intervalSeconds(interval), nominalRate(rate), eventSeconds(spacing)
{
}

void ReferenceTrack::Add(const ReferenceEvent& event)
{
    if (!(event.flags & EVENT_USED))
        return;
    if (intervalSeconds > 0)
        AddToWindow(event);
    AddToSeries(event);
}

void ReferenceTrack::AddToSeries(const ReferenceEvent& event)
{
    const auto slot = static_cast<int64_t>(std::nearbyint(event.referenceSeconds / eventSeconds));
    if (firstSlot == INT64_MIN)
        firstSlot = slot;
    const int64_t offset = slot - firstSlot;
    if (offset < static_cast<int64_t>(series.size()))
        return;  // events come in order; a second one in a slot adds nothing
    const auto index = static_cast<size_t>(offset);
    const double error = event.position / nominalRate - event.referenceSeconds;
    if (event.segment != lastSegment) {
        stitch = StitchAt(series, index, error, SLOPE_POINTS);
        lastSegment = event.segment;
    }
    series.resize(index, std::numeric_limits<double>::quiet_NaN());
    series.push_back(error + stitch);
}

void ReferenceTrack::AddToWindow(const ReferenceEvent& event)
{
    const auto index = static_cast<int64_t>(std::floor(event.referenceSeconds / intervalSeconds));
    if (index != windowIndex) {
        CloseWindow(false);
        windowIndex = index;
        window = EventLine();
    }
    window.Add(event.referenceSeconds, event.position, event.scatter, event.segment);
    lastSeconds = event.referenceSeconds;
}

// A window the reference ran past ends where it was meant to; the last one
// at its last event.
void ReferenceTrack::CloseWindow(bool atEnd)
{
    if (windowIndex < 0 || window.Count() == 0)
        return;
    WindowEstimate estimate;
    estimate.startSeconds = static_cast<double>(windowIndex) * intervalSeconds;
    estimate.endSeconds = static_cast<double>(windowIndex + 1) * intervalSeconds;
    if (atEnd)
        estimate.endSeconds = std::min(estimate.endSeconds, lastSeconds);
    estimate.blocks = static_cast<int64_t>(window.Count());
    const EventLineFit fit = window.Fit();
    estimate.valid = fit.valid && estimate.blocks >= MIN_WINDOW_EVENTS;
    if (estimate.valid) {
        estimate.ppm = (fit.slope / nominalRate - 1) * 1e6;
        estimate.uncertaintyPpm = fit.slopeUncertainty / nominalRate * 1e6;
    }
    window = EventLine();
    if (windowObserver)
        windowObserver(estimate);
}

void ReferenceTrack::Finish()
{
    CloseWindow(true);
    windowIndex = -1;
}

std::vector<StabilityPoint> ReferenceTrack::Stability() const
{
    return StabilityTable(series, eventSeconds, eventSeconds);
}
