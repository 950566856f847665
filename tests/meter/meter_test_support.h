// Running the meter over a whole test recording.
#pragma once

#include "meter/clock_estimator.h"
#include "tests/meter/stretched_signal.h"

#include <algorithm>
#include <vector>

struct MeterRun {
    ClockEstimate estimate;
    std::vector<JumpEvent> jumps;
    InputSummary summary;
};

inline MeterRun RunMeter(const std::vector<int16_t>& recording, int32_t recordingRate, int32_t signalRate, double carrier,
                         size_t sampleLimit = SIZE_MAX)
{
    MeterSettings settings;
    settings.recordingRate = recordingRate;
    settings.signalRate = signalRate;
    settings.carrierFrequency = carrier;
    ClockEstimator meter(settings);
    const size_t count = std::min(sampleLimit, recording.size());
    // Pieces of an odd size, as a pipe delivers them.
    constexpr size_t PIECE = 3001;
    for (size_t at = 0; at < count; at += PIECE)
        meter.Push(recording.data() + at, std::min(PIECE, count - at));
    meter.Finish();
    return {meter.Estimate(), meter.Jumps(), meter.Summary()};
}
