#include "meter/reference/tick_words.h"

#include "meter/reference/reference_meter.h"

#include <cstdio>

namespace {

// The ticks are there while found in more than this share of the seconds
// followed (a fade takes some, the stations omit one or two a minute).
constexpr double PRESENT_SHARE = 0.5;
constexpr double SILENT_DBFS = -100;
constexpr double STEADY_TONE_DB = 25;
// A receiver's audio passes nothing below a few hundred hertz: pulses once
// a second whose strongest frequency lies under this carry no tick's pitch
// (a second pulse's edges, or DC, given as ticks).
constexpr double NO_PITCH_BELOW_HZ = 100;

}  // namespace

std::string TicksGoneText(int64_t ticksFound, int64_t secondsFollowed, double lostAtSeconds)
{
    char text[160];
    if (static_cast<double>(ticksFound) <= PRESENT_SHARE * static_cast<double>(secondsFollowed)) {
        std::snprintf(text, sizeof text, "ticks found in only %lld of the %lld seconds followed: the station faded or was too weak",
                      static_cast<long long>(ticksFound), static_cast<long long>(secondsFollowed));
        return text;
    }
    if (lostAtSeconds >= 0) {
        std::snprintf(text, sizeof text, "the ticks were lost at %.0f s and not found again", lostAtSeconds);
        return text;
    }
    return {};
}

std::string NoTicksText(const TickSearch& lastSearch, const std::string& searchProblem, uint64_t samples, double rms,
                        double peak, int sampleRate)
{
    char text[200];
    if (samples == 0)
        return "no samples";
    if (peak <= 0 || AmplitudeDbfs(rms) < SILENT_DBFS) {
        std::snprintf(text, sizeof text, "the input is silent (%.0f dBFS): no ticks", peak > 0 ? AmplitudeDbfs(rms) : -999.0);
        return text;
    }
    if (lastSearch.seconds <= 0) {
        std::snprintf(text, sizeof text, "%.1f s heard: too short to look for ticks", samples / static_cast<double>(sampleRate));
        return text;
    }
    if (!searchProblem.empty())
        return searchProblem;
    if (lastSearch.onsetsPerSecond >= 1.5) {
        std::snprintf(text, sizeof text, "%.1f pulses a second, not one: not a time station's ticks", lastSearch.onsetsPerSecond);
        return text;
    }
    if (lastSearch.strongestOverMedianDb >= STEADY_TONE_DB) {
        std::snprintf(text, sizeof text, "a steady tone at %.0f Hz (%.0f dBFS) and no ticks", lastSearch.strongestHz, AmplitudeDbfs(rms));
        return text;
    }
    if (lastSearch.onsetsPerSecond >= 0.5 && lastSearch.strongestHz < NO_PITCH_BELOW_HZ) {
        std::snprintf(text, sizeof text,
                      "pulses once a second without a tone in them (strongest at %.0f Hz): a second pulse, not a time "
                      "station's ticks (--reference pps measures it)",
                      lastSearch.strongestHz);
        return text;
    }
    std::snprintf(text, sizeof text, "no ticks: noise at %.0f dBFS (strongest at %.0f Hz)", AmplitudeDbfs(rms), lastSearch.strongestHz);
    return text;
}
