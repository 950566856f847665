// The line through a reference's events: position (card samples) against
// the reference's own time (seconds), one slope for the run and one
// intercept per segment. The slope is the card's actual rate.
//
// Contract (what the meters rely on):
//   - Add() takes the events in order of position; positions keep their
//     fraction of a sample all the way (double), far from zero (hours at
//     96 kHz) without losing it: the sums are taken about running means.
//   - Predict() says where the line puts a reference time in a segment;
//     with fewer than two points it cannot, and says so.
//   - Fit() is meter/robust_line.h's line: points far off the line (beyond
//     a few robust deviations of the residuals) are left out and counted,
//     until the set is stable. The slope's standard uncertainty comes from
//     the residuals, weighted by each point's own scatter where the meter
//     knows it (only their proportions matter: the residuals set the
//     scale), and widened where the residuals are correlated from one
//     point to the next or wander over the run (a path delay, a tone's
//     drift), so that it holds against the scatter of repeated runs.
//   - Predict() is the plain least-squares line through every point so far
//     (kept up to date point by point, nothing left out): good enough to
//     track the next event by, never the figure.
//   - `extraSeconds`: a wander the meter knows of that no residual shows
//     (a standard uncertainty in seconds over the run), added to the
//     uncertainty as a slope over the run's length.
#pragma once

#include "meter/robust_line.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct EventLineFit {
    bool valid = false;          // a point more than the intercepts and the slope need, over some time
    double slope = 0;            // samples per reference second: the card's rate
    double slopeUncertainty = 0; // standard, samples per second
    double scatter = 0;          // RMS residual of the points used, samples
    double correlation = 0;      // the residuals' lag-one correlation
    double seconds = 0;          // reference time from the first point used to the last
    int64_t used = 0;
    int64_t leftOut = 0;         // beyond the robust limit
    int segments = 0;            // with points used
    std::vector<size_t> leftOutPoints;  // their order of Add(), from 0
};

class EventLine {
public:
    void Add(double referenceSeconds, double position, double scatter, uint32_t segment);
    size_t Count() const { return points.size(); }
    bool CanPredict(uint32_t segment) const;
    double Predict(double referenceSeconds, uint32_t segment) const;
    EventLineFit Fit(double extraSeconds = 0) const;

private:
    // A segment's weighted means and co-moments, kept up to date point by
    // point (Welford's way: no sums of large squares to cancel).
    struct Moments {
        double weight = 0, meanSeconds = 0, meanPosition = 0, sxx = 0, sxy = 0;
        int64_t count = 0;
    };
    double Slope() const;

    std::vector<LinePoint> points;
    std::vector<Moments> segments;
};
