// The card's rate from the tone's settled records (tone_tracker.h): the
// line through them, its uncertainty, and whether the tone held still.
//
//   - The line: the events' robust line (meter/robust_line.h, as
//     event_line.h fits it): position against the tone's time (its
//     unwrapped phase over its frequency), one intercept per segment, each
//     block weighted by its phase noise, outliers left out.
//   - Steps in phase too small for the tracker to see at once (a few
//     tenths of a block's noise can bias the slope by its uncertainty), found
//     over each whole segment (tone_steps.h), each a new segment, as long as
//     the tone then reads steady: otherwise its wander, not steps, is what
//     the residuals show, and it is said instead.
//   - The uncertainty: the slope's from the residuals, times the square
//     root of the blocks' correlation factor (they overlap: their errors are
//     not independent, and the residuals alone would claim sqrt 2 too
//     much), in place of the line's own widening for a lag-one correlation;
//     where the steadiness test (tone_steadiness.h) finds the tone
//     unsteady, times its Birge ratio.
#pragma once

#include "meter/reference/reference_meter.h"
#include "meter/reference/tone_tracker.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Less of the tone's time than this gives no figure.
constexpr double MIN_FIT_SECONDS = 1;

// A used block, as the line takes it.
struct TonePoint {
    double seconds = 0;   // the tone's time: unwrapped phase over its frequency
    double position = 0;  // samples
    double scatter = 0;   // samples: the line's weight
    uint32_t segment = 0;
    int64_t index = 0;    // the block's
};

struct ToneFitSettings {
    int sampleRate = 0;
    double toneHz = 0;
    double correlationFactor = 1;  // ToneDemodulator::CorrelationFactor()
    int64_t stepsFound = 0;        // by the tracker
    int64_t gapsReported = 0;      // by the stream
};

// The estimate from records [0, count).
ReferenceEstimate FitTone(const std::vector<ToneRecord>& records, size_t count, const ToneFitSettings& settings);
