#include "meter/reference/tick_second.h"

#include "meter/reference/station_format.h"

#include <algorithm>
#include <cmath>

namespace {

// Classifying a second by what follows the start at the tick's pitch
// (mean envelope over the tick's own): a minute tone (800 ms) or CHU's
// 300 ms pulse go on; WWV's tick and CHU's 10 ms ticks do not.
constexpr double GOES_ON = 0.4;
constexpr double NIST_TONE_FROM_SECONDS = 0.050, NIST_TONE_TO_SECONDS = 0.300;
constexpr double CHU_PULSE_FROM_SECONDS = 0.030, CHU_PULSE_TO_SECONDS = 0.250;
constexpr double CHU_MINUTE_FROM_SECONDS = 0.350, CHU_MINUTE_TO_SECONDS = 0.450;
// A second tick in the second (DUT1's doubled ticks): from 15 ms after the
// first to the second's end, at least half the first's edge, over by 2 N,
// and not at the other station's start (20 ms either side).
constexpr double EXTRA_FROM_SECONDS = 0.015, EXTRA_TO_SECONDS = 0.900;
constexpr double EXTRA_SHARE = 0.5;
constexpr double QUIET_SHARE = 0.3;
constexpr double EXTRA_QUIET_SECONDS = 0.025;
constexpr double OTHER_GUARD_SECONDS = 0.020;
// WWV's and WWVH's pulses go on at the pitch once a minute (the minute
// tone); more seconds that do in a minute are CHU's 300 ms pulses
// (tick_identity.h). Counted where the pulse keeps this share of its
// start's level (CHU's and the minute tone keep all of it; after a faded
// tick the noise reaches half of it) and starts at this share of the
// recent ticks' level at least. Why: docs/accuracy.md#ticks-identity
constexpr double STEADY_PULSE = 0.8;
constexpr double STRONG_PULSE_SHARE = 0.5;
// WWV's and WWVH's hour tone replaces the tick at 1500 Hz.
constexpr double HOUR_LOOK_SECONDS = 0.200;

size_t SamplesAt(size_t start, double seconds, int rate)
{
    return start + static_cast<size_t>(std::lrint(seconds * rate));
}

// A second without a tick: WWV's and WWVH's hour, 1500 Hz instead of it.
bool HourTone(const float* span, size_t start, const SecondContext& c)
{
    const TickFormat format = TickFormatOf(c.station);
    if (c.station == TimeStation::Chu || c.tickLevel <= 0)
        return false;
    const double distance = format.hourToneHz - format.pitchHz;
    // On the lower sideband (once the tones have said so) it lies below.
    const double hz = c.lowerSideband ? c.pitchHz - distance : c.pitchHz + distance;
    const size_t length = static_cast<size_t>(HOUR_LOOK_SECONDS * c.rate);
    return hz > 100 && hz < 0.45 * c.rate &&
           2 * ToneLevel(span + start, length, hz, c.rate, c.edgeSamples) > GOES_ON * c.tickLevel;
}

// A doubled tick: the strongest short edge later in the second, shaped
// like the tick: as strong, out of quiet at the pitch, and over within its
// length (a voice's partial at the pitch is none of these).
void DoubledTick(const PitchEnvelope& envelope, double startAt, size_t start, double pulse, const SecondContext& c,
                 SecondShape& shape)
{
    const size_t edgeSamples = c.edgeSamples;
    const double guard = OTHER_GUARD_SECONDS * c.rate;
    const double other = c.otherDelay;
    double best = 0;
    size_t bestAt = 0;
    for (size_t n = SamplesAt(start, EXTRA_FROM_SECONDS, c.rate);
         n < SamplesAt(start, EXTRA_TO_SECONDS, c.rate) && n + 3 * edgeSamples < envelope.Size(); ++n) {
        const double fromTick = static_cast<double>(n) - startAt;
        if (std::fabs(fromTick - other) < guard || std::fabs(fromTick - other + c.rate) < guard)
            continue;
        const double e = envelope.Edge(n, edgeSamples);
        if (e > best) {
            best = e;
            bestAt = n;
        }
    }
    const double strength = envelope.Edge(start, edgeSamples);
    const double extraAfter = envelope.After(bestAt, edgeSamples);
    const size_t quietFrom = bestAt > static_cast<size_t>(EXTRA_QUIET_SECONDS * c.rate) ? bestAt - static_cast<size_t>(EXTRA_QUIET_SECONDS * c.rate) : 0;
    if (best > EXTRA_SHARE * strength && best > TICK_DETECTION_RATIO * c.noise && extraAfter > EXTRA_SHARE * pulse &&
        envelope.MeanAfter(quietFrom, bestAt - std::min(bestAt, edgeSamples), edgeSamples, extraAfter) < QUIET_SHARE &&
        envelope.After(bestAt + edgeSamples + edgeSamples / 2, edgeSamples) < QUIET_SHARE * extraAfter) {
        shape.hasExtra = true;
        shape.extraAt = bestAt;
    }
}

}  // namespace

SecondShape ClassifySecond(const PitchEnvelope& envelope, const float* span, double startAt, SecondClass found, double level,
                           const SecondContext& c)
{
    SecondShape shape;
    shape.kind = found;
    const size_t start = static_cast<size_t>(std::max(0.0, std::floor(startAt)));
    const auto at = [&](double seconds) { return SamplesAt(start, seconds, c.rate); };
    const double pulse = envelope.After(start, c.edgeSamples);
    if (found == SecondClass::Missed) {
        if (HourTone(span, start, c)) {
            shape.kind = SecondClass::Marker;
            shape.minute = true;
        }
        return shape;
    }
    if (c.station == TimeStation::Chu) {
        const double goesOn = envelope.MeanAfter(at(CHU_PULSE_FROM_SECONDS), at(CHU_PULSE_TO_SECONDS), c.edgeSamples, pulse);
        const double minute = envelope.MeanAfter(at(CHU_MINUTE_FROM_SECONDS), at(CHU_MINUTE_TO_SECONDS), c.edgeSamples, pulse);
        if (goesOn < GOES_ON || minute > GOES_ON)
            shape.kind = SecondClass::Marker;  // 10 ms before code or voice; 0.5 s or 1 s at the minute
        return shape;
    }
    const double goesOn = envelope.MeanAfter(at(NIST_TONE_FROM_SECONDS), at(NIST_TONE_TO_SECONDS), c.edgeSamples, pulse);
    if (goesOn > GOES_ON) {
        shape.kind = SecondClass::Marker;  // the minute tone
        shape.minute = true;
        shape.steadyPulse = goesOn > STEADY_PULSE && level >= STRONG_PULSE_SHARE * c.tickLevel;
        return shape;
    }
    DoubledTick(envelope, startAt, start, pulse, c, shape);
    return shape;
}
