// The tone meter run over a test signal (tone_signal.h), as a stream
// delivers it: in buffers, with the gaps the stream reports.
#pragma once

#include "meter/reference/reference_meter.h"
#include "tests/reference/tone_signal.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct ToneRun {
    double seconds = 60;
    size_t buffer = 4096;                  // samples a Push
    std::vector<int64_t> reportedGaps;     // MarkDiscontinuity before these delivered samples
};

struct ToneOutcome {
    ReferenceEstimate estimate;
    ReferenceHeard heard;
    std::vector<ReferenceEvent> events;
};

ToneOutcome MeasureTone(const ToneSignalSettings& settings, const ToneRun& run);
