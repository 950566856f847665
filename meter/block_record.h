// What became of one burst: the meter's row for it (one line of soundclock's
// --csv). The burst search sets the flags it saw (LOST, SEARCHED,
// CLIPPED); the line sets the verdict (USED, OUTLIER, JUMP) and the rest.
#pragma once

#include <cstdint>

// The flags of a row, as bits.
enum BlockFlag : unsigned {
    BLOCK_USED = 1u << 0,     // in the fit
    BLOCK_LOST = 1u << 1,     // no burst where expected, nor near it
    BLOCK_OUTLIER = 1u << 2,  // found, but off the line: left out
    BLOCK_JUMP = 1u << 3,     // the first burst after a jump
    BLOCK_CLIPPED = 1u << 4,  // samples at full scale in the burst
    BLOCK_SEARCHED = 1u << 5, // found by a search of the whole frame
};

struct BlockRecord {
    int64_t block = 0;        // burst index since the signal was first found
    double time = 0;          // seconds into the recording
    int64_t peakLag = 0;      // the integer peak, in samples, modulo FRAME_SAMPLES
    double delay = 0;         // position - FRAME_SAMPLES * block, samples, from the correlation's shape
    double phaseDelay = 0;    // the same from the carrier phase (unwrapped, samples)
    double carrierPhase = 0;  // radians, -pi..pi
    double level = 0;         // dB relative to full scale, RMS over the burst
    unsigned flags = 0;
    // For a burst used: its phase delay in the line's terms (the jumps taken
    // out), and the intercept it belongs to. A new one starts after a jump
    // that is not a whole number of samples and where the line starts again:
    // across the two the delay is not continuous.
    double linePhaseDelay = 0;
    int64_t segment = 0;
};
