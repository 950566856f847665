// Steps in the tone's phase too small for the tracker to see block by
// block (tone_tracker.h): a few tenths of a block's noise, found over a
// whole segment, can still bias the slope by its uncertainty. PipeWire
// dropping a quantum that holds nearly a whole number of the tone's cycles
// makes one (1000 Hz at 8000 Hz, 256 samples lost: 32 cycles less the
// card's offset, 0.003 cycles at 100 ppm).
//
// In each segment, at each block with MIN_SIDE_SECONDS of blocks to either
// side, the residual sum of squares a step in phase there would take away
// from the segment's own line, against the noise (the residuals' variance
// times the blocks' correlation factor); its largest, beyond the limit
// that chance exceeds in FALSE_ALARM of segments, is a step, unless a
// change of slope there (the tone's frequency jumping, or wandering)
// explains the residuals better. Each step found splits its segment, the
// blocks that may hold it left out, and the halves are searched again.
#pragma once

#include "meter/reference/tone_fit.h"

#include <cstdint>
#include <vector>

// Splits the segments of `points` (in order of index, segments numbered
// upwards) at the steps found, renumbering the later ones; returns how many.
// `floorSamples`: a block's error that no noise explains (SYSTEMATIC_CYCLES
// as samples), allowed for beside the residuals.
int64_t SplitAtSteps(std::vector<TonePoint>& points, double correlationFactor, double floorSamples);
