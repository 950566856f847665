// A card's receive and transmit clocks from one run with one cable (its
// output looped to its input): the receive (capture) clock against a
// reference, and the loop's offset, the capture against the playback, from
// the test signal played on the output and recorded on the input.
//
// The signs, with r the receive clock and t the transmit clock against the
// reference (positive: the card runs fast: more samples a second than its
// nominal rate), and L the loop's offset as `soundclock loop` reports it
// (the recording side against the playing side, positive: the recording
// side fast; with a capture opened at R2 and a playback at R, L holds the
// nominal ratio: it is the capture's samples per playback sample, less 1):
//
//     1 + L = (R2 (1 + r)) / (R (1 + t))   so   t = (R2 / R) (1 + r) / (1 + L) - 1
//
// r is against R2, t against R. With R2 = R, t is about r - L.
//
// The uncertainties are combined as independent (root sum of squares): what
// r and L share is the capture's own clock, whose wander over the run
// would cancel in t; their noise is not shared (the reference's events, or
// the system clock's stamps, for r; the burst fit for L), so the sum holds
// as an upper bound (docs/accuracy.md#calibrate-combination).
#pragma once

struct ClockFigure {
    bool valid = false;
    double ppm = 0;
    double uncertaintyPpm = 0;
    double nominalRate = 0;  // Hz: what the figure is against

    double RateHz() const { return nominalRate * (1 + ppm * 1e-6); }
};

struct LoopFigure {
    bool valid = false;
    double ppm = 0;             // L
    double uncertaintyPpm = 0;
    double playRate = 0;        // R, the playback's nominal rate
    double recordRate = 0;      // R2, the capture's
};

// Beyond this much, once the nominal rates' ratio is taken out, the loop
// is not this card's output coming back (another card, or a rate converter
// in the path): cards are off by a few hundred ppm at most.
constexpr double LOOP_EXCESS_LIMIT_PPM = 5000;

struct Calibration {
    bool valid = false;  // receive and loop both valid
    ClockFigure receive;
    ClockFigure transmit;
    LoopFigure loop;
    // The loop's offset with the nominal ratio taken out: (1 + L) R / R2 - 1,
    // ppm; the receive clock against the transmit clock, each against its
    // own nominal rate.
    double loopExcessPpm = 0;
    bool loopPlausible = true;  // within LOOP_EXCESS_LIMIT_PPM
};

Calibration Combine(const ClockFigure& receive, const LoopFigure& loop);

// Whether a figure agrees with the same side's rate against the system
// clock, measured in the same run: within three combined uncertainties.
bool AgreesWithin3(const ClockFigure& figure, const ClockFigure& other);
