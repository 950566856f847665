#include "soundclock/rate_report.h"

#include "soundclock/measure_session.h"

#include <cmath>
#include <cstdio>

namespace {

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 32)
            continue;
        out += c;
    }
    return out + "\"";
}

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
    return Fixed(estimate.ppm, 4, true) + " ppm +- " + Fixed(estimate.uncertaintyPpm, 4) + " ppm (" +
           Fixed(estimate.rate, 5) + " Hz)";
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
    std::string line = report.direction + " rate " + Fixed(estimate.rate, 5) + " Hz, " + Fixed(estimate.ppm, 4, true) +
                       " ppm +- " + Fixed(estimate.uncertaintyPpm, 4) + " ppm from " + Fixed(report.nominalRate, 0) +
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
        line += "; the +- allows " + Fixed(estimate.driftAllowancePpm, 4) +
                " ppm for the stamps' lateness drifting over the run, which no stamp shows";
    return line;
}

std::string RateJson(const RateReport& report)
{
    const RateEstimate& estimate = report.estimate;
    std::string json = "{\"ppm\":" + Fixed(estimate.ppm, 6) + ",\"uncertainty_ppm\":" + Fixed(estimate.uncertaintyPpm, 6) +
                       ",\"seconds\":" + Fixed(estimate.seconds, 3) + ",\"rate_hz\":" + Fixed(estimate.rate, 8) +
                       ",\"nominal_rate_hz\":" + Fixed(report.nominalRate, 0) + ",\"direction\":" +
                       JsonString(report.direction) + ",\"device\":" + JsonString(report.device) +
                       ",\"stamps\":" + std::to_string(estimate.stamps) + ",\"stamps_in_line\":" + std::to_string(estimate.pointsUsed) +
                       ",\"lower_envelope\":" + (estimate.lowerEnvelope ? "true" : "false") +
                       ",\"stamps_left_out\":" + std::to_string(estimate.pointsLeftOut) +
                       ",\"segments\":" + std::to_string(estimate.segments) + ",\"xruns\":" + std::to_string(report.xruns) +
                       ",\"silent_gaps\":" + std::to_string(estimate.silentGaps) +
                       ",\"jitter_ms\":" + Fixed(estimate.jitterSeconds * 1e3, 4) +
                       ",\"lateness_drift_allowance_ppm\":" + Fixed(estimate.driftAllowancePpm, 6) +
                       ",\"system_clock\":" + SystemClockJson(report.clock);
    if (report.haveExpect)
        json += std::string(",\"within_tolerance\":") + (WithinExpectation(report) ? "true" : "false");
    return json + "}";
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

std::string SystemClockJson(const SystemClockState& clock)
{
    const char* synchronised = clock.sync == ClockSync::Synchronised     ? "true"
                               : clock.sync == ClockSync::Unsynchronised ? "false"
                                                                         : "null";
    std::string json = std::string("{\"synchronised\":") + synchronised + ",\"source\":" + JsonString(clock.source) +
                       ",\"detail\":" + JsonString(clock.detail);
    if (clock.haveFrequency)
        json += ",\"frequency_correction_ppm\":" + Fixed(clock.frequencyPpm, 4);
    if (clock.haveError)
        json += ",\"estimated_error_s\":" + Fixed(clock.estimatedErrorSeconds, 6) +
                ",\"maximum_error_s\":" + Fixed(clock.maximumErrorSeconds, 6);
    return json + "}";
}
