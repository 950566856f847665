// A GPS receiver's second pulse as a sound card's line input records it,
// with a known truth: the pulse's leading edge at every whole second of the
// reference's time, the card's clock (CardClock) taking the samples.
//
// The chain, as a continuous-time signal evaluated exactly at each
// sample's moment (so that the generator itself adds no timing error):
//   pulse (width, polarity, level; edges slowed by a rise time: a linear
//   ramp) -> AC coupling (a first-order high-pass) -> the card's
//   anti-alias filter (a Blackman-windowed sinc low-pass, linear phase,
//   cutoff a fraction of the nominal rate) -> hum and white noise added ->
//   the card's gain, clipped at full scale.
// A pulse's response to one edge is tabulated once on a grid of 1/64 of a
// sample, with its slope, and read by cubic Hermite interpolation: the
// reading's error is below 1e-9 of the pulse's height, far below 1e-4
// sample of timing. The high-pass's decay after the filter's span is
// computed exactly (an exponential).
//
// Output: float samples, full scale 1 (a pulse of `level` 0.5 peaks at
// half scale before the filter's overshoot).
#pragma once

#include "tests/reference/card_clock.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct PpsSignal {
    CardClock clock;
    double seconds = 60;             // of recording
    // The pulse
    double widthSeconds = 0.1;
    bool rising = true;              // the leading edge goes up
    double level = 0.5;              // the pulse's height, full scale
    double riseSeconds = 0;          // each edge a ramp this long (0: a step)
    // The card
    double antiAliasFraction = 0.45; // the low-pass's cutoff over the nominal rate (0: none)
    double highPassHz = 0;           // AC coupling's cutoff (0: DC-coupled)
    double gain = 1;                 // before clipping at full scale
    // What else the line picks up
    double humLevel = 0;             // amplitude of the mains' fundamental, full scale
    double humHz = 50;
    std::vector<double> humHarmonics;  // amplitudes of the 2nd, 3rd, ... over the fundamental's
    double noiseRms = 0;             // white, full scale
    uint64_t seed = 1;
    // Faults
    std::vector<int64_t> missingPulses;   // reference seconds with no pulse
    std::vector<double> extraPulses;      // reference times of pulses between the seconds
    std::vector<int64_t> loudPulses;      // reference seconds whose pulse has `loudLevel` (clipped)
    double loudLevel = 2;
    struct Step {
        double atSeconds = 0;  // reference time at which the stream steps
        double samples = 0;    // lost (positive) or repeated (negative); a fraction: the stream restarted off the card's phase
    };
    std::vector<Step> steps;
};

// The recording: seconds * nominal rate samples (rounded half to even).
std::vector<float> MakePpsSignal(const PpsSignal& signal);

// dBFS as an amplitude (full scale 1).
double FromDbfs(double dbfs);
