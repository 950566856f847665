#include "soundclock/reference_result.h"
#include "soundclock/commands.h"
#include "soundclock/failure.h"
#include "soundclock/offset_result.h"
#include "soundclock/text_format.h"
#include "soundclock/track_output.h"

#include <cmath>
#include <cstdio>

namespace {

const char* StationName(TimeStation station)
{
    switch (station) {
    case TimeStation::Wwv: return "WWV";
    case TimeStation::Wwvh: return "WWVH";
    case TimeStation::Chu: return "CHU";
    }
    return "?";
}

// The sign in words: within twice the uncertainty of zero no direction is claimed.
std::string DirectionText(const ReferenceEstimate& estimate, const std::string& against)
{
    if (std::fabs(estimate.ppm) <= 2 * estimate.uncertaintyPpm)
        return "the card keeps " + against + "'s time within the uncertainty";
    return estimate.ppm > 0 ? "the card runs fast: more samples a second than its nominal rate"
                            : "the card runs slow: fewer samples a second than its nominal rate";
}

std::string ResultLine(const ReferenceEstimate& e, const ReferenceFacts& facts, const TrackOutput& track)
{
    const std::string against = ReferenceWords(facts.kind);
    std::string line = "capture rate " + Fixed(e.rateHz, 5) + " Hz, " + FigureText(e.ppm, e.uncertaintyPpm, "ppm") + " from " +
                       std::to_string(facts.nominalRate) + " Hz against " + against + " (" + DirectionText(e, against) + "), " +
                       Fixed(e.seconds, 1) + " s, " + std::to_string(e.eventsUsed) + " " + EventNoun(facts.kind) + " used";
    if (e.eventsMissed > 0 || e.eventsRejected > 0)
        line += " (" + std::to_string(e.eventsMissed) + " missed, " + std::to_string(e.eventsRejected) + " rejected)";
    line += ", scatter " + Fixed(e.scatterSamples, e.scatterSamples < 0.1 ? 4 : 2) + " samples";
    if (e.steps > 0)
        line += ", " + Counted(e.steps, "step", "steps") + " in the stream stepped over";
    if (facts.xruns > 0)
        line += ", " + Counted(facts.xruns, "overrun", "overruns");
    if (e.wanderAllowancePpm > 0)
        line += "; the +- allows " + UncertaintyText(e.wanderAllowancePpm) + " ppm for the reference's path wandering";
    if (!e.unsteady.empty())
        line += "; not steady: " + e.unsteady;
    line += track.ResultWords(e.uncertaintyPpm);
    if (!facts.partial.empty())
        line += "; partial: " + facts.partial;
    return line;
}

JsonObject ResultJson(const ReferenceEstimate& e, const ResultOptions& options, const ReferenceFacts& facts,
                      const TrackOutput& track, bool within)
{
    JsonObject reference;
    reference.String("kind", ReferenceName(facts.kind))
        .Integer("events_used", e.eventsUsed)
        .Integer("events_missed", e.eventsMissed)
        .Integer("events_rejected", e.eventsRejected)
        .Number("scatter_samples", e.scatterSamples, 6)
        .Integer("segments", e.segments)
        .Integer("steps", e.steps)
        .Number("wander_allowance_ppm", e.wanderAllowancePpm, 6)
        .Bool("steady", e.unsteady.empty());
    if (e.unsteady.empty())
        reference.Null("unsteady");
    else
        reference.String("unsteady", e.unsteady);
    JsonObject json;
    json.Number("ppm", e.ppm, 6)
        .Number("uncertainty_ppm", e.uncertaintyPpm, 6)
        .Number("seconds", e.seconds, 3)
        .Number("rate_hz", e.rateHz, 8)
        .Integer("nominal_rate_hz", facts.nominalRate)
        .String("direction", "capture")
        .String(facts.fromDevice ? "device" : "file", facts.source)
        .Integer("channel", facts.channel + 1)
        .Object("reference", reference);
    if (facts.xruns >= 0)
        json.Integer("xruns", facts.xruns);
    json.Bool("partial", !facts.partial.empty());
    if (!facts.partial.empty())
        json.String("partial_reason", facts.partial);
    if (options.haveExpect)
        json.Bool("within_tolerance", within);
    return json.Append(track.Json());
}

}  // namespace

std::string ReferenceWords(const ReferenceKind& kind)
{
    switch (kind.type) {
    case ReferenceType::System: return "the system clock";
    case ReferenceType::Pps: return "the second pulse";
    case ReferenceType::Tone: return "the " + Fixed(kind.toneHz, kind.toneHz == std::floor(kind.toneHz) ? 0 : 3) + " Hz tone";
    case ReferenceType::Ticks: return std::string(StationName(kind.station)) + "'s ticks";
    }
    return "the reference";
}

const char* EventNoun(const ReferenceKind& kind)
{
    switch (kind.type) {
    case ReferenceType::Pps: return "pulses";
    case ReferenceType::Tone: return "blocks";
    case ReferenceType::Ticks: return "ticks";
    case ReferenceType::System: break;
    }
    return "stamps";
}

std::string ReferenceLiveText(double secondsRead, const ReferenceKind& kind, const ReferenceEstimate& estimate)
{
    std::string text = Fixed(secondsRead, 1) + " s read, ";
    if (!estimate.valid)
        return text + "listening for " + ReferenceWords(kind) + " (" + std::to_string(estimate.eventsUsed) + " " +
               EventNoun(kind) + ")";
    return text + FigureText(estimate.ppm, estimate.uncertaintyPpm, "ppm") + " (" + Fixed(estimate.rateHz, 5) + " Hz) from " +
           std::to_string(estimate.eventsUsed) + " " + EventNoun(kind);
}

namespace {

// What was heard, in a few words: level, events a second, the strongest
// frequency, clipping.
std::string HeardText(const ReferenceKind& kind, const ReferenceHeard& heard)
{
    if (heard.peakDbfs < -1e8)
        return "digital silence";
    std::string what = "level " + Fixed(heard.rmsDbfs, 1) + " dBFS RMS (peak " + Fixed(heard.peakDbfs, 1) + " dBFS)";
    if (kind.type != ReferenceType::Tone)
        what += ", " + Fixed(heard.eventsPerSecond, 1) + " " + EventNoun(kind) + " a second";
    if (heard.strongestHz > 0)
        what += ", the strongest frequency " + Fixed(heard.strongestHz, 1) + " Hz";
    if (heard.clippedSamples > 0)
        what += ", " + std::to_string(heard.clippedSamples) + " samples at full scale";
    return what;
}

}  // namespace

std::string FirstLookText(double seconds, const ReferenceKind& kind, const ReferenceHeard& heard)
{
    const std::string what = HeardText(kind, heard);
    const std::string first = "the first " + Fixed(seconds, 0) + " s: ";
    if (heard.present)
        return first + "found " + ReferenceWords(kind) + ": " + what;
    return "warning: " + first + "no sign of " + ReferenceWords(kind) + " yet: " + what +
           (heard.problem.empty() ? "" : " (" + heard.problem + ")") + "; check the cable, the level and the channel (--channel N)";
}

int PrintReferenceResult(const ReferenceEstimate& estimate, const ReferenceHeard& heard, const ResultOptions& options,
                         const ReferenceFacts& facts, const TrackOutput& track)
{
    const std::string partialNote = facts.partial.empty() ? "" : " (partial: " + facts.partial + ")";
    if (!estimate.valid) {
        const std::string problem = heard.problem.empty() ? "too few " + std::string(EventNoun(facts.kind)) + " for a rate"
                                                          : heard.problem;
        return Fail(options, "no usable reference: " + problem + "; heard in " + Fixed(heard.seconds, 1) + " s: " +
                                 HeardText(facts.kind, heard) + partialNote);
    }
    const bool within = !options.haveExpect || std::fabs(estimate.ppm - options.expect) <= options.tolerance;
    if (options.json)
        std::printf("%s\n", ResultJson(estimate, options, facts, track, within).Text().c_str());
    else
        std::printf("%s\n", ResultLine(estimate, facts, track).c_str());
    std::fflush(stdout);
    if (!facts.partial.empty())
        return EXIT_UNUSABLE;
    return within ? EXIT_WITHIN : EXIT_OUTSIDE;
}
