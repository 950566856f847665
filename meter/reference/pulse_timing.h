// A second pulse's edge timed in the recent samples, against the edge's
// learnt template (edge_template.h): the PPS meter's look at one pulse.
//
// What goes in: the ring of recent samples (sample_ring.h) and a coarse
// centre, a sample position near the edge's steepest point (a candidate
// edge's, or where the line puts the pulse). What comes out: the edge's
// window of first differences, whether the pulse clipped, its peak level,
// and its position to a fraction of a sample with its scatter. Keeps
// nothing; a centre too near the ring's ends for a whole window gives no
// window (and so no timing: the pulse is reported as missed).
#pragma once

#include "meter/reference/edge_template.h"
#include "meter/reference/pulse_line.h"
#include "meter/reference/sample_ring.h"

#include <cstdint>
#include <optional>
#include <vector>

// Samples this close to full scale are clipped.
constexpr double PPS_CLIP_LEVEL = 0.999;

// Whether a fit found a pulse there (not the noise a missing one leaves).
bool PulsePresent(const EdgeFit& fit);

// EDGE_WINDOW_LENGTH first differences centred on `centre`; empty where
// they are not all in the ring.
std::vector<double> DifferenceWindow(const SampleRing& ring, int64_t centre);
// Whether a sample around `centre` (the window's span) is at full scale.
bool ClippedAround(const SampleRing& ring, int64_t centre);
// The peak level around `centre` (the window's span), dBFS.
double LevelAround(const SampleRing& ring, int64_t centre);

// Pulse `index`, its edge near `centre`: timed by the template (once more
// from the nearer sample where the coarse centre is a sample or more off),
// clipped, or missed (at `centre`) where the template does not fit it.
PulseObservation TimePulse(const SampleRing& ring, const EdgeTemplate& edge, int64_t index, int64_t centre);

// The centre in [from, to] (as far as whole fit windows are in the ring)
// where the template matches best, if it matches enough for a pulse there.
std::optional<int64_t> BestMatch(const SampleRing& ring, const EdgeTemplate& edge, int64_t from, int64_t to);
