#include "tests/reference/tick_run.h"

#include <algorithm>
#include <cmath>

TickRun RunTicks(const Reception& reception, TimeStation asked, double seconds, double breakAtSecond,
                 const TickMeterSettings* settings)
{
    TickMeterSettings s;
    if (settings)
        s = *settings;
    s.station = asked;
    s.sampleRate = reception.clock.nominalRate;
    TickMeter meter(s);
    TickRun run;
    meter.OnEvent([&run](const ReferenceEvent& e) { run.events.push_back(e); });
    StationSignal signal(reception);
    const size_t total = static_cast<size_t>(std::llrint(seconds * reception.clock.nominalRate));
    const size_t block = static_cast<size_t>(reception.clock.nominalRate / 10);
    const size_t breakAt = breakAtSecond >= 0 ? static_cast<size_t>(breakAtSecond * reception.clock.nominalRate) : SIZE_MAX;
    std::vector<float> samples(block);
    for (size_t done = 0; done < total;) {
        size_t n = std::min(block, total - done);
        if (done < breakAt && done + n > breakAt)
            n = breakAt - done;
        signal.Generate(samples.data(), n);
        if (done == breakAt)
            meter.MarkDiscontinuity();
        meter.Push(samples.data(), n);
        done += n;
    }
    meter.Finish();
    run.estimate = meter.Estimate();
    run.heard = meter.Heard();
    run.reception = meter.Reception();
    run.errorPpm = run.estimate.ppm - reception.clock.ppm;
    return run;
}
