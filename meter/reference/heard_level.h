// The level of everything pushed into a meter, and where its samples
// reached full scale: for the words on what was heard (ReferenceHeard),
// and so that a tick with clipped samples at its start is not timed.
//
// What goes in: the samples as pushed, in order, in pieces of any size
// (the tick meter pushes a tenth of a second at a time, so that the clips
// remembered are those of the seconds being measured). What comes out: the
// rms, the peak, the samples clipped, and whether a clip lies near a
// position. Keeps: four sums, and the ends of the runs of clipped samples
// not yet asked past (up to a number: a stream clipping all the time clips
// the ticks too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

class HeardLevel {
public:
    void Add(const float* samples, size_t count);

    uint64_t Samples() const { return samplesPushed; }
    double Rms() const;  // 0 before any sample
    double Peak() const { return peak; }
    uint64_t Clipped() const { return clipped; }

    // Whether clipped samples lie within `guard` samples of `position`
    // (counting from the first pushed). Asked in order of position: the
    // clips before it are forgotten.
    bool ClippedNear(double position, double guard);

private:
    uint64_t samplesPushed = 0;
    double sumSquares = 0, peak = 0;
    uint64_t clipped = 0;
    std::deque<double> clips;  // positions of clipped samples (runs' ends) not yet asked past
};
