#include "tests/reference/tone_measure.h"

#include "meter/reference/tone_meter.h"

#include <algorithm>
#include <cmath>

ToneOutcome MeasureTone(const ToneSignalSettings& settings, const ToneRun& run)
{
    ToneOutcome outcome;
    ToneMeter meter(settings.toneHz, settings.clock.nominalRate);
    meter.OnEvent([&](const ReferenceEvent& event) { outcome.events.push_back(event); });
    ToneSignal signal(settings);
    const int64_t total = std::llrint(run.seconds * settings.clock.nominalRate);
    size_t nextGap = 0;
    for (int64_t done = 0; done < total;) {
        int64_t take = std::min<int64_t>(static_cast<int64_t>(run.buffer), total - done);
        if (nextGap < run.reportedGaps.size()) {
            if (run.reportedGaps[nextGap] == done) {
                meter.MarkDiscontinuity();
                ++nextGap;
            }
            if (nextGap < run.reportedGaps.size())
                take = std::min(take, run.reportedGaps[nextGap] - done);
        }
        const std::vector<float> samples = signal.Next(static_cast<size_t>(take));
        meter.Push(samples.data(), samples.size());
        done += take;
    }
    meter.Finish();
    outcome.estimate = meter.Estimate();
    outcome.heard = meter.Heard();
    return outcome;
}
