#include "meter/burst_line.h"

#include "common/signal_facts.h"
#include "meter/input_summary.h"

#include <algorithm>
#include <cmath>

namespace {

// A delay this far off the line (samples), or six of its deviations, is a
// jump or an outlier.
constexpr double JUMP_THRESHOLD = 0.5;
// A jump this close to a whole number of samples (of either card) is taken
// as exactly that, so the line goes on with the same intercept.
constexpr double SNAP_TOLERANCE = 0.05;
// A phase delay this far off the line, or this many deviations, is an outlier.
constexpr double OUTLIER_FLOOR = 0.05;
constexpr double OUTLIER_DEVIATIONS = 6;
// A line of fewer bursts gives no figure, and its phase's scatter judges
// no burst: too few residuals to tell a deviation by.
constexpr int64_t MIN_BLOCKS = 8;
// A young line bridges at most this many bursts lost since its last one
// used, expecting its one step so far times the bursts: in noise that
// guess strays by a jump's threshold soon after (why one:
// docs/accuracy.md#young-line-gaps).
constexpr int64_t MAX_YOUNG_LOST = 1;
// This many bursts rejected in a row restart the line.
constexpr int64_t RESTART_AFTER_REJECTED = 4;
// A jump among a young line's first bursts is reported as a whole number
// of samples where the delay's step is within this much of one: the delay
// alone measures it there, to far better than a quarter of a sample.
constexpr double WHOLE_JUMP_TOLERANCE = 0.25;
// The lines predict from this many bursts on: the delay's as soon as it is
// a line; the phase's one burst later, when it has a residual, since its
// first bursts were unwrapped by the coarse delay alone.
constexpr int64_t DELAY_PREDICTS_FROM = 2;
constexpr int64_t PHASE_PREDICTS_FROM = 3;
// From this many bursts on, with none pending, the line predicts a burst
// to within the narrow search's few lags (meter/burst_search.h); a pending
// burst may be a jump, which the wide search still finds.
constexpr int64_t NARROW_FROM = 4;
// The burst's stretch allowed for is at most 2 %, twice the largest offset
// the meter follows: a young line's slope, however wild, does not distort
// the fit of the fraction more than that.
constexpr double MAX_STRETCH = 0.02;
// A burst's weight (its power relative to the usual) stays within these:
// a click or a fading burst neither outweighs the line nor vanishes from it.
constexpr double MIN_WEIGHT = 0.1, MAX_WEIGHT = 10.0;
// The usual magnitude is a running mean over about ten bursts used.
constexpr double MAGNITUDE_SHARE = 0.1;
// The largest bias of the delay's fit of the fraction (samples): it
// follows the fractional delay (docs/accuracy.md#fine-delay-bias), and is
// no noise, so the residuals understate it.
constexpr double FINE_DELAY_BIAS = 0.002;
// The phase and the delay agree when their slopes differ by at most this
// many combined uncertainties, besides the bias's bound.
constexpr double AGREEMENT_UNCERTAINTIES = 5;

}  // namespace

BurstLine::BurstLine(int32_t rate, long double carrierPerSample)
    : recordingRate(rate), carrierWavelength(carrierPerSample != 0 ? static_cast<double>(1 / std::fabs(carrierPerSample)) : 0)
{
}

void BurstLine::Start(int64_t lag, double magnitude)
{
    originLag = lag;
    typicalMagnitude = magnitude;
}

double BurstLine::DelayOf(double position, int64_t block) const
{
    return position - static_cast<double>(originLag) - static_cast<double>(FRAME_SAMPLES) * static_cast<double>(block) - jumpTotal;
}

// The inverse of DelayOf, from the delay the lines predict.
double BurstLine::ExpectedPosition(int64_t block) const
{
    double delay = 0;
    if (phaseLine.Count() >= PHASE_PREDICTS_FROM)
        delay = static_cast<double>(phaseLine.Predict(block)) + (lastDelay - lastPhaseDelay);
    else if (delayLine.Count() >= DELAY_PREDICTS_FROM)
        delay = static_cast<double>(delayLine.Predict(block));
    else if (delayLine.Count() == 1)
        delay = lastDelay;
    return static_cast<double>(originLag) + static_cast<double>(FRAME_SAMPLES) * static_cast<double>(block) + jumpTotal + delay;
}

bool BurstLine::Settled() const
{
    return phaseLine.Count() >= NARROW_FROM && !pendingValid;
}

double BurstLine::Stretch() const
{
    double stretch = 0;
    if (phaseLine.Count() >= PHASE_PREDICTS_FROM && phaseLine.HasSlope())
        stretch = static_cast<double>(phaseLine.Slope()) / FRAME_SAMPLES;
    else if (delayLine.Count() >= DELAY_PREDICTS_FROM && delayLine.HasSlope())
        stretch = static_cast<double>(delayLine.Slope()) / FRAME_SAMPLES;
    return std::clamp(stretch, -MAX_STRETCH, MAX_STRETCH);
}

// The phase turns by -2 pi per carrier wavelength of delay. `target` is in
// the lines' terms, with the jumps so far taken out, which the phase,
// measured on the recording as it is, still holds.
double BurstLine::PhaseDelayNear(double phase, double target) const
{
    const double base = -phase / static_cast<double>(2 * PI) * carrierWavelength;
    const double turns = std::round((target + jumpTotal - base) / carrierWavelength);
    return base + turns * carrierWavelength - jumpTotal;
}

double BurstLine::PredictedDelay(int64_t block) const
{
    return delayLine.Count() >= DELAY_PREDICTS_FROM ? static_cast<double>(delayLine.Predict(block)) : lastDelay;
}

double BurstLine::PredictedPhaseDelay(int64_t block) const
{
    if (phaseLine.Count() >= PHASE_PREDICTS_FROM)
        return static_cast<double>(phaseLine.Predict(block));
    return lastPhaseDelay + (PredictedDelay(block) - lastDelay);
}

// A jump of a whole number of samples of the recording (dropped or inserted
// there) or of the signal (so 1 + offset recording samples each) is taken
// as exact; anything else is left as measured.
double BurstLine::SnapJump(double jump, bool& snapped) const
{
    const double stretch = 1 + static_cast<double>(phaseLine.Slope()) / FRAME_SAMPLES;
    const double recordingSide = std::round(jump);
    const double signalSide = std::round(jump / stretch) * stretch;
    const double best = std::fabs(jump - recordingSide) <= std::fabs(jump - signalSide) ? recordingSide : signalSide;
    snapped = std::fabs(jump - best) <= SNAP_TOLERANCE;
    return snapped ? best : jump;
}

LineVerdicts BurstLine::Consider(const BurstMeasurement& m)
{
    LineVerdicts verdicts;
    const double delay = DelayOf(m.position, m.block);
    if (delayLine.Count() == 0)
        verdicts.Add(Accept(m, delay, PhaseDelayNear(m.phase, delay)));
    else if (phaseLine.Count() < YOUNG_BLOCKS)
        ConsiderYoung(m, delay, verdicts);
    else if (consecutiveRejected >= RESTART_AFTER_REJECTED)
        // Burst after burst off the line: the line itself is wrong (a poor
        // start on a noisy recording).
        verdicts.Add(StartAgainWith(m, delay));
    else
        ConsiderMature(m, delay, verdicts);
    return verdicts;
}

// The phase is unwrapped by the delay: the difference between the two
// rulers changes little from burst to burst (by the sub-sample fit's
// noise, or slowly under a frequency shift), so the phase's delay is taken
// as the one nearest to this burst's delay plus that difference.
double BurstLine::PhaseTarget(double delay) const
{
    return delay + (lastPhaseDelay - lastDelay);
}

// A line old enough to judge by: the burst is used, or pending; a burst
// pending before it is decided on first.
void BurstLine::ConsiderMature(const BurstMeasurement& m, double delay, LineVerdicts& verdicts)
{
    const double coarse = PhaseTarget(delay);
    const double offset = delay - PredictedDelay(m.block);
    const double expectedPhaseDelay = PredictedPhaseDelay(m.block);
    const double limit = std::max(OUTLIER_FLOOR, OUTLIER_DEVIATIONS * static_cast<double>(phaseLine.ResidualDeviation()));
    const double delayLimit = std::max(JUMP_THRESHOLD, OUTLIER_DEVIATIONS * static_cast<double>(delayLine.ResidualDeviation()));
    if (pendingValid) {
        DecidePending(m, offset, coarse, expectedPhaseDelay, limit, delayLimit, verdicts);
        for (const LineVerdict& verdict : Consider(m))
            verdicts.Add(verdict);
        return;
    }
    // Off the line by the delay (a jump of a sample or more), or by the
    // phase alone (a part of a sample, or a damaged burst): pending until
    // the next burst says whether it is a jump or an outlier.
    const bool offByDelay = std::fabs(offset) > delayLimit;
    const double phaseDelay = PhaseDelayNear(m.phase, coarse);
    const double phaseOffset = phaseDelay - expectedPhaseDelay;
    if (offByDelay || (phaseLine.Count() >= MIN_BLOCKS && std::fabs(phaseOffset) > limit)) {
        pending = m;
        pendingValid = true;
        pendingDelay = delay;
        pendingPhaseDelay = phaseDelay;
        pendingOffset = offset;
        pendingJump = SnapJump(phaseOffset, pendingSnapped);
        return;
    }
    verdicts.Add(Accept(m, delay, phaseDelay));
}

// Too young for a line to judge by. The first bursts must step evenly; a
// jump among them starts the line again from here. Across bursts lost
// since the last one used, the step expected is the last one's times as
// many; past MAX_YOUNG_LOST lost the young line cannot tell a jump from the
// drift over them, and starts again claiming none.
void BurstLine::ConsiderYoung(const BurstMeasurement& m, double delay, LineVerdicts& verdicts)
{
    const int64_t bursts = m.block - lastBlock;
    if (bursts - 1 > MAX_YOUNG_LOST) {
        verdicts.Add(StartAgainWith(m, delay));
        return;
    }
    const double change = delay - lastDelay;
    const double off = change - lastStep * static_cast<double>(bursts);
    // from the third burst on, a step to compare with the one before
    if (phaseLine.Count() >= 2 && std::fabs(off) > JUMP_THRESHOLD) {
        // Reported as measured by the delay.
        const double whole = std::round(off);
        const JumpEvent jump{m.position / recordingRate, std::fabs(off - whole) < WHOLE_JUMP_TOLERANCE ? whole : off};
        LineVerdict verdict = StartAgainWith(m, delay);
        verdict.jumped = true;
        verdict.jump = jump;
        verdicts.Add(verdict);
        return;
    }
    lastStep = change / static_cast<double>(bursts);
    verdicts.Add(Accept(m, delay, PhaseDelayNear(m.phase, PhaseTarget(delay))));
}

// The burst that follows a pending one tells what that was: shifted like
// it, by the delay and by the phase, a jump from the pending burst on;
// otherwise an outlier.
void BurstLine::DecidePending(const BurstMeasurement& next, double offset, double coarse, double expectedPhaseDelay,
                              double phaseLimit, double delayLimit, LineVerdicts& verdicts)
{
    pendingValid = false;
    const double shifted = PhaseDelayNear(next.phase, coarse) - expectedPhaseDelay;
    if (!(std::fabs(offset - pendingOffset) < delayLimit && std::fabs(shifted - pendingJump) <= phaseLimit)) {
        ++consecutiveRejected;
        verdicts.Add(RejectPending());
        return;
    }
    jumpTotal += pendingJump;
    if (!pendingSnapped) {
        phaseLine.StartSegment();
        delayLine.StartSegment();
        ++segment;
    }
    const JumpEvent jump{pending.position / recordingRate, pendingJump};
    BurstMeasurement first = pending;
    first.flags |= BLOCK_JUMP;
    LineVerdict verdict =
        Accept(first, DelayOf(first.position, first.block), PhaseDelayNear(first.phase, PredictedPhaseDelay(first.block)));
    verdict.jumped = true;
    verdict.jump = jump;
    verdicts.Add(verdict);
}

LineVerdict BurstLine::RejectPending()
{
    pendingValid = false;
    ++outlierBlocks;
    pending.flags |= BLOCK_OUTLIER;
    LineVerdict verdict;
    verdict.row = Row(pending, pendingDelay, pendingPhaseDelay);
    return verdict;
}

LineVerdicts BurstLine::Finish()
{
    LineVerdicts verdicts;
    if (pendingValid)
        verdicts.Add(RejectPending());
    return verdicts;
}

// The line starts again from this burst: new lines, a new intercept.
LineVerdict BurstLine::StartAgainWith(const BurstMeasurement& m, double delay)
{
    phaseLine = SegmentedLineFit();
    delayLine = SegmentedLineFit();
    consecutiveRejected = 0;
    ++segment;
    LineVerdict verdict = Accept(m, delay, PhaseDelayNear(m.phase, delay));
    verdict.restarted = true;
    return verdict;
}

LineVerdict BurstLine::Accept(const BurstMeasurement& m, double delay, double phaseDelay)
{
    // Weighted by the burst's power: the phase's scatter goes as 1 / power.
    double weight = 1;
    if (typicalMagnitude > 0) {
        const double relative = m.magnitude / typicalMagnitude;
        weight = std::clamp(relative * relative, MIN_WEIGHT, MAX_WEIGHT);
    }
    LineVerdict verdict;
    verdict.index = phaseLine.Count();
    phaseLine.Add(static_cast<long double>(m.block), phaseDelay, weight);
    delayLine.Add(static_cast<long double>(m.block), delay, weight);
    typicalMagnitude = (1 - MAGNITUDE_SHARE) * typicalMagnitude + MAGNITUDE_SHARE * m.magnitude;
    if (phaseLine.Count() == 1)
        firstUsedPosition = m.position;
    lastUsedPosition = m.position;
    lastBlock = m.block;
    lastDelay = delay;
    lastPhaseDelay = phaseDelay;
    consecutiveRejected = 0;
    if (m.flags & BLOCK_CLIPPED)
        ++clippedBlocks;
    verdict.burst = m;
    verdict.burst.flags |= BLOCK_USED;
    verdict.weight = weight;
    verdict.phaseDelay = phaseDelay;
    verdict.row = Row(verdict.burst, delay, phaseDelay);
    return verdict;
}

void BurstLine::Refit(const std::vector<RemeasuredBurst>& points)
{
    SegmentedLineFit phases, delays;
    for (const RemeasuredBurst& point : points) {
        phases.Add(static_cast<long double>(point.block), point.phaseDelay, point.weight);
        delays.Add(static_cast<long double>(point.block), point.delay, point.weight);
    }
    phaseLine = phases;
    delayLine = delays;
    if (points.empty())
        return;
    firstUsedPosition = points.front().position;
    lastUsedPosition = points.back().position;
    lastBlock = points.back().block;
    lastDelay = points.back().delay;
    lastPhaseDelay = points.back().phaseDelay;
}

BlockRecord BurstLine::Row(const BurstMeasurement& m, double delay, double phaseDelay) const
{
    const bool measured = (m.flags & (BLOCK_USED | BLOCK_OUTLIER)) != 0;
    BlockRecord record;
    record.block = m.block;
    record.time = m.position / recordingRate;
    record.peakLag = ((m.lag % FRAME_SAMPLES) + FRAME_SAMPLES) % FRAME_SAMPLES;
    record.delay = measured ? delay + jumpTotal : 0;
    record.phaseDelay = measured ? phaseDelay + jumpTotal : 0;
    record.carrierPhase = m.phase;
    record.level = (m.flags & BLOCK_LOST) ? NO_LEVEL_DBFS : m.level;
    record.flags = m.flags;
    record.linePhaseDelay = (m.flags & BLOCK_USED) ? phaseDelay : 0;
    record.segment = segment;
    return record;
}

ClockEstimate BurstLine::Estimate() const
{
    ClockEstimate estimate;
    estimate.blocksUsed = phaseLine.Count();
    estimate.secondsUsed = (lastUsedPosition - firstUsedPosition) / recordingRate;
    if (phaseLine.Count() < MIN_BLOCKS || !phaseLine.HasSlope())
        return estimate;
    estimate.valid = true;
    estimate.ppm = static_cast<double>(phaseLine.Slope()) * TO_PPM;
    estimate.uncertaintyPpm = static_cast<double>(phaseLine.SlopeUncertainty()) * TO_PPM;
    estimate.delayPpm = static_cast<double>(delayLine.Slope()) * TO_PPM;
    estimate.delayUncertaintyPpm = static_cast<double>(delayLine.SlopeUncertainty()) * TO_PPM;
    // The delay's bias is bounded over the span (up to FINE_DELAY_BIAS
    // either way at each end), besides the combined uncertainties.
    const double combined = std::hypot(estimate.uncertaintyPpm, estimate.delayUncertaintyPpm);
    const double biasBound = 2 * FINE_DELAY_BIAS / static_cast<double>(estimate.blocksUsed) * TO_PPM;
    estimate.agree = std::fabs(estimate.ppm - estimate.delayPpm) <= AGREEMENT_UNCERTAINTIES * combined + biasBound;
    return estimate;
}
