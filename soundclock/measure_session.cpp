#include "soundclock/measure_session.h"
#include "soundclock/commands.h"
#include "soundclock/console.h"
#include "soundclock/track_output.h"

#include "meter/carrier_range.h"
#include "soundclock/receiver_reading.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

// Heavily clipped bursts distort the correlation's shape: refuse the
// figure when more than half of them had samples at full scale.
constexpr double CLIPPED_SHARE_LIMIT = 0.5;

std::string FlagText(unsigned flags)
{
    static const struct { unsigned bit; const char* name; } names[] = {
        {BLOCK_USED, "used"},         {BLOCK_LOST, "lost"},       {BLOCK_OUTLIER, "outlier"},
        {BLOCK_JUMP, "jump"},         {BLOCK_CLIPPED, "clipped"}, {BLOCK_SEARCHED, "searched"},
    };
    std::string text;
    for (const auto& name : names)
        if (flags & name.bit)
            text += (text.empty() ? "" : "|") + std::string(name.name);
    return text;
}

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

std::string JumpText(const JumpEvent& jump)
{
    return Fixed(jump.samples, std::fabs(jump.samples - std::round(jump.samples)) < 1e-9 ? 0 : 3, true) + " samples at " +
           Fixed(jump.time, 2) + " s";
}

std::string Counted(int64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Why there is no figure, with what was seen.
std::string NoSignalText(const ClockEstimator& meter, const RunFacts& facts)
{
    const InputSummary seen = meter.Summary();
    const double seconds = static_cast<double>(seen.samples) / facts.recordingRate;
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
        text += "the best match with the burst on " + Fixed(facts.signal.carrier, 1) + " Hz (signal rate " +
                std::to_string(facts.signal.rate) + " Hz) is " + Fixed(seen.bestCorrelation, 2) +
                " (a burst matches above 0.7, with a clear peak)";
    if (seen.clippedSamples > 0)
        text += "; " + std::to_string(seen.clippedSamples) + " samples at full scale";
    return text;
}

}  // namespace

std::string Fixed(double value, int decimals, bool sign)
{
    char text[64];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
    return text;
}

// One live line on standard error, once a second: rewritten in place on a
// terminal, a plain line otherwise.
class LiveLine {
public:
    explicit LiveLine(bool enabled) : enabled(enabled), terminal(IsTerminal(stderr)), last(std::chrono::steady_clock::now()) {}
    void Update(const ClockEstimator& meter)
    {
        if (!enabled)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::seconds(1))
            return;
        last = now;
        const ClockEstimate estimate = meter.Estimate();
        std::string text = Fixed(meter.SecondsRead(), 1) + " s read, ";
        if (estimate.valid)
            text += Fixed(estimate.ppm, 4, true) + " ppm +- " + Fixed(estimate.uncertaintyPpm, 4) + " ppm over " +
                    std::to_string(estimate.blocksUsed) + " blocks";
        else
            text += "looking for the test signal (" + std::to_string(estimate.blocksUsed) + " blocks)";
        if (meter.JumpCount() > 0)
            text += ", " + Counted(meter.JumpCount(), "jump", "jumps");
        Print(text);
    }
    void Print(const std::string& text)
    {
        if (terminal) {
            // Spaces over the rest of a longer line before (no escape
            // sequences: not every Windows console knows them).
            const size_t pad = printedLength > text.size() ? printedLength - text.size() : 0;
            std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
            printedLength = text.size();
        } else
            std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        pendingNewline = terminal;
    }
    // Before any other line on standard error.
    void Break()
    {
        if (pendingNewline)
            std::fputc('\n', stderr);
        pendingNewline = false;
        printedLength = 0;
    }

private:
    bool enabled;
    bool terminal;
    bool pendingNewline = false;
    size_t printedLength = 0;
    std::chrono::steady_clock::time_point last;
};

int Fail(const ResultOptions& options, const std::string& message)
{
    std::fprintf(stderr, "soundclock: %s\n", message.c_str());
    if (options.json)
        std::printf("{\"error\":%s}\n", JsonString(message).c_str());
    std::fflush(stdout);
    return EXIT_UNUSABLE;
}

int PrintResult(const ClockEstimator& meter, const ResultOptions& options, const RunFacts& facts, const TrackOutput* track)
{
    const ClockEstimate estimate = meter.Estimate();
    const std::string partialNote = facts.partial.empty() ? "" : " (partial: " + facts.partial + ")";
    if (!estimate.valid)
        return Fail(options, NoSignalText(meter, facts) + partialNote);
    const InputSummary seen = meter.Summary();
    if (seen.clippedBlocks > CLIPPED_SHARE_LIMIT * static_cast<double>(estimate.blocksUsed))
        return Fail(options, "the signal is clipped: " + std::to_string(seen.clippedBlocks) + " of " +
                                 std::to_string(estimate.blocksUsed) +
                                 " bursts reach full scale; lower the recording level and measure again" + partialNote);

    // Where phase and delay disagree, the phase has been turned by
    // something besides the clocks (a frequency shift in the path): the
    // delay's figure is the clock offset then.
    const double ppm = estimate.agree ? estimate.ppm : estimate.delayPpm;
    const double uncertainty = estimate.agree ? estimate.uncertaintyPpm : estimate.delayUncertaintyPpm;
    const ReceiverReading reading = ReadingForOffset(ppm);
    const bool within = !options.haveExpect || std::fabs(ppm - options.expect) <= options.tolerance;
    const bool partial = !facts.partial.empty();
    const bool carrierInRange = CheckCarrier(facts.signal.rate, facts.signal.carrier).support == CarrierSupport::Supported;

    if (options.json) {
        std::string jumpsJson;
        for (const JumpEvent& jump : meter.Jumps())
            jumpsJson += (jumpsJson.empty() ? "" : ",") + std::string("{\"time_s\":") + Fixed(jump.time, 4) +
                         ",\"samples\":" + Fixed(jump.samples, 4) + "}";
        std::string extra;
        if (facts.overruns >= 0)
            extra += ",\"overruns\":" + std::to_string(facts.overruns);
        if (facts.underruns >= 0)
            extra += ",\"underruns\":" + std::to_string(facts.underruns);
        extra += std::string(",\"partial\":") + (partial ? "true" : "false");
        if (partial)
            extra += ",\"partial_reason\":" + JsonString(facts.partial);
        if (options.haveExpect)
            extra += std::string(",\"within_tolerance\":") + (within ? "true" : "false");
        if (track != nullptr)
            extra += track->JsonFields();
        extra += facts.extraJson;
        std::printf("{\"ppm\":%s,\"uncertainty_ppm\":%s,\"phase_ppm\":%s,\"phase_uncertainty_ppm\":%s,"
                    "\"delay_ppm\":%s,\"delay_uncertainty_ppm\":%s,\"phase_and_delay_agree\":%s,"
                    "\"seconds\":%s,\"blocks\":%lld,\"slider\":%d,\"slider_within_reach\":%s,\"clock_error\":%s,"
                    "\"jump_count\":%lld,\"jumps\":[%s],\"lost_blocks\":%lld,\"outlier_blocks\":%lld,"
                    "\"recording_rate\":%d,\"signal_rate\":%d,\"carrier_hz\":%s,\"carrier_in_range\":%s%s}\n",
                    Fixed(ppm, 6).c_str(), Fixed(uncertainty, 6).c_str(), Fixed(estimate.ppm, 6).c_str(),
                    Fixed(estimate.uncertaintyPpm, 6).c_str(), Fixed(estimate.delayPpm, 6).c_str(),
                    Fixed(estimate.delayUncertaintyPpm, 6).c_str(), estimate.agree ? "true" : "false",
                    Fixed(estimate.secondsUsed, 3).c_str(), static_cast<long long>(estimate.blocksUsed), reading.position,
                    reading.withinReach ? "true" : "false", JsonString(reading.clockText).c_str(),
                    static_cast<long long>(meter.JumpCount()), jumpsJson.c_str(), static_cast<long long>(seen.lostBlocks),
                    static_cast<long long>(seen.outlierBlocks), facts.recordingRate, facts.signal.rate,
                    Fixed(facts.signal.carrier, 3).c_str(), carrierInRange ? "true" : "false", extra.c_str());
    } else {
        const std::string direction = std::fabs(ppm) <= 2 * uncertainty || std::fabs(ppm) < 0.00005
                                          ? "the clocks agree within the uncertainty"
                                          : ppm > 0 ? "the recording's card runs fast" : "the recording's card runs slow";
        std::string line = "clock offset " + Fixed(ppm, 4, true) + " ppm +- " + Fixed(uncertainty, 4) + " ppm (" + direction + "), " +
                           Fixed(estimate.secondsUsed, 1) + " s, " + std::to_string(estimate.blocksUsed) + " blocks";
        if (meter.JumpCount() > 0) {
            line += ", " + std::to_string(meter.JumpCount()) + (meter.JumpCount() == 1 ? " jump (" : " jumps (");
            const auto& jumps = meter.Jumps();
            for (size_t i = 0; i < jumps.size() && i < 5; ++i)
                line += (i > 0 ? ", " : "") + JumpText(jumps[i]);
            line += static_cast<size_t>(meter.JumpCount()) > 5 ? ", ...)" : ")";
        }
        if (facts.overruns > 0)
            line += ", " + Counted(facts.overruns, "overrun", "overruns") + " in the recording";
        if (facts.underruns > 0)
            line += ", " + Counted(facts.underruns, "underrun", "underruns") + " in the playback";
        if (!estimate.agree)
            line += "; phase and delay disagree: the phase gives " + Fixed(estimate.ppm, 4, true) + " ppm, the delay " +
                    Fixed(estimate.delayPpm, 4, true) + " ppm (a frequency shift in the path?): the delay's figure is given";
        if (!carrierInRange)
            line += "; carrier outside " + Fixed(CARRIER_SUPPORTED_LOW, 1) + ".." + Fixed(CARRIER_SUPPORTED_HIGH, 3) +
                    " of the rate: the uncertainty may be understated";
        if (reading.withinReach)
            line += "; receiver slider " + std::to_string(reading.position) + ", \"" + reading.clockText + "\"";
        else
            line += "; beyond the receiver slider's reach (+-2000 ppm)";
        if (track != nullptr)
            line += track->ResultWords(uncertainty);
        if (partial)
            line += "; partial: " + facts.partial;
        std::printf("%s\n", line.c_str());
        if (!facts.extraLine.empty())
            std::printf("%s\n", facts.extraLine.c_str());
    }
    std::fflush(stdout);
    if (partial)
        return EXIT_UNUSABLE;
    return within ? EXIT_WITHIN : EXIT_OUTSIDE;
}

namespace {

MeterSettings SettingsFor(const SignalChoice& signal, int recordingRate)
{
    MeterSettings settings;
    settings.recordingRate = recordingRate;
    settings.signalRate = signal.rate;
    settings.carrierFrequency = signal.carrier;
    return settings;
}

}  // namespace

MeasureSession::MeasureSession(const ResultOptions& options, const SignalChoice& signal, int recordingRate)
    : options(options), meter(SettingsFor(signal, recordingRate)), live(std::make_unique<LiveLine>(!options.quiet)),
      track(std::make_unique<TrackOutput>(options.track, signal.rate, options.json))
{
    track->BeforeLine([this] { live->Break(); });
    facts.recordingRate = recordingRate;
    facts.signal = signal;
    meter.OnJump([this](const JumpEvent& jump) {
        Say("jump of " + JumpText(jump) + " (" + (jump.samples < 0 ? "samples lost" : "samples inserted, or silence") + ")");
    });
}

MeasureSession::~MeasureSession()
{
    if (csv != nullptr)
        std::fclose(csv);
}

bool MeasureSession::Start(std::string& problem)
{
    problem = track->Open();
    if (!problem.empty())
        return false;
    meter.OnBlock([this](const BlockRecord& row) {
        track->Add(row);
        if (csv == nullptr)
            return;
        std::fprintf(csv, "%lld,%.6f,%lld,%.6f,%.6f,%.6f,%.2f,%s\n", static_cast<long long>(row.block), row.time,
                     static_cast<long long>(row.peakLag), row.delay, row.phaseDelay, row.carrierPhase,
                     row.level < -1e8 ? -999.0 : row.level, FlagText(row.flags).c_str());
    });
    if (options.csv.empty())
        return true;
    csv = std::fopen(options.csv.c_str(), "w");
    if (csv == nullptr) {
        problem = "cannot write " + options.csv;
        return false;
    }
    std::fprintf(csv, "block,time_s,peak_lag,delay_samples,phase_delay_samples,carrier_phase_rad,level_dbfs,flags\n");
    return true;
}

void MeasureSession::Push(const int16_t* samples, size_t count)
{
    meter.Push(samples, count);
    live->Update(meter);
}

void MeasureSession::Say(const std::string& text, bool always)
{
    if (options.quiet && !always)
        return;
    live->Break();
    std::fprintf(stderr, "soundclock: %s\n", text.c_str());
    std::fflush(stderr);
}

void MeasureSession::Finish()
{
    meter.Finish();
    live->Break();
    trackProblem = track->Finish();
    if (csv != nullptr) {
        std::fclose(csv);
        csv = nullptr;
    }
}

int MeasureSession::Report()
{
    if (!trackProblem.empty())
        return Fail(trackProblem);
    return PrintResult(meter, options, facts, track.get());
}

int MeasureSession::Fail(const std::string& message)
{
    live->Break();
    return ::Fail(options, message);
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
