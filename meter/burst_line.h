// The line through the bursts: each burst's delay (its position less
// FRAME_SAMPLES per burst, less the jumps so far) against its index, once
// by the coarse ruler (the fraction's fit) and once by the fine one (the
// carrier phase, unwrapped by the coarse delay). The phase's slope over
// FRAME_SAMPLES is the offset; the delay's is its cross-check.
//
// Consider() takes the bursts found, in order, and decides on each:
//   - used: weighted by its power and added to both lines;
//   - pending: off the line by the delay (a jump of a sample or more) or
//     by the phase alone; the next burst decides. Shifted like it: a jump,
//     taken out of the positions from the pending burst on (a whole number
//     of samples of either card keeps the intercept, SNAP_TOLERANCE; any
//     other starts a segment); otherwise the pending burst was an outlier;
//   - the line starts again: while it is young (fewer than YOUNG_BLOCKS
//     bursts) where its bursts stop stepping evenly (a jump, recorded as
//     measured by the delay) or more than one burst was lost since its
//     last (no jump claimed), and when RESTART_AFTER_REJECTED bursts in a
//     row were rejected (the line itself was wrong).
// Its verdicts come back in order, one or two a burst (the pending one's
// and its own; none for a burst left pending): each with the burst's row
// as it stands, and, for a burst used, what the young line's re-measure
// keeps of it.
// Memory: the sums of the lines (nothing per burst), the one burst pending.
#pragma once

#include "meter/block_record.h"
#include "meter/burst_search.h"
#include "meter/line_fit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct JumpEvent {
    double time = 0;     // seconds into the recording, where the burst showed it
    double samples = 0;  // positive: later (samples inserted), negative: earlier (dropped)
};

struct ClockEstimate {
    bool valid = false;
    double ppm = 0;             // from the carrier phase
    double uncertaintyPpm = 0;  // standard uncertainty, from the residuals
    double delayPpm = 0;        // from the delay alone
    double delayUncertaintyPpm = 0;
    bool agree = true;          // phase and delay agree within their uncertainties
    int64_t blocksUsed = 0;
    double secondsUsed = 0;     // from the first to the last burst used
};

// The line's first bursts are taken as they come (stepping evenly); from
// this many on the line judges the later ones. Its slope, once it has
// them, is what their re-measure allows for (meter/early_bursts.h).
constexpr int64_t YOUNG_BLOCKS = 6;

// What the line made of one burst.
struct LineVerdict {
    BlockRecord row;             // as it stands now
    bool restarted = false;      // the line starts again here: rows held for the old one are done
    bool jumped = false;         // a jump was confirmed here (`jump`), before the row
    JumpEvent jump;
    // For a burst used (BLOCK_USED in row.flags): its place in the line
    // (the bursts before it since the line started), the burst as used,
    // its weight and its phase delay.
    int64_t index = 0;
    BurstMeasurement burst;
    double weight = 0;
    double phaseDelay = 0;
};

// The verdicts of one call, in order: at most the pending burst's and this one's.
class LineVerdicts {
public:
    void Add(const LineVerdict& verdict) { items[count++] = verdict; }
    const LineVerdict* begin() const { return items; }
    const LineVerdict* end() const { return items + count; }

private:
    LineVerdict items[2];
    size_t count = 0;
};

// A young line's burst measured again, as the line takes it anew.
struct RemeasuredBurst {
    int64_t block = 0;
    double position = 0;
    double delay = 0;
    double phaseDelay = 0;
    double weight = 0;
};

class BurstLine {
public:
    // `carrierPerSample`: the burst's carrier cycles per signal sample.
    BurstLine(int32_t recordingRate, long double carrierPerSample);

    // The first burst was found at `originLag`, with this magnitude: the
    // positions are kept relative to it, the weights to the magnitude.
    void Start(int64_t originLag, double magnitude);
    LineVerdicts Consider(const BurstMeasurement& burst);
    // At the end: a burst still pending was an outlier.
    LineVerdicts Finish();
    // A young line made anew from its bursts measured again, in order
    // (YOUNG_BLOCKS of them; no jump lies among them).
    void Refit(const std::vector<RemeasuredBurst>& points);

    // Where burst `block` is expected, in absolute samples.
    double ExpectedPosition(int64_t block) const;
    // Whether the line predicts well enough for a narrow search.
    bool Settled() const;
    // The recording's samples per signal sample less 1, as the lines have
    // it so far (0 before they have a slope): the stretch of the burst.
    double Stretch() const;
    // The magnitude of the bursts used lately (a running mean).
    double UsualMagnitude() const { return typicalMagnitude; }

    // The delay of a burst at `position` (absolute samples) in the lines'
    // terms: less the origin, FRAME_SAMPLES per burst and the jumps so far.
    double DelayOf(double position, int64_t block) const;
    // The delay the phase gives, of the values a carrier wavelength apart
    // the one nearest to `target`; in the lines' terms.
    double PhaseDelayNear(double phase, double target) const;
    // The burst's row, with these delays (in the lines' terms).
    BlockRecord Row(const BurstMeasurement& burst, double delay, double phaseDelay) const;

    ClockEstimate Estimate() const;
    int64_t OutlierBlocks() const { return outlierBlocks; }
    int64_t ClippedBlocks() const { return clippedBlocks; }

private:
    void Restart();
    void ConsiderYoung(const BurstMeasurement& burst, double delay, LineVerdicts& verdicts);
    void ConsiderMature(const BurstMeasurement& burst, double delay, LineVerdicts& verdicts);
    double PhaseTarget(double delay) const;
    void DecidePending(const BurstMeasurement& next, double offset, double coarse, double expectedPhaseDelay, double phaseLimit,
                       double delayLimit, LineVerdicts& verdicts);
    LineVerdict RejectPending();
    LineVerdict StartAgainWith(const BurstMeasurement& burst, double delay);
    LineVerdict Accept(const BurstMeasurement& burst, double delay, double phaseDelay);
    double SnapJump(double jump, bool& snapped) const;
    double PredictedDelay(int64_t block) const;
    double PredictedPhaseDelay(int64_t block) const;

    int32_t recordingRate = 8000;
    double carrierWavelength = 0;  // samples per carrier cycle
    int64_t originLag = 0;         // the first burst's lag: positions are kept relative to it
    double jumpTotal = 0;          // the jumps so far, taken out of the positions
    double typicalMagnitude = 0;
    SegmentedLineFit phaseLine, delayLine;
    int64_t lastBlock = 0;                     // the last burst used
    double lastDelay = 0, lastPhaseDelay = 0;  // of it
    double lastStep = 0;                       // its delay's change per burst from the one before
    double firstUsedPosition = 0, lastUsedPosition = 0;
    // A burst off the line, waiting for the next to tell a jump from an outlier.
    bool pendingValid = false;
    BurstMeasurement pending;
    double pendingDelay = 0, pendingPhaseDelay = 0;  // as measured, in the lines' terms
    double pendingOffset = 0;  // its delay's distance from the line (coarse)
    double pendingJump = 0;    // the jump it would be, refined by the phase
    bool pendingSnapped = false;
    int64_t consecutiveRejected = 0;
    int64_t segment = 0;  // counts the intercepts, restarts included (BlockRecord::segment)
    int64_t outlierBlocks = 0, clippedBlocks = 0;
};
