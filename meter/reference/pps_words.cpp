#include "meter/reference/pps_words.h"

#include <cmath>
#include <cstdio>

namespace {

// Below this peak the input is silent.
constexpr double SILENCE_DBFS = -90;
// Within this of a multiple of 50 or 60 Hz, the strongest frequency is the mains'.
constexpr double MAINS_TOLERANCE_HZ = 3;

bool IsMains(double hz)
{
    for (double mains : {50.0, 60.0})
        for (int harmonic = 1; harmonic <= 4; ++harmonic)
            if (std::fabs(hz - mains * harmonic) <= MAINS_TOLERANCE_HZ)
                return true;
    return false;
}

}  // namespace

std::string PpsFollowingProblem(int64_t found, int64_t clippedPulses, int64_t extras, bool present, double strongestHz,
                                int lostAfter)
{
    char text[200];
    if (clippedPulses > found)
        std::snprintf(text, sizeof text, "the pulses clip: %lld of %lld reach full scale; turn the input down",
                      static_cast<long long>(clippedPulses), static_cast<long long>(clippedPulses + found));
    else if (extras > found)
        // More edges between the seconds than on them: what locked was
        // no second pulse (a tone, a signal's own rhythm).
        std::snprintf(text, sizeof text, "%lld edges between the seconds for %lld on them: not one pulse a second "
                      "(strongest at %.0f Hz)", static_cast<long long>(extras), static_cast<long long>(found),
                      strongestHz);
    else if (!present)
        std::snprintf(text, sizeof text, "the pulse was lost: none where one was due for %d seconds", lostAfter);
    else
        text[0] = 0;
    return text;
}

std::string PpsSearchProblem(const PulseTrainVerdict& verdict, bool tried, double peakDbfs, double rmsDbfs,
                             double strongestHz)
{
    char text[200];
    if (peakDbfs < SILENCE_DBFS)
        return "silence: nothing on the input (peak below -90 dBFS); is the pulse on this channel?";
    if (!tried)
        return {};
    if (verdict.pulsesPerSecond >= 1.5)
        std::snprintf(text, sizeof text, "%.3g pulses a second, not one: not a second pulse (strongest at %.0f Hz%s)",
                      verdict.pulsesPerSecond, strongestHz, IsMains(strongestHz) ? ": mains pick-up" : "");
    else if (!verdict.periodic && verdict.pulsesPerSecond < 0.5)
        std::snprintf(text, sizeof text, "no pulse: nothing stands out of the noise (%.0f dBFS rms) once a second",
                      rmsDbfs);
    else
        std::snprintf(text, sizeof text, "no pulse a second apart: edges come %.3g a second, not a second apart",
                      verdict.pulsesPerSecond);
    return text;
}
