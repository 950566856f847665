// A card against a reference as it moves: fed the reference meter's events
// (ReferenceMeter::OnEvent), it fits the card's rate per window of the
// reference's time as the windows end, and keeps the card's time error at
// each event for the Allan deviation at the end (8 bytes an event: a day of
// second pulses is 0.7 MB).
//
// The time error x of an event is position / nominalRate - referenceSeconds:
// how far the card's count, read as seconds of its nominal rate, has run
// ahead of the reference. A card 1 ppm fast gains 1 microsecond a second.
// Where a new segment starts (samples lost or repeated: the error jumps by
// an unknown amount) the series continues the last stretch's local slope,
// so the second differences of the Allan deviation see no step.
#pragma once

#include "meter/allan_deviation.h"
#include "meter/window_estimate.h"
#include "meter/reference/event_line.h"
#include "meter/reference/reference_event.h"

#include <cstdint>
#include <functional>
#include <vector>

class ReferenceTrack {
public:
    // `intervalSeconds`: the windows' length (0: none). `eventSeconds`: the
    // reference's time between events (1 for a pulse or a tick; a tone's
    // block), the Allan deviation's tau0.
    ReferenceTrack(double intervalSeconds, double nominalRate, double eventSeconds);

    // Every event, in order; those used enter the windows and the series.
    void Add(const ReferenceEvent& event);
    // At the end: the last window, however short.
    void Finish();
    void OnWindow(std::function<void(const WindowEstimate&)> observer) { windowObserver = std::move(observer); }

    // The Allan and modified Allan deviations at tau = 1, 2, 5, 10, ... s.
    std::vector<StabilityPoint> Stability() const;

    // A window needs this many events for a line with a scatter to judge it by.
    static constexpr int64_t MIN_WINDOW_EVENTS = 4;

private:
    void AddToSeries(const ReferenceEvent& event);
    void AddToWindow(const ReferenceEvent& event);
    void CloseWindow(bool atEnd);

    double intervalSeconds;
    double nominalRate;
    double eventSeconds;
    // the time error per event slot from the first used on (NaN where none)
    int64_t firstSlot = INT64_MIN;
    std::vector<double> series;
    uint32_t lastSegment = UINT32_MAX;
    double stitch = 0;
    // the window being filled
    int64_t windowIndex = -1;
    double lastSeconds = 0;
    EventLine window;
    std::function<void(const WindowEstimate&)> windowObserver;
};
