// The tone's phase followed from block to block (tone_demodulator.h):
// unwrapped into whole cycles, each block's phase judged against a
// prediction, and the blocks that cannot be trusted left out.
//
// The prediction is a phase-and-frequency tracker (a fading-memory
// polynomial filter of a second or so, which follows a tone that wanders
// slowly) with an expanding memory at the start. A block whose phase lies
// far from it (ALARM_SIGMAS of the innovations' own scatter), or the end of
// a run of blocks where the tone fell away (WEAK_FRACTION of its
// amplitude), raises an alarm; once LINE_BLOCKS more blocks have come, a
// line with one slope and two intercepts through the blocks to either side
// says whether the phase stepped there:
//   - a step (more than STEP_SIGMAS): the stream lost or repeated samples
//     that no xrun reported (PipeWire drops a 10.7 ms quantum so), or the
//     tone's own phase jumped. The blocks that may hold it are left out
//     (EVENT_JUMP) and a new segment starts after them, with an intercept
//     of its own in the line: the step costs nothing but those blocks.
//   - no step: the blocks far from the line (a click) are left out as
//     outliers, the others kept.
// A whole number of cycles lost is no step at all: the phase cannot tell,
// and the rate does not care.
//
// Contract: Add() takes the demodulator's blocks in order; each makes one
// record. Records [0, Settled()) are final (their flags and segments do
// not change again); the rest wait for HOLD_BLOCKS more blocks, or until an
// alarm among them is resolved. Finish() settles all. Memory: one record
// a block (16 a second).
#pragma once

#include "meter/reference/line_sums.h"
#include "meter/reference/tone_demodulator.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A block whose amplitude falls below this share of the tone's is not
// used: 12 dB down, three and a half standard deviations of a block's
// amplitude at the weakest tone the search accepts (MIN_BLOCK_SNR_DB).
constexpr double WEAK_FRACTION = 0.25;

struct ToneRecord {
    int64_t index = 0;       // blocks from the first
    double centre = 0;       // samples from the first pushed
    double cycles = 0;       // the tone's unwrapped phase there, from the first block's
    double amplitude = 0;
    double level = 0;        // the tone's amplitude as followed (a running mean)
    double innovation = 0;   // its phase against the prediction, cycles
    double deviation = 0;    // a block's phase noise as judged so far, cycles (RMS)
    uint32_t segment = 0;
    unsigned flags = 0;      // EVENT_* (reference_event.h)
};

struct ToneTrackerStart {
    double cyclesPerSample = 0;   // the tone's frequency as found
    int hop = 0;
    double amplitude = 0;         // as found
    double phaseDeviation = 0;    // a block's, as the search's noise says (cycles)
    double correlationFactor = 1; // ToneDemodulator::CorrelationFactor()
};

class ToneTracker {
public:
    explicit ToneTracker(const ToneTrackerStart& start);

    void Add(const ToneBlock& block);
    void Finish();

    const std::vector<ToneRecord>& Records() const { return records; }
    size_t Settled() const { return settled; }
    int64_t StepsFound() const { return stepsFound; }
    // Blocks in a row at the end where the tone was too weak to use.
    int64_t WeakRun() const { return weakRun; }
    // Cycles a sample, from the tracker's frequency.
    double CyclesPerSample() const { return cyclesPerHop / hop; }

private:
    struct Alarm {
        bool pending = false;
        size_t first = 0, last = 0;  // the records that may hold the step
    };
    // Where the phase was expected, and the tracker moved on by `innovation`.
    double Predict(int64_t index) const;
    void Follow(double innovation, bool jumpTo, double measured);
    void Judge(ToneRecord& record);
    void UpdateDeviation(ToneRecord& record);
    void RaiseAlarm(size_t first, size_t last);
    void ResolveAlarm(bool atEnd);
    // The used blocks of one segment next to an alarm, LINE_BLOCKS at most,
    // (x less x0, phase): backwards from `from` (not included) or forwards
    // from it.
    LineSums SideOfAlarm(size_t from, bool forward, double x0) const;
    // Leaves out records [first, last] and starts a segment after them;
    // `found`: a step the lines showed (counted), not one assumed.
    void StepAfter(size_t first, size_t last, bool found);
    void Settle();

    ToneTrackerStart start;
    int hop;
    std::vector<ToneRecord> records;
    size_t settled = 0;
    Alarm alarm;
    int64_t stepsFound = 0, weakRun = 0;
    size_t firstWeak = 0;
    uint32_t segment = 0;
    bool newSegment = true;    // the next used block starts a segment
    bool segmentUsed = false;  // the current segment has a used block

    // The tracker: the phase at `phaseIndex`, the frequency per hop.
    double phase = 0, cyclesPerHop = 0;
    int64_t phaseIndex = -1;
    int64_t followed = 0;              // blocks it has followed (its memory expands up to MEMORY_BLOCKS)
    int64_t sinceJump = 0;             // blocks since it jumped to a block's phase
    double innovationVariance = 0;     // of those blocks' innovations
    double deviationVariance = 0;      // a block's phase noise, from second differences
    int64_t innovationCount = 0, deviationCount = 0;
    double amplitude = 0;              // the tone's, as followed
};
