#include "meter/offset_track.h"

#include "meter/burst_reference.h"
#include "meter/stitched_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The bursts a new stretch's stitch takes the slope from.
constexpr int SLOPE_POINTS = 16;

}  // namespace

OffsetTrack::OffsetTrack(const TrackSettings& trackSettings) : settings(trackSettings) {}

double OffsetTrack::BlockSeconds() const
{
    return static_cast<double>(FRAME_SAMPLES) / settings.signalRate;
}

void OffsetTrack::Add(const BlockRecord& record)
{
    if (settings.intervalSeconds > 0)
        AddToWindow(record);
    if (record.flags & BLOCK_USED)
        AddToSeries(record);
}

void OffsetTrack::AddToSeries(const BlockRecord& record)
{
    if (firstBlock < 0)
        firstBlock = record.block;
    const int64_t offset = record.block - firstBlock;
    if (offset < static_cast<int64_t>(series.size()))
        return;  // the meter reports bursts in order; nothing to mend
    const size_t index = static_cast<size_t>(offset);
    if (record.segment != lastSegment) {
        // The slope of the last bursts: a drifting clock's local rate, which
        // the run's line (the meter's) lags behind.
        stitch = stretchStarts.empty() ? 0 : StitchAt(series, index, record.linePhaseDelay, SLOPE_POINTS);
        stretchStarts.push_back(index);
        lastSegment = record.segment;
    }
    series.resize(index, std::numeric_limits<double>::quiet_NaN());
    series.push_back(record.linePhaseDelay + stitch);
}

void OffsetTrack::AddToWindow(const BlockRecord& record)
{
    const auto index = static_cast<int64_t>(std::floor(record.time / settings.intervalSeconds));
    if (index != windowIndex) {
        CloseWindow(false);
        windowIndex = index;
        window = SegmentedLineFit();
        windowSegment = record.segment;
    }
    if (!(record.flags & BLOCK_USED))
        return;
    if (record.segment != windowSegment) {
        window.StartSegment();
        windowSegment = record.segment;
    }
    window.Add(static_cast<long double>(record.block), record.linePhaseDelay);
    lastTime = record.time;
}

// A window the recording ran past ends where it was meant to; the last one
// at its last burst.
void OffsetTrack::CloseWindow(bool atEnd)
{
    if (windowIndex < 0 || window.Count() == 0)
        return;
    WindowEstimate estimate;
    estimate.startSeconds = static_cast<double>(windowIndex) * settings.intervalSeconds;
    estimate.endSeconds = static_cast<double>(windowIndex + 1) * settings.intervalSeconds;
    if (atEnd)
        estimate.endSeconds = std::min(estimate.endSeconds, lastTime);
    estimate.blocks = window.Count();
    estimate.valid = window.Count() >= MIN_WINDOW_BLOCKS && window.Freedom() >= 1 && window.SumXX() > 0;
    if (estimate.valid) {
        const double formal = static_cast<double>(window.SlopeUncertainty());
        const double systematic = settings.systematicSamples *
                                  std::sqrt(static_cast<double>(window.Count()) / static_cast<double>(window.SumXX()));
        estimate.ppm = static_cast<double>(window.Slope()) * TO_PPM;
        estimate.uncertaintyPpm = std::hypot(formal, systematic) * TO_PPM;
    }
    window = SegmentedLineFit();
    if (windowObserver)
        windowObserver(estimate);
}

void OffsetTrack::Finish()
{
    CloseWindow(true);
    windowIndex = -1;
}

Steadiness OffsetTrack::Judge() const
{
    SteadinessSettings judge;
    judge.blockSeconds = BlockSeconds();
    judge.systematicSamples = settings.systematicSamples;
    return JudgeSteadiness(series, stretchStarts, judge);
}

std::vector<StabilityPoint> OffsetTrack::Stability() const
{
    return StabilityTable(series, static_cast<double>(FRAME_SAMPLES), BlockSeconds());
}
