// Running the meter over a whole test recording.
#pragma once

#include "meter/clock_estimator.h"
#include "meter/offset_track.h"
#include "tests/meter/stretched_signal.h"

#include <algorithm>
#include <vector>

struct MeterRun {
    ClockEstimate estimate;
    std::vector<JumpEvent> jumps;
    InputSummary summary;
    // with a track (intervalSeconds >= 0)
    std::vector<WindowEstimate> windows;
    Steadiness steadiness;
    std::vector<StabilityPoint> stability;
};

inline MeterRun RunMeter(const std::vector<int16_t>& recording, int32_t recordingRate, int32_t signalRate, double carrier,
                         size_t sampleLimit = SIZE_MAX, double intervalSeconds = -1)
{
    MeterSettings settings;
    settings.recordingRate = recordingRate;
    settings.signalRate = signalRate;
    settings.carrierFrequency = carrier;
    ClockEstimator meter(settings);
    TrackSettings trackSettings;
    trackSettings.intervalSeconds = std::max(0.0, intervalSeconds);
    trackSettings.signalRate = signalRate;
    OffsetTrack track(trackSettings);
    MeterRun run;
    if (intervalSeconds >= 0) {
        meter.OnBlock([&](const BlockRecord& record) { track.Add(record); });
        track.OnWindow([&](const WindowEstimate& window) { run.windows.push_back(window); });
    }
    const size_t count = std::min(sampleLimit, recording.size());
    // Pieces of an odd size, as a pipe delivers them.
    constexpr size_t PIECE = 3001;
    for (size_t at = 0; at < count; at += PIECE)
        meter.Push(recording.data() + at, std::min(PIECE, count - at));
    meter.Finish();
    track.Finish();
    run.estimate = meter.Estimate();
    run.jumps = meter.Jumps();
    run.summary = meter.Summary();
    if (intervalSeconds >= 0) {
        run.steadiness = track.Judge();
        run.stability = track.Stability();
    }
    return run;
}
