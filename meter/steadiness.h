// Did the offset stand still? Two tests of one straight line through a
// run's phase (one delay per burst, in samples, NaN where missing, with
// an intercept of its own per stretch between jumps):
//   - the drift: a quadratic term of the whole run's fit against its own
//     uncertainty, and
//   - the wander: the slopes of short windows about a straight line
//     through them, against their uncertainties (a chi-square).
// Each is set for half of FALSE_ALARM on white noise, so a steady clock is
// called unsteady in at most FALSE_ALARM of runs. Every uncertainty also
// allows for the rulers' systematic error, at its worst for the term it
// enters, so what they make by themselves is not taken for a moving clock.
#pragma once

#include "common/signal_facts.h"
#include "meter/burst_reference.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The rulers' systematic error, RMS, in samples of phase delay: the fine
// fit's error that follows the fractional delay, which no residual shows.
// Allowed for so that a steady clock is not called unsteady for it; why
// this much: docs/accuracy.md#ruler-systematic.
constexpr double RULER_SYSTEMATIC_SAMPLES = 0.0001;
// A steady clock is called unsteady in at most this share of runs.
constexpr double FALSE_ALARM = 0.01;
// The wander test's windows: short enough to see a period of 10 s.
constexpr double WANDER_WINDOW_SECONDS = 4;

struct SteadinessSettings {
    double blockSeconds = static_cast<double>(FRAME_SAMPLES) / DEFAULT_SAMPLE_RATE;  // between bursts (the series' step)
    double systematicSamples = RULER_SYSTEMATIC_SAMPLES;
};

struct Steadiness {
    bool valid = false;  // enough bursts to judge by
    bool steady = true;
    bool drifts = false, wanders = false;
    double driftPpmPerMinute = 0;
    double driftUncertaintyPpmPerMinute = 0;
    double startPpm = 0, endPpm = 0;  // over the run's first and last tenth
    double wanderPpm = 0;             // the amplitude of a sine with the windows' RMS about their line
    double driftScore = 0;            // the drift over its uncertainty
    double wanderChiSquare = 0;
    int64_t wanderFreedom = 0;
    double wanderLimit = 0;           // the chi-square beyond which it wanders
};

Steadiness JudgeSteadiness(const std::vector<double>& delay, const std::vector<size_t>& stretchStarts,
                           const SteadinessSettings& settings);

// The chi-square value that chance exceeds with probability `tail`
// (Wilson and Hilferty's approximation).
double ChiSquareLimit(double freedom, double tail);
