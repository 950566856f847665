// The clock stamps as the rate's fit takes them: seconds on both axes from
// the first stamp, and segments, each with its own intercept, started by
// the backend's xruns, by a position that goes back, and by gaps in the
// stream that nobody reported.
#pragma once

#include "meter/rate_fit.h"

#include <cstddef>
#include <vector>

// Each window of this much system time has a least late stamp: the floor
// of the stamps' lateness. The fit's lower envelope runs through those
// (rate_fit.cpp), and a gap nobody reported shows as a step in them.
constexpr double LATENESS_WINDOW_SECONDS = 1.0;
// A stream that loses or gains samples without telling (PipeWire's ALSA
// plugin drops a quantum of a stream now and then, with no xrun) shifts
// every later stamp by the samples' time: the least late stamp steps by
// more than this and stays there. A stall moves it for a window at most,
// a busy machine's jitter by less over a few windows.
// Why 8 ms: docs/accuracy.md#rate-silent-gaps
constexpr double GAP_LIMIT_SECONDS = 0.008;
// A window's least late stamp is the floor of its lateness only when the
// window holds many stamps: with few, it moves from window to window with
// nothing lost. Why 20: docs/accuracy.md#rate-silent-gaps
constexpr int GAP_WINDOW_MIN_STAMPS = 20;

// The series relative to its first stamp, in seconds on both axes, with
// segments numbered densely from 0.
struct RateSeries {
    std::vector<double> streamSeconds;
    std::vector<double> systemSeconds;
    std::vector<int> segment;
    int segments = 0;
    int silentGaps = 0;  // segments started where no xrun was reported
};

RateSeries PrepareRateSeries(const RatePoint* points, size_t count, double nominalRate);
