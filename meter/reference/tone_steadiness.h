// Did the rate against the tone hold still? (If not, the card's clock or
// the tone moved: the samples cannot tell which.) The slope of the line's residuals over each
// WANDER_WINDOW_SECONDS window (meter/steadiness.h), from blocks that
// share no sample (every BLOCK_OVERLAP-th: their noise is independent),
// against its uncertainty from the windows' pooled residuals: a steady tone
// gives one slope everywhere, and their chi-square about their weighted
// mean beyond the FALSE_ALARM limit says its frequency moved. If a single
// step between two levels explains the windows, it jumped; otherwise it
// wandered.
#pragma once

#include "meter/reference/tone_fit.h"
#include "meter/robust_line.h"

#include <string>
#include <vector>

struct ToneSteadiness {
    bool judged = false;  // windows enough (3 or more)
    bool steady = true;
    double birge = 1;     // the root of the chi-square over its freedom, where unsteady
    std::string words;    // what moved, where unsteady
};

// `line`: the robust line through `points` (in the same order); the points
// it left out are left out here too.
ToneSteadiness JudgeToneSteadiness(const std::vector<TonePoint>& points, const RobustLine& line,
                                   const ToneFitSettings& settings);
