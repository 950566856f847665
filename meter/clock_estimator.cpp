#include "meter/clock_estimator.h"

ClockEstimator::ClockEstimator(const MeterSettings& meterSettings)
    : settings(meterSettings),
      search(MakeBurstReference(meterSettings.signalRate, meterSettings.carrierFrequency)),
      line(meterSettings.recordingRate, search.CarrierPerSample()),
      early(search.WindowLength())
{
}

void ClockEstimator::Push(const int16_t* samples, size_t count)
{
    input.Add(samples, count);
    search.Append(samples, count);
    while (Step()) {
    }
}

// One step of the search: a frame searched for the first burst, or the
// next burst tracked. False: it needs more samples.
bool ClockEstimator::Step()
{
    if (!search.Locked()) {
        BurstMeasurement first;
        const BurstSearch::Outcome outcome = search.Acquire(line.Stretch(), first);
        if (outcome == BurstSearch::Outcome::Found) {
            line.Start(first.lag, first.magnitude);
            nextBlock = 1;
            Take(first);
        }
        return outcome != BurstSearch::Outcome::NeedSamples;
    }
    const double expected = line.ExpectedPosition(nextBlock);
    if (!search.CanTrack(expected))
        return false;
    const BurstMeasurement burst = search.Track(nextBlock++, expected, line.Settled(), line.UsualMagnitude(), line.Stretch());
    if (burst.flags & BLOCK_LOST)
        early.Emit(line.Row(burst, 0, 0));
    else
        Take(burst);
    return true;
}

void ClockEstimator::Take(const BurstMeasurement& burst)
{
    for (const LineVerdict& verdict : line.Consider(burst))
        Settle(verdict);
}

// What the line decided, passed on: the jump reported, the rows of a line
// given up let out, a young line's burst kept, the row emitted, and the
// young line measured again once it is complete.
void ClockEstimator::Settle(const LineVerdict& verdict)
{
    if (verdict.jumped)
        RecordJump(verdict.jump);
    if (verdict.restarted)
        early.ReleaseRows();
    const bool young = (verdict.row.flags & BLOCK_USED) && verdict.index < YOUNG_BLOCKS;
    if (young)
        early.Keep(verdict, search.SamplesAround(verdict.burst.lag));
    early.Emit(verdict.row);
    if (young && verdict.index + 1 == YOUNG_BLOCKS)
        RemeasureYoungLine();
}

// The line's first bursts again, with the stretch it now has, and the line
// made anew from them.
void ClockEstimator::RemeasureYoungLine()
{
    const double stretch = line.Stretch();
    if (stretch == 0) {
        early.ReleaseRows();
        return;
    }
    std::vector<RemeasuredBurst> points;
    for (size_t i = 0; i < static_cast<size_t>(YOUNG_BLOCKS); ++i) {
        const EarlyBursts::Burst& kept = early.Kept(i);
        const BurstMeasurement burst = search.Refitted(kept.burst, early.Samples(i), stretch);
        const double delay = line.DelayOf(burst.position, burst.block);
        const double phaseDelay = line.PhaseDelayNear(burst.phase, kept.phaseDelay);
        early.Amend(i, line.Row(burst, delay, phaseDelay));
        points.push_back({burst.block, burst.position, delay, phaseDelay, kept.weight});
    }
    line.Refit(points);
    early.ReleaseRows();
}

void ClockEstimator::RecordJump(const JumpEvent& event)
{
    ++jumpCount;
    if (jumps.size() < KEPT_JUMPS)
        jumps.push_back(event);
    if (jumpObserver)
        jumpObserver(event);
}

void ClockEstimator::Finish()
{
    for (const LineVerdict& verdict : line.Finish())
        Settle(verdict);
    early.ReleaseRows();
}

InputSummary ClockEstimator::Summary() const
{
    InputSummary summary = input.Summary(settings.recordingRate);
    summary.bestCorrelation = search.BestCorrelation();
    summary.lostBlocks = search.LostBlocks();
    summary.outlierBlocks = line.OutlierBlocks();
    summary.clippedBlocks = line.ClippedBlocks();
    return summary;
}
