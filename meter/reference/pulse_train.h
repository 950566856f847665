// Where a second pulse's edges may be, coarsely: candidate edges in the
// first difference of the samples (runs above a threshold set from the
// noise), and the train of one a second among them.
//
// A pulse longer than the card's filter shows two edges of opposite sign
// a pulse's width apart (AC-coupled or not): two trains, each one a
// second. The leading edge is the one the other follows within half a
// second. A pulse near half a second wide cannot tell which leads; then
// the polarity asked for does, and otherwise the rising edge is taken (the
// rate is the same from either: both come once a second). A pulse shorter
// than the filter gives one doublet, whose larger lobe may take either
// sign: its train is matched by position alone.
#pragma once

#include "meter/reference/reference_kind.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct EdgeCandidate {
    // The first difference's sample (x[n] - x[n-1]) where the edge peaks:
    // the earliest peak within half the run's highest, so that a pulse
    // whose two edges fall in one run is placed by its leading one.
    int64_t position = 0;
    double peak = 0;  // |difference| there
    int sign = 0;     // of the difference there
    // The step of the samples across the run over its highest difference:
    // near 1 for an edge, near 0 for a short pulse's doublet.
    double step = 0;
};

// The first difference's noise: its robust standard deviation (the median
// absolute value over a subset, scaled), which the pulses' few samples do
// not move.
double DifferenceNoise(const double* difference, size_t count);

// The candidates in `difference` (the first difference at positions
// `first`, `first` + 1, ...): runs of |difference| above `threshold`, joined
// where less than EDGE_RUN_GAP apart. `count` values are judged; `after`
// more must follow (a run that reaches into them is measured whole, and
// one that starts there is left to the next call).
std::vector<EdgeCandidate> FindEdgeCandidates(const double* difference, int64_t first, size_t count, size_t after,
                                              double threshold);
// Samples between two runs that still make one candidate.
constexpr int EDGE_RUN_GAP = 32;

// A train's next edge lies within this fraction of a second of a second
// after the last: a card 2000 ppm off its rate, far beyond any working one.
constexpr double PULSE_PERIOD_TOLERANCE = 0.002;

struct PulseTrainVerdict {
    bool found = false;
    // The leading edges, one a second, in order (when found).
    std::vector<EdgeCandidate> leading;
    int leadingSign = 0;          // +1 rising, -1 falling, 0 a doublet
    double widthSamples = 0;      // to the trailing edge (0: one run per pulse)
    double pulsesPerSecond = 0;   // as the candidates show (whether found or not)
    bool periodic = false;        // some train of one a second was there
};

// The train among `candidates` (in order of position) over `seconds`
// seconds of `rate` samples, with `pulses` the number of whole seconds a
// train must hold.
PulseTrainVerdict FindPulseTrain(const std::vector<EdgeCandidate>& candidates, int64_t spanBegin, double rate,
                                 int pulses, PulsePolarity polarity);
