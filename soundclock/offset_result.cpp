#include "soundclock/offset_result.h"
#include "soundclock/commands.h"
#include "soundclock/receiver_reading.h"
#include "soundclock/text_format.h"
#include "soundclock/track_output.h"

#include "meter/carrier_range.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

// Heavily clipped bursts distort the correlation's shape: refuse the
// figure when more than half of them had samples at full scale.
constexpr double CLIPPED_SHARE_LIMIT = 0.5;
// The result line names this many jumps; more are counted.
constexpr size_t JUMPS_NAMED = 5;

}  // namespace

std::string NoSignalText(const ClockEstimator& meter, int recordingRate, const SignalChoice& signal)
{
    const InputSummary seen = meter.Summary();
    const double seconds = static_cast<double>(seen.samples) / recordingRate;
    if (seen.samples == 0)
        return "no test signal found: the recording holds no samples";
    if (seen.peakDbfs < -1e8)
        return "no test signal found: " + Fixed(seconds, 1) + " s of digital silence";
    const ClockEstimate estimate = meter.Estimate();
    std::string text = "no test signal found in " + Fixed(seconds, 1) + " s: level " + Fixed(seen.rmsDbfs, 1) +
                       " dBFS RMS (peak " + Fixed(seen.peakDbfs, 1) + " dBFS), about " + Fixed(seen.zeroCrossingHz, 0) +
                       " Hz by its zero crossings; ";
    if (estimate.blocksUsed > 0)
        text += "the burst showed in only " + std::to_string(estimate.blocksUsed) + " blocks, too few for a figure";
    else
        text += "the best match with the burst on " + Fixed(signal.carrier, 1) + " Hz (signal rate " +
                std::to_string(signal.rate) + " Hz) is " + Fixed(seen.bestCorrelation, 2) +
                " (a burst matches above 0.7, with a clear peak)";
    if (seen.clippedSamples > 0)
        text += "; " + std::to_string(seen.clippedSamples) + " samples at full scale";
    return text;
}

bool MostlyClipped(const ClockEstimator& meter)
{
    return meter.Summary().clippedBlocks > CLIPPED_SHARE_LIMIT * static_cast<double>(meter.Estimate().blocksUsed);
}

namespace {

// The figure given: the phase's, or where phase and delay disagree (the
// phase turned by something besides the clocks, a frequency shift in the
// path) the delay's, which is the clock offset then.
struct Figure {
    double ppm = 0, uncertainty = 0;
};

Figure ChosenFigure(const ClockEstimate& estimate)
{
    return estimate.agree ? Figure{estimate.ppm, estimate.uncertaintyPpm}
                          : Figure{estimate.delayPpm, estimate.delayUncertaintyPpm};
}

struct Verdict {
    Figure figure;
    ReceiverReading reading;
    bool within = true;
    bool partial = false;
    bool carrierInRange = true;
};

std::string ResultJson(const ClockEstimator& meter, const ClockEstimate& estimate, const Verdict& v, const ResultOptions& options,
                       const RunFacts& facts, const TrackOutput* track)
{
    const InputSummary seen = meter.Summary();
    std::vector<JsonObject> jumps;
    for (const JumpEvent& jump : meter.Jumps())
        jumps.push_back(JsonObject().Number("time_s", jump.time, 4).Number("samples", jump.samples, 4));
    JsonObject json;
    json.Number("ppm", v.figure.ppm, 6)
        .Number("uncertainty_ppm", v.figure.uncertainty, 6)
        .Number("phase_ppm", estimate.ppm, 6)
        .Number("phase_uncertainty_ppm", estimate.uncertaintyPpm, 6)
        .Number("delay_ppm", estimate.delayPpm, 6)
        .Number("delay_uncertainty_ppm", estimate.delayUncertaintyPpm, 6)
        .Bool("phase_and_delay_agree", estimate.agree)
        .Number("seconds", estimate.secondsUsed, 3)
        .Integer("blocks", estimate.blocksUsed)
        .Integer("slider", v.reading.position)
        .Bool("slider_within_reach", v.reading.withinReach)
        .String("clock_error", v.reading.clockText)
        .Integer("jump_count", meter.JumpCount())
        .Array("jumps", jumps)
        .Integer("lost_blocks", seen.lostBlocks)
        .Integer("outlier_blocks", seen.outlierBlocks)
        .Integer("recording_rate", facts.recordingRate)
        .Integer("signal_rate", facts.signal.rate)
        .Number("carrier_hz", facts.signal.carrier, 3)
        .Bool("carrier_in_range", v.carrierInRange);
    if (facts.overruns >= 0)
        json.Integer("overruns", facts.overruns);
    if (facts.underruns >= 0)
        json.Integer("underruns", facts.underruns);
    json.Bool("partial", v.partial);
    if (v.partial)
        json.String("partial_reason", facts.partial);
    if (options.haveExpect)
        json.Bool("within_tolerance", v.within);
    if (track != nullptr)
        json.Append(track->Json());
    json.Append(facts.extraJson);
    return json.Text();
}

std::string JumpsText(const ClockEstimator& meter)
{
    if (meter.JumpCount() == 0)
        return "";
    std::string text = ", " + Counted(meter.JumpCount(), "jump", "jumps") + " (";
    const auto& jumps = meter.Jumps();
    for (size_t i = 0; i < jumps.size() && i < JUMPS_NAMED; ++i)
        text += (i > 0 ? ", " : "") + JumpText(jumps[i]);
    return text + (static_cast<size_t>(meter.JumpCount()) > JUMPS_NAMED ? ", ...)" : ")");
}

std::string ResultLine(const ClockEstimator& meter, const ClockEstimate& estimate, const Verdict& v, const RunFacts& facts,
                       const TrackOutput* track)
{
    const double ppm = v.figure.ppm;
    const std::string direction = std::fabs(ppm) <= 2 * v.figure.uncertainty || std::fabs(ppm) < 0.00005
                                      ? "the clocks agree within the uncertainty"
                                      : ppm > 0 ? "the recording's card runs fast" : "the recording's card runs slow";
    std::string line = "clock offset " + FigureText(ppm, v.figure.uncertainty, "ppm") + " (" + direction + "), " +
                       Fixed(estimate.secondsUsed, 1) + " s, " + std::to_string(estimate.blocksUsed) + " blocks" + JumpsText(meter);
    if (facts.overruns > 0)
        line += ", " + Counted(facts.overruns, "overrun", "overruns") + " in the recording";
    if (facts.underruns > 0)
        line += ", " + Counted(facts.underruns, "underrun", "underruns") + " in the playback";
    if (!estimate.agree)
        line += "; phase and delay disagree: the phase gives " +
                Fixed(estimate.ppm, UncertaintyDecimals(estimate.uncertaintyPpm), true) + " ppm, the delay " +
                Fixed(estimate.delayPpm, UncertaintyDecimals(estimate.delayUncertaintyPpm), true) +
                " ppm (a frequency shift in the path?): the delay's figure is given";
    if (!v.carrierInRange)
        line += "; carrier outside " + Fixed(CARRIER_SUPPORTED_LOW, 1) + ".." + Fixed(CARRIER_SUPPORTED_HIGH, 3) +
                " of the rate: the uncertainty may be understated";
    if (v.reading.withinReach)
        line += "; receiver slider " + std::to_string(v.reading.position) + ", \"" + v.reading.clockText + "\"";
    else
        line += "; beyond the receiver slider's reach (+-2000 ppm)";
    if (track != nullptr)
        line += track->ResultWords(v.figure.uncertainty);
    if (v.partial)
        line += "; partial: " + facts.partial;
    return line;
}

}  // namespace

std::string JumpText(const JumpEvent& jump)
{
    return Fixed(jump.samples, std::fabs(jump.samples - std::round(jump.samples)) < 1e-9 ? 0 : 3, true) + " samples at " +
           Fixed(jump.time, 2) + " s";
}

std::string OffsetLiveText(const ClockEstimator& meter)
{
    const ClockEstimate estimate = meter.Estimate();
    std::string text = Fixed(meter.SecondsRead(), 1) + " s read, ";
    if (estimate.valid)
        text += FigureText(estimate.ppm, estimate.uncertaintyPpm, "ppm") + " over " + std::to_string(estimate.blocksUsed) + " blocks";
    else
        text += "looking for the test signal (" + std::to_string(estimate.blocksUsed) + " blocks)";
    if (meter.JumpCount() > 0)
        text += ", " + Counted(meter.JumpCount(), "jump", "jumps");
    return text;
}

int PrintResult(const ClockEstimator& meter, const ResultOptions& options, const RunFacts& facts, const TrackOutput* track)
{
    const ClockEstimate estimate = meter.Estimate();
    const std::string partialNote = facts.partial.empty() ? "" : " (partial: " + facts.partial + ")";
    if (!estimate.valid)
        return Fail(options, NoSignalText(meter, facts.recordingRate, facts.signal) + partialNote);
    const InputSummary seen = meter.Summary();
    if (MostlyClipped(meter))
        return Fail(options, "the signal is clipped: " + std::to_string(seen.clippedBlocks) + " of " +
                                 std::to_string(estimate.blocksUsed) +
                                 " bursts reach full scale; lower the recording level and measure again" + partialNote);
    Verdict v;
    v.figure = ChosenFigure(estimate);
    v.reading = ReadingForOffset(v.figure.ppm);
    v.within = !options.haveExpect || std::fabs(v.figure.ppm - options.expect) <= options.tolerance;
    v.partial = !facts.partial.empty();
    v.carrierInRange = CheckCarrier(facts.signal.rate, facts.signal.carrier).support == CarrierSupport::Supported;
    if (options.json)
        std::printf("%s\n", ResultJson(meter, estimate, v, options, facts, track).c_str());
    else {
        std::printf("%s\n", ResultLine(meter, estimate, v, facts, track).c_str());
        if (!facts.extraLine.empty())
            std::printf("%s\n", facts.extraLine.c_str());
    }
    std::fflush(stdout);
    if (v.partial)
        return EXIT_UNUSABLE;
    return v.within ? EXIT_WITHIN : EXIT_OUTSIDE;
}

bool RateFits(int recordingRate, const SignalChoice& signal)
{
    return std::fabs(static_cast<double>(recordingRate) / signal.rate - 1) <= RATE_MISMATCH_LIMIT;
}

std::string RecordingRefusal(const ResultOptions& options, const SignalChoice& signal, int recordRate)
{
    if (!RateFits(recordRate, signal))
        return "--record-rate " + std::to_string(recordRate) + " Hz is too far from the signal's " + std::to_string(signal.rate) +
               " Hz: record at (nearly) the signal's rate";
    return CarrierRefusal(options, signal);
}

std::string CarrierRefusal(const ResultOptions& options, const SignalChoice& signal)
{
    const CarrierCheck check = CheckCarrier(signal.rate, signal.carrier);
    if (check.support == CarrierSupport::Refused)
        return check.reason;
    if (check.support == CarrierSupport::Warned && !options.quiet)
        std::fprintf(stderr, "soundclock: warning: %s\n", check.reason.c_str());
    return "";
}
