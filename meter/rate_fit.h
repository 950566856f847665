// A sound card's actual sample rate against the system clock, from pairs of
// (stream position, system time) that the sound system stamps as the stream
// runs.
//
// The system time of position n is t = t0 + n / rate + lateness: the stamp
// is taken when the card's interrupt, the audio server or the application
// gets round to it, which a scheduling delay only ever makes later. A
// least-squares line of time against position is unbiased under any
// steady lateness, but a stall of tens of milliseconds among jitter of a
// few would pull it; so the fit is iterated, leaving out the points whose
// residual lies far from the median in units of the residuals' own robust
// scale (the median absolute deviation), until the set is stable. An xrun
// breaks the relation between position and time: each segment gets its own
// intercept and all share the slope. So does a gap that no xrun reported
// (samples lost or gained: every later stamp steps by their time and stays
// there), found where the least late stamps step and hold (rate_series.h
// says by how much, over how many stamps).
//
// Some sound systems move the position in chunks, or their stamps follow a
// pattern (an audio server's quantum, its rate control loop): then the
// least late stamp of each window lies far closer to the card's line than
// the rest. The same robust fit through those alone is the lower
// envelope; of the two, the figure with the smaller uncertainty is given.
// A lateness drifting over the whole run would pass for a rate in either;
// it parts the two, and where the line through all stamps is given, what
// they disagree by beyond their uncertainties is added to its uncertainty.
//
// Nor does any residual show a lateness that drifts steadily over the whole
// run (through an audio server the least late stamps of every stream move
// together: docs/accuracy.md#rate-lateness-drift). The caller's allowance
// for it is added to the uncertainty.
//
// The line and its uncertainty are robust_line.h's: the residuals' own,
// widened for their correlation from one stamp to the next (a lateness
// that lingers over several periods carries less information than
// independent jitter), and at least that of a line through their means over
// fifths of the run (an audio server settling, a busy spell on the
// machine). A wander slower than a few tenths of the run no residual
// shows: the run must be long against it.
#pragma once

#include <cstddef>
#include <cstdint>

// One stamp: the frames the card had played or captured by `systemSeconds`.
// `segment` goes up after each xrun.
struct RatePoint {
    uint64_t frames = 0;
    double systemSeconds = 0;
    uint32_t segment = 0;
};

struct RateEstimate {
    bool valid = false;          // enough stamps over enough time for a slope
    double rate = 0;             // samples per second of the system clock
    double ppm = 0;              // from the nominal rate; positive: the card runs fast
    double uncertaintyPpm = 0;   // standard uncertainty
    double seconds = 0;          // system time from the first stamp used to the last
    int segments = 0;            // with stamps used
    int silentGaps = 0;          // steps in the stamps no xrun reported (each starts a segment)
    int64_t stamps = 0;          // all there were
    int64_t pointsUsed = 0;      // in the line (the lower envelope: one a second)
    int64_t pointsLeftOut = 0;   // late (or early) beyond the robust limit
    double jitterSeconds = 0;    // the residuals' standard deviation
    double correlation = 0;      // the residuals' lag-one correlation
    bool lowerEnvelope = false;  // fitted through each second's least late stamp
    double driftAllowancePpm = 0;  // in uncertaintyPpm: the stamps' lateness drifting unseen
};

// `points` in the order taken (positions not decreasing within a segment).
// `latenessDriftSeconds`: how far the stamps' lateness may drift over the
// run with no residual showing it (a standard uncertainty; the backend
// knows its stamps): the same over any length of run, so it adds that
// over the run's length to the uncertainty.
RateEstimate FitRate(const RatePoint* points, size_t count, double nominalRate, double latenessDriftSeconds = 0);
