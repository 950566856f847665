#include "meter/reference/tone_tracker.h"

#include "meter/reference/line_sums.h"
#include "meter/reference/reference_event.h"

#include <algorithm>
#include <cmath>

namespace {

// The tracker's memory, in blocks: about a second (a fading-memory filter
// of the first degree with discount 1 - 1/MEMORY_BLOCKS), long enough to
// average a block's noise, short enough to follow a tone wandering over
// seconds. Until its expanding memory (a least-squares line through all
// blocks so far) gains less than that, no alarm is raised.
constexpr double MEMORY_BLOCKS = 16;
// An innovation this far out, in its own RMS, raises an alarm (about one
// block in 16000 of white noise: the line test then finds no step).
constexpr double ALARM_SIGMAS = 4;
// A step smaller than this many standard deviations is not told from
// noise; one this large is (the test runs only where an alarm was raised).
// Why: docs/accuracy.md#tone-steps
constexpr double STEP_SIGMAS = 5;
// With no step, a block this far off the line through both sides (a click)
// is left out: noise alone puts one there once in 1.7 million.
constexpr double OUTLIER_SIGMAS = 5;
// The lines to either side of an alarm: 2 s of blocks each, 0.5 s at least.
constexpr size_t LINE_BLOCKS = 32;
constexpr size_t MIN_LINE_BLOCKS = 8;
// A sample lies in BLOCK_OVERLAP blocks; the first to show a step may be
// the last of those or the first after them.
constexpr size_t ZONE_BEFORE = BLOCK_OVERLAP;
constexpr size_t ZONE_AFTER = BLOCK_OVERLAP - 1;
// Records wait this long before they are final: an alarm reaches back
// ZONE_BEFORE blocks.
constexpr size_t HOLD_BLOCKS = 2 * BLOCK_OVERLAP;
// The running estimates' memories, in blocks.
constexpr double NOISE_MEMORY = 256;
constexpr double AMPLITUDE_MEMORY = 16;
// Blocks 4 apart share no sample: second differences at that lag carry
// independent noise, 6 times a block's variance.
constexpr size_t INDEPENDENT_LAG = BLOCK_OVERLAP;

// Into [-1/2, 1/2) cycles.
double Wrap(double cycles)
{
    return cycles - std::floor(cycles + 0.5);
}

// A running mean whose memory grows to `memory` values, then fades.
void RunningMean(double& mean, double value, int64_t count, double memory)
{
    mean += (value - mean) / std::min(static_cast<double>(count), memory);
}

}  // namespace

ToneTracker::ToneTracker(const ToneTrackerStart& start)
    : start(start), hop(start.hop), cyclesPerHop(start.cyclesPerSample * start.hop),
      innovationVariance(start.phaseDeviation * start.phaseDeviation),
      deviationVariance(start.phaseDeviation * start.phaseDeviation), amplitude(start.amplitude)
{
}

double ToneTracker::Predict(int64_t index) const
{
    return phase + cyclesPerHop * static_cast<double>(index - phaseIndex);
}

void ToneTracker::Follow(double innovation, bool jumpTo, double measured)
{
    const int64_t index = static_cast<int64_t>(records.size());
    if (jumpTo || phaseIndex < 0) {
        phase = measured;
        phaseIndex = index;
        sinceJump = 1;
        return;
    }
    ++followed;
    ++sinceJump;
    // Expanding memory (the least-squares line's gains after k blocks)
    // until it gains less than the fading memory does.
    const double k = static_cast<double>(followed);
    const double discount = 1 - 1 / MEMORY_BLOCKS;
    double phaseGain = 1 - discount * discount, frequencyGain = (1 - discount) * (1 - discount);
    const double expanding = 2 * (2 * k - 1) / (k * (k + 1));
    if (expanding > phaseGain) {
        phaseGain = expanding;
        frequencyGain = 6 / (k * (k + 1));
    } else if (1 / static_cast<double>(sinceJump) > phaseGain) {
        // After a jump (a new segment, a step) the frequency is known: the
        // phase alone, the mean of the blocks since (one block's noise
        // would otherwise echo through the fading memory and raise alarms).
        phaseGain = 1 / static_cast<double>(sinceJump);
        frequencyGain = 0;
    }
    const double gap = static_cast<double>(index - phaseIndex);
    phase = Predict(index) + phaseGain * innovation;
    cyclesPerHop += frequencyGain * innovation / gap;
    phaseIndex = index;
}

void ToneTracker::UpdateDeviation(ToneRecord& record)
{
    const size_t i = static_cast<size_t>(record.index);
    bool usable = i >= 2 * INDEPENDENT_LAG && !(alarm.pending && i - 2 * INDEPENDENT_LAG <= alarm.last);
    for (size_t lag = 0; usable && lag <= 2 * INDEPENDENT_LAG; lag += INDEPENDENT_LAG) {
        const ToneRecord& other = lag == 0 ? record : records[i - lag];
        usable = (other.flags & EVENT_USED) && other.segment == record.segment;
    }
    if (usable) {
        const double second = record.cycles - 2 * records[i - INDEPENDENT_LAG].cycles +
                              records[i - 2 * INDEPENDENT_LAG].cycles;
        ++deviationCount;
        RunningMean(deviationVariance, second * second / 6, deviationCount, NOISE_MEMORY);
    }
    record.deviation = std::sqrt(deviationVariance);
}

void ToneTracker::Add(const ToneBlock& block)
{
    ToneRecord record;
    record.index = static_cast<int64_t>(records.size());
    record.centre = block.centre;
    record.amplitude = block.amplitude;
    record.segment = segment;
    // Kept in use: a tone clipped by any memoryless curve keeps its phase
    // (the curve's output is a sum of cosines of multiples of it).
    if (block.peak >= CLIP_LEVEL)
        record.flags |= EVENT_CLIPPED;
    const double predicted = Predict(record.index);
    record.innovation = Wrap(block.phaseCycles - predicted);
    record.cycles = predicted + record.innovation;
    record.deviation = std::sqrt(deviationVariance);
    record.level = amplitude;
    if (block.straddlesGap) {
        record.flags |= EVENT_JUMP;
        newSegment = true;
    } else if (block.amplitude < WEAK_FRACTION * amplitude) {
        // (Before the first block used too, against the search's level: a
        // block of silence or noise would give the tracker a phase that is
        // none of the tone's.)
        record.flags |= EVENT_MISSED;
        if (weakRun++ == 0)
            firstWeak = records.size();
    } else {
        record.flags |= EVENT_USED;
        Judge(record);
    }
    records.push_back(record);
    if (record.flags & EVENT_USED)
        UpdateDeviation(records.back());
    ResolveAlarm(false);
    Settle();
}

void ToneTracker::Judge(ToneRecord& record)
{
    const size_t index = static_cast<size_t>(record.index);
    if (newSegment) {
        if (segmentUsed)
            record.segment = ++segment;
        newSegment = false;
        record.innovation = 0;
        Follow(0, true, record.cycles);
    } else {
        const bool tracking = followed >= static_cast<int64_t>(MEMORY_BLOCKS) && phaseIndex >= 0;
        const double spread = std::sqrt(innovationVariance + SYSTEMATIC_CYCLES * SYSTEMATIC_CYCLES);
        const bool far = tracking && std::fabs(record.innovation) > ALARM_SIGMAS * spread;
        if (far && !alarm.pending)
            RaiseAlarm(index > ZONE_BEFORE ? index - ZONE_BEFORE : 0, index + ZONE_AFTER);
        if (!far && followed >= MEMORY_BLOCKS / 2) {
            ++innovationCount;
            RunningMean(innovationVariance, record.innovation * record.innovation, innovationCount, NOISE_MEMORY);
        }
        // Far out: the tracker jumps there, so that a step does not echo
        // through its memory; its frequency stays.
        Follow(record.innovation, far, record.cycles);
        // Where the tone came back, its phase may have moved.
        if (weakRun > 0 && !alarm.pending)
            RaiseAlarm(firstWeak > ZONE_BEFORE ? firstWeak - ZONE_BEFORE : 0, index + ZONE_AFTER);
    }
    weakRun = 0;
    segmentUsed = true;
    RunningMean(amplitude, record.amplitude, followed + 1, AMPLITUDE_MEMORY);
    record.level = amplitude;
}

void ToneTracker::RaiseAlarm(size_t first, size_t last)
{
    alarm.pending = true;
    alarm.first = std::max(first, settled);
    alarm.last = last;
}

void ToneTracker::ResolveAlarm(bool atEnd)
{
    if (!alarm.pending || (!atEnd && records.size() < alarm.last + 1 + LINE_BLOCKS))
        return;
    alarm.pending = false;
    const double x0 = records[alarm.first].centre;
    const LineSums before = SideOfAlarm(alarm.first, false, x0), after = SideOfAlarm(alarm.last + 1, true, x0);
    const size_t last = std::min(alarm.last, records.size() - 1);
    if (before.n < MIN_LINE_BLOCKS || after.n < MIN_LINE_BLOCKS) {
        // Too little to either side to tell: a new segment costs little.
        StepAfter(alarm.first, last, false);
        return;
    }
    // One slope, two intercepts: the step is the lines' distance.
    const double sxx = before.xx + after.xx;
    const double slope = (before.xy + after.xy) / sxx;
    const double squares = before.yy + after.yy - slope * (before.xy + after.xy);
    const double variance = std::max(0.0, squares) / (before.n + after.n - 3) * start.correlationFactor +
                            SYSTEMATIC_CYCLES * SYSTEMATIC_CYCLES;
    const double step = after.y - before.y - slope * (after.x - before.x);
    const double stepDeviation =
        std::sqrt(variance * (1 / before.n + 1 / after.n + (after.x - before.x) * (after.x - before.x) / sxx));
    cyclesPerHop = slope * hop;
    if (std::fabs(step) > STEP_SIGMAS * stepDeviation) {
        StepAfter(alarm.first, last, true);
        return;
    }
    // No step: what lies far off the line through both sides is left out.
    const double intercept = (before.y * before.n + after.y * after.n - slope * (before.x * before.n + after.x * after.n)) /
                             (before.n + after.n);
    for (size_t i = alarm.first; i <= last; ++i) {
        ToneRecord& r = records[i];
        const double off = r.cycles - intercept - slope * (r.centre - x0);
        if ((r.flags & EVENT_USED) && off * off > OUTLIER_SIGMAS * OUTLIER_SIGMAS * variance) {
            r.flags &= ~static_cast<unsigned>(EVENT_USED);
            r.flags |= EVENT_OUTLIER;
        }
    }
}

LineSums ToneTracker::SideOfAlarm(size_t from, bool forward, double x0) const
{
    LineSums sums;
    uint32_t segmentOfSide = 0;
    for (size_t step = 0; sums.n < LINE_BLOCKS; ++step) {
        if (forward ? from + step >= records.size() : step >= from)
            break;
        const ToneRecord& r = records[forward ? from + step : from - 1 - step];
        if (!(r.flags & EVENT_USED))
            continue;
        if (sums.n == 0)
            segmentOfSide = r.segment;
        else if (r.segment != segmentOfSide)
            break;
        sums.Add(r.centre - x0, r.cycles);
    }
    return sums;
}

void ToneTracker::StepAfter(size_t first, size_t last, bool found)
{
    for (size_t i = first; i <= last; ++i)
        if (records[i].flags & EVENT_USED) {
            records[i].flags &= ~static_cast<unsigned>(EVENT_USED);
            records[i].flags |= EVENT_JUMP;
        }
    bool later = false;
    for (size_t i = last + 1; i < records.size(); ++i) {
        ++records[i].segment;
        later = true;
    }
    if (found)
        ++stepsFound;
    ++segment;
    // Nothing used after the step yet: the next block starts the segment.
    segmentUsed = later;
}

void ToneTracker::Settle()
{
    size_t limit = records.size() > HOLD_BLOCKS ? records.size() - HOLD_BLOCKS : 0;
    if (alarm.pending)
        limit = std::min(limit, alarm.first);
    settled = std::max(settled, limit);
}

void ToneTracker::Finish()
{
    ResolveAlarm(true);
    settled = records.size();
}
