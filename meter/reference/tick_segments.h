// Steps in the ticks' arrival too small to see within the twenty seconds
// TickSteps looks ahead (tick_steps.h), found over the whole run when the
// figure is made: a path's change of a few tenths of a millisecond under
// a timing scatter of a tenth of a millisecond shows over minutes, not
// seconds.
//
// Binary segmentation: in each segment, the split that a line with one
// slope and an intercept on either side fits best; kept where the
// intercepts differ by more than a floor (smaller steps do not matter to
// the rate: they are inside the scatter's share of it) and by many of
// their own deviations, those widened for the residuals' correlation from
// one tick to the next (a wandering delay must not pass for steps); then
// the same in each part. A split between chance and certainty is said, so
// that the figure's uncertainty can allow for it. Why the numbers: docs/accuracy.md#ticks-steps
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SegmentPoint {
    double x = 0;       // the tick's index
    double y = 0;       // its position, samples
    double weight = 1;  // relative: 1 / its variance
    uint32_t segment = 0;
};

struct Splits {
    int added = 0;
    // The clearest split not taken (fewer deviations than a split needs,
    // more than chance gives often): where a step may be that the run
    // cannot tell. 0: none.
    size_t doubtfulAt = 0;
};

// The points in order, their segments as found so far (not decreasing);
// renumbers `points`' segments with the splits added.
Splits SplitAtSteps(std::vector<SegmentPoint>& points, double floorSamples);
