// A pulse signal through the meter, as the stream would deliver it (in
// blocks), for the tests of the second pulse.
#pragma once

#include "meter/reference/pps_meter.h"
#include "tests/reference/pps_signal.h"

#include <algorithm>
#include <vector>

struct PpsRun {
    ReferenceEstimate estimate;
    ReferenceHeard heard;
    std::vector<ReferenceEvent> events;

    int64_t Flagged(unsigned flag) const
    {
        return std::count_if(events.begin(), events.end(), [&](const ReferenceEvent& e) { return (e.flags & flag) != 0; });
    }
};

// `discontinuityAt`: sample positions before which the stream reports one.
inline PpsRun RunPps(const std::vector<float>& samples, int sampleRate, PulsePolarity polarity = PulsePolarity::Either,
                     std::vector<size_t> discontinuityAt = {})
{
    PpsMeter meter(sampleRate, polarity);
    PpsRun run;
    meter.OnEvent([&](const ReferenceEvent& event) { run.events.push_back(event); });
    constexpr size_t BLOCK = 1000;  // not a power of two: blocks fall anywhere
    size_t next = 0;
    for (size_t i = 0; i < samples.size();) {
        size_t end = std::min(i + BLOCK, samples.size());
        if (next < discontinuityAt.size() && discontinuityAt[next] <= end) {
            end = discontinuityAt[next++];
            meter.Push(samples.data() + i, end - i);
            meter.MarkDiscontinuity();
        } else
            meter.Push(samples.data() + i, end - i);
        i = end;
    }
    meter.Finish();
    run.estimate = meter.Estimate();
    run.heard = meter.Heard();
    return run;
}

inline PpsRun RunPps(const PpsSignal& signal, PulsePolarity polarity = PulsePolarity::Either)
{
    return RunPps(MakePpsSignal(signal), signal.clock.nominalRate, polarity);
}

// The line input as the accuracy is stated for: AC-coupled at 10 Hz, hum
// at -50 dBFS (50.02 Hz and two harmonics) and noise at -60 dBFS.
inline PpsSignal TypicalPps(int rate, double width, bool rising, double ppm, uint64_t seed, double seconds = 60)
{
    PpsSignal signal;
    signal.clock = {rate, ppm, 0.1 + 0.037 * static_cast<double>(seed)};
    signal.seconds = seconds;
    signal.widthSeconds = width;
    signal.rising = rising;
    signal.highPassHz = 10;
    signal.humLevel = FromDbfs(-50);
    signal.humHz = 50.02;
    signal.humHarmonics = {0.5, 0.3};
    signal.noiseRms = FromDbfs(-60);
    signal.seed = seed;
    return signal;
}
