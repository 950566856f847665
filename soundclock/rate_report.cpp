#include "soundclock/rate_report.h"

#include "soundclock/text_format.h"

#include <cmath>
#include <cstdio>

namespace {

// The sign in words, as measure says it: within twice the uncertainty of
// zero no direction is claimed.
std::string DirectionText(const RateEstimate& estimate)
{
    if (std::fabs(estimate.ppm) <= 2 * estimate.uncertaintyPpm)
        return "the card keeps the system clock's time within the uncertainty";
    return estimate.ppm > 0 ? "the card runs fast: more samples a second than its nominal rate"
                            : "the card runs slow: fewer samples a second than its nominal rate";
}

const char* SyncWord(ClockSync sync)
{
    switch (sync) {
    case ClockSync::Synchronised: return "synchronised";
    case ClockSync::Unsynchronised: return "not synchronised";
    case ClockSync::Unknown: break;
    }
    return "synchronisation unknown";
}

}  // namespace

bool WithinExpectation(const RateReport& report)
{
    return !report.haveExpect || std::fabs(report.estimate.ppm - report.expect) <= report.tolerance;
}

std::string RateFigureText(const RateEstimate& estimate)
{
    return FigureText(estimate.ppm, estimate.uncertaintyPpm, "ppm") + " (" + Fixed(estimate.rate, 5) + " Hz)";
}

std::string RateLiveText(double secondsRun, const RateEstimate& estimate)
{
    std::string text = Fixed(secondsRun, 1) + " s, ";
    if (!estimate.valid)
        return text + "waiting for the device's clock stamps";
    return text + RateFigureText(estimate) + " from " + std::to_string(estimate.stamps) + " stamps";
}

std::string RateResultLine(const RateReport& report)
{
    const RateEstimate& estimate = report.estimate;
    std::string line = report.direction + " rate " + Fixed(estimate.rate, 5) + " Hz, " +
                       FigureText(estimate.ppm, estimate.uncertaintyPpm, "ppm") + " from " + Fixed(report.nominalRate, 0) +
                       " Hz against the system clock (" + DirectionText(estimate) + "), " +
                       Fixed(estimate.seconds, 1) + " s, " + std::to_string(estimate.stamps) + " stamps";
    if (estimate.lowerEnvelope)
        line += " (the line through each second's least late one)";
    if (estimate.pointsLeftOut > 0)
        line += ", " + std::to_string(estimate.pointsLeftOut) + " left out as late";
    if (report.xruns > 0)
        line += ", " + std::to_string(report.xruns) + (report.xruns == 1 ? " xrun" : " xruns");
    if (estimate.silentGaps > 0)
        line += ", " + std::to_string(estimate.silentGaps) +
                (estimate.silentGaps == 1 ? " gap in the stream" : " gaps in the stream") +
                " that no xrun reported (a segment each)";
    if (estimate.driftAllowancePpm > 0)
        line += "; the +- allows " + UncertaintyText(estimate.driftAllowancePpm) +
                " ppm for the stamps' lateness drifting over the run, which no stamp shows";
    return line;
}

JsonObject RateJson(const RateReport& report)
{
    const RateEstimate& estimate = report.estimate;
    JsonObject json;
    json.Number("ppm", estimate.ppm, 6)
        .Number("uncertainty_ppm", estimate.uncertaintyPpm, 6)
        .Number("seconds", estimate.seconds, 3)
        .Number("rate_hz", estimate.rate, 8)
        .Number("nominal_rate_hz", report.nominalRate, 0)
        .String("direction", report.direction)
        .String("device", report.device)
        .Integer("stamps", estimate.stamps)
        .Integer("stamps_in_line", estimate.pointsUsed)
        .Bool("lower_envelope", estimate.lowerEnvelope)
        .Integer("stamps_left_out", estimate.pointsLeftOut)
        .Integer("segments", estimate.segments)
        .Integer("xruns", report.xruns)
        .Integer("silent_gaps", estimate.silentGaps)
        .Number("jitter_ms", estimate.jitterSeconds * 1e3, 4)
        .Number("lateness_drift_allowance_ppm", estimate.driftAllowancePpm, 6)
        .Object("system_clock", SystemClockJson(report.clock));
    if (report.haveExpect)
        json.Bool("within_tolerance", WithinExpectation(report));
    return json;
}

std::string SystemClockLine(const SystemClockState& clock)
{
    std::string line = std::string("system clock: ") + SyncWord(clock.sync) + " (" + clock.source + ": " + clock.detail + ")";
    if (clock.haveFrequency)
        line += ", frequency correction " + Fixed(clock.frequencyPpm, 3, true) + " ppm";
    if (clock.haveError)
        line += ", estimated error " + Fixed(clock.estimatedErrorSeconds, 6) + " s (at most " +
                Fixed(clock.maximumErrorSeconds, 6) + " s)";
    return line;
}

std::string SystemClockWarning(const SystemClockState& clock)
{
    switch (clock.sync) {
    case ClockSync::Synchronised: return "";
    case ClockSync::Unsynchronised:
        return "the system clock is not synchronised (" + clock.detail +
               "): the rate is against the computer's own oscillator, which may be tens of ppm off; "
               "the figure holds only as far as that clock does";
    case ClockSync::Unknown: break;
    }
    return "whether the system clock is synchronised cannot be read (" + clock.detail +
           "): the figure holds only as far as that clock does";
}

JsonObject SystemClockJson(const SystemClockState& clock)
{
    JsonObject json;
    if (clock.sync == ClockSync::Unknown)
        json.Null("synchronised");
    else
        json.Bool("synchronised", clock.sync == ClockSync::Synchronised);
    json.String("source", clock.source).String("detail", clock.detail);
    if (clock.haveFrequency)
        json.Number("frequency_correction_ppm", clock.frequencyPpm, 4);
    if (clock.haveError)
        json.Number("estimated_error_s", clock.estimatedErrorSeconds, 6).Number("maximum_error_s", clock.maximumErrorSeconds, 6);
    return json;
}
