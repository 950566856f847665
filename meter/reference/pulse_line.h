// The pulses' line across the stream's steps: each pulse due goes in, in
// order (timed, missing or clipped), is judged against the line through
// those before it, and comes out as its event.
//
// A timed pulse off the line by far more than its scatter is held: if the
// next pulse lies off by the same, the stream stepped (samples lost or
// repeated) at the held one; if not, the held one was an outlier. A step of
// a whole number of samples keeps the intercept (later positions are taken
// less the samples); a fraction of a sample, or a block so long it may have
// swallowed a pulse, starts a segment. A discontinuity the stream reported
// is judged by the first pulse after it alone. Each pulse's event is given
// once it is settled: a held pulse's with the next one's.
#pragma once

#include "meter/reference/event_line.h"
#include "meter/reference/reference_event.h"

#include <cstdint>
#include <optional>
#include <vector>

struct PulseObservation {
    enum class Kind { Timed, Missed, Clipped } kind = Kind::Missed;
    int64_t index = 0;    // pulse number: reference seconds from the first
    double position = 0;  // samples, as pushed (where it was due, if missed)
    double scatter = 0;   // standard, samples (timed only)
    double levelDbfs = 0;
};

class PulseLine {
public:
    explicit PulseLine(int sampleRate) : rate(sampleRate) {}

    // Appends the events settled by `seen` to `events`.
    void Observe(const PulseObservation& seen, std::vector<ReferenceEvent>& events);
    // The stream reported a discontinuity: before the sample at `position`.
    void MarkDiscontinuity(int64_t position) { reportedAt = position; }
    // The next timed pulse starts a segment of its own (the pulses were
    // lost and found again: how many seconds went by is not known).
    void StartSegment() { segmentDue = true; }
    // Settles a pulse still held: with nothing after it to confirm a step,
    // it stays out.
    void Finish(std::vector<ReferenceEvent>& events);

    // Where the line puts pulse `index` (as pushed); empty without a line
    // in the current segment.
    std::optional<double> Predict(int64_t index) const;
    // The position of a pulse held (not yet settled), or empty.
    std::optional<double> HeldPosition() const;
    const EventLine& Line() const { return line; }

    int64_t timed = 0, missed = 0, clipped = 0, outliers = 0;
    int64_t stepsFound = 0;  // steps no report announced

private:
    double Residual(const PulseObservation& seen) const;
    double StepLimit(const PulseObservation& seen) const;
    void Step(const PulseObservation& first, double step, double stepScatter, bool reported,
              std::vector<ReferenceEvent>& events);
    void Use(const PulseObservation& seen, unsigned flags, std::vector<ReferenceEvent>& events);
    ReferenceEvent Event(const PulseObservation& seen, unsigned flags, double residual) const;

    const int rate;
    EventLine line;
    uint32_t segment = 0;
    double stepOffset = 0;                 // whole samples lost (+) or repeated (-) in this segment so far
    std::optional<PulseObservation> held;  // off the line: a step if the next follows it
    std::optional<int64_t> reportedAt;
    double recentScatter = 0;              // the last pulses' distance from the line, RMS
    bool segmentDue = false;
};
