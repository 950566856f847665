// soundclock measure: the clock offset from a recording of the signal.
#include "meter/cli/commands.h"
#include "meter/cli/console.h"

#include "meter/carrier_range.h"
#include "meter/clock_estimator.h"
#include "meter/receiver_reading.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct MeasureOptions {
    std::string input = "-";
    bool raw = false;
    long rawRate = 0;
    int channel = -1;  // 0-based; -1: the first
    double seconds = -1;
    std::string csv;
    bool json = false;
    bool quiet = false;
    bool haveExpect = false, haveTolerance = false;
    double expect = 0, tolerance = 0;
    SignalChoice signal;
};

// A recording made at a rate this far from the signal's is not of it.
constexpr double RATE_MISMATCH_LIMIT = 0.02;
// Heavily clipped bursts distort the correlation's shape: refuse the
// figure when more than half of them had samples at full scale.
constexpr double CLIPPED_SHARE_LIMIT = 0.5;

MeasureOptions ParseMeasureOptions(Arguments& arguments)
{
    MeasureOptions options;
    options.signal = SettingsFromFile();
    bool haveInput = false;
    while (!arguments.Done()) {
        const std::string option = arguments.Take();
        if (option == "--raw")
            options.raw = true;
        else if (option == "--rate")
            options.rawRate = arguments.Integer(option, 1, 1000000);
        else if (option == "--channel")
            options.channel = static_cast<int>(arguments.Integer(option, 1, 8)) - 1;
        else if (option == "--seconds") {
            options.seconds = arguments.Number(option);
            if (options.seconds <= 0)
                throw UsageError{"--seconds: more than 0 is needed"};
        } else if (option == "--csv")
            options.csv = arguments.Value(option);
        else if (option == "--json")
            options.json = true;
        else if (option == "--quiet")
            options.quiet = true;
        else if (option == "--expect") {
            options.expect = arguments.Number(option);
            options.haveExpect = true;
        } else if (option == "--tolerance") {
            options.tolerance = arguments.Number(option);
            options.haveTolerance = true;
            if (options.tolerance < 0)
                throw UsageError{"--tolerance: not below 0"};
        } else if (option == "--signal-rate")
            options.signal.rate = static_cast<int>(arguments.Integer(option, 1, 10000000));
        else if (option == "--carrier")
            options.signal.carrier = arguments.Number(option);
        else if ((option.empty() || option[0] != '-' || option == "-") && !haveInput) {
            options.input = option;
            haveInput = true;
        } else
            throw UsageError{"measure: unknown option " + option};
    }
    if (options.raw && options.rawRate == 0)
        throw UsageError{"measure: --raw needs --rate R, the recording's sample rate"};
    if (!options.raw && options.rawRate != 0)
        throw UsageError{"measure: --rate is for --raw samples; a WAV file's header gives its rate"};
    if (options.raw && options.channel > 0)
        throw UsageError{"measure: raw samples are one channel"};
    if (options.haveExpect != options.haveTolerance)
        throw UsageError{"measure: --expect and --tolerance go together"};
    CheckSignalChoice(options.signal);
    return options;
}

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

std::string Fixed(double value, int decimals, bool sign = false)
{
    char text[64];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
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

// One live line on standard error, once a second: rewritten in place on a
// terminal, a plain line otherwise.
class LiveLine {
public:
    LiveLine(bool enabled) : enabled(enabled), terminal(IsTerminal(stderr)), last(std::chrono::steady_clock::now()) {}
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
            text += ", " + std::to_string(meter.JumpCount()) + " jump" + (meter.JumpCount() == 1 ? "" : "s");
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

std::string JumpText(const JumpEvent& jump)
{
    return Fixed(jump.samples, std::fabs(jump.samples - std::round(jump.samples)) < 1e-9 ? 0 : 3, true) + " samples at " +
           Fixed(jump.time, 2) + " s";
}

// Why there is no figure, with what was seen.
std::string NoSignalText(const ClockEstimator& meter, const MeasureOptions& options, double recordingRate)
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
        text += "the best match with the burst on " + Fixed(options.signal.carrier, 1) + " Hz (signal rate " +
                std::to_string(options.signal.rate) + " Hz) is " + Fixed(seen.bestCorrelation, 2) +
                " (a burst matches above 0.7, with a clear peak)";
    if (seen.clippedSamples > 0)
        text += "; " + std::to_string(seen.clippedSamples) + " samples at full scale";
    return text;
}

int Fail(const MeasureOptions& options, const std::string& message)
{
    std::fprintf(stderr, "soundclock: %s\n", message.c_str());
    if (options.json)
        std::printf("{\"error\":%s}\n", JsonString(message).c_str());
    return EXIT_UNUSABLE;
}

}  // namespace

int MeasureCommand(Arguments& arguments)
{
    const MeasureOptions options = ParseMeasureOptions(arguments);

    std::FILE* file = stdin;
    if (options.input == "-") {
        if (IsTerminal(stdin))
            throw UsageError{"measure: standard input is a terminal; give a FILE or pipe a recording in"};
        UseBinaryMode(stdin);
    } else {
        file = std::fopen(options.input.c_str(), "rb");
        if (file == nullptr)
            return Fail(options, "cannot open " + options.input);
    }
    FileSource source(file);
    RecordingReader reader;
    std::string problem;
    const bool opened = options.raw ? reader.OpenRaw(source, static_cast<int32_t>(options.rawRate), problem)
                                    : reader.OpenWav(source, options.channel, problem);
    if (!opened)
        return Fail(options, (options.input == "-" ? std::string("standard input") : options.input) + ": " + problem);
    if (!options.quiet && reader.Channels() > 1)
        std::fprintf(stderr, "soundclock: %d channels: measuring channel %d%s\n", reader.Channels(), reader.Channel() + 1,
                     options.channel < 0 ? " (--channel N for another)" : "");
    const double mismatch = static_cast<double>(reader.SampleRate()) / options.signal.rate - 1;
    if (std::fabs(mismatch) > RATE_MISMATCH_LIMIT)
        return Fail(options, "the recording runs at " + std::to_string(reader.SampleRate()) + " Hz, the signal at " +
                                 std::to_string(options.signal.rate) +
                                 " Hz (STANAG.SET or --signal-rate): record at the signal's rate");

    const CarrierCheck carrierCheck = CheckCarrier(options.signal.rate, options.signal.carrier);
    if (carrierCheck.support == CarrierSupport::Refused)
        return Fail(options, carrierCheck.reason);
    if (carrierCheck.support == CarrierSupport::Warned && !options.quiet)
        std::fprintf(stderr, "soundclock: warning: %s\n", carrierCheck.reason.c_str());

    MeterSettings settings;
    settings.recordingRate = reader.SampleRate();
    settings.signalRate = options.signal.rate;
    settings.carrierFrequency = options.signal.carrier;
    ClockEstimator meter(settings);

    std::FILE* csv = nullptr;
    if (!options.csv.empty()) {
        csv = std::fopen(options.csv.c_str(), "w");
        if (csv == nullptr)
            return Fail(options, "cannot write " + options.csv);
        std::fprintf(csv, "block,time_s,peak_lag,delay_samples,phase_delay_samples,carrier_phase_rad,level_dbfs,flags\n");
        meter.OnBlock([csv](const BlockRecord& row) {
            std::fprintf(csv, "%lld,%.6f,%lld,%.6f,%.6f,%.6f,%.2f,%s\n", static_cast<long long>(row.block), row.time,
                         static_cast<long long>(row.peakLag), row.delay, row.phaseDelay, row.carrierPhase,
                         row.level < -1e8 ? -999.0 : row.level, FlagText(row.flags).c_str());
        });
    }
    LiveLine live(!options.quiet);
    meter.OnJump([&](const JumpEvent& jump) {
        if (options.quiet)
            return;
        live.Break();
        std::fprintf(stderr, "soundclock: jump of %s (%s)\n", JumpText(jump).c_str(),
                     jump.samples < 0 ? "samples lost" : "samples inserted, or silence");
    });

    const uint64_t limit = options.seconds > 0 ? static_cast<uint64_t>(std::llround(options.seconds * reader.SampleRate()))
                                               : UINT64_MAX;
    uint64_t read = 0;
    std::vector<int16_t> samples(8192);
    while (read < limit) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(samples.size(), limit - read));
        const size_t got = reader.ReadSamples(samples.data(), wanted);
        if (got == 0)
            break;
        meter.Push(samples.data(), got);
        read += got;
        live.Update(meter);
    }
    meter.Finish();
    live.Break();
    if (csv != nullptr)
        std::fclose(csv);
    if (source.Failed())
        return Fail(options, "reading " + options.input + " failed");
    if (reader.MissingBytes() > 0 && !options.quiet)
        std::fprintf(stderr, "soundclock: the recording ends %llu bytes before the end its data chunk declares; measured what is there\n",
                     static_cast<unsigned long long>(reader.MissingBytes()));

    const ClockEstimate estimate = meter.Estimate();
    if (!estimate.valid)
        return Fail(options, NoSignalText(meter, options, reader.SampleRate()));
    const InputSummary seen = meter.Summary();
    if (seen.clippedBlocks > CLIPPED_SHARE_LIMIT * static_cast<double>(estimate.blocksUsed))
        return Fail(options, "the signal is clipped: " + std::to_string(seen.clippedBlocks) + " of " +
                                 std::to_string(estimate.blocksUsed) +
                                 " bursts reach full scale; lower the recording level and measure again");

    // Where phase and delay disagree, the phase has been turned by
    // something besides the clocks (a frequency shift in the path): the
    // delay's figure is the clock offset then.
    const double ppm = estimate.agree ? estimate.ppm : estimate.delayPpm;
    const double uncertainty = estimate.agree ? estimate.uncertaintyPpm : estimate.delayUncertaintyPpm;
    const ReceiverReading reading = ReadingForOffset(ppm);
    const bool within = !options.haveExpect || std::fabs(ppm - options.expect) <= options.tolerance;

    if (options.json) {
        std::string jumpsJson;
        for (const JumpEvent& jump : meter.Jumps())
            jumpsJson += (jumpsJson.empty() ? "" : ",") + std::string("{\"time_s\":") + Fixed(jump.time, 4) +
                         ",\"samples\":" + Fixed(jump.samples, 4) + "}";
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
                    static_cast<long long>(seen.outlierBlocks), reader.SampleRate(), options.signal.rate,
                    Fixed(options.signal.carrier, 3).c_str(), carrierCheck.support == CarrierSupport::Supported ? "true" : "false",
                    options.haveExpect ? (std::string(",\"within_tolerance\":") + (within ? "true" : "false")).c_str() : "");
    } else {
        const std::string direction = std::fabs(ppm) <= 2 * uncertainty || std::fabs(ppm) < 0.00005
                                          ? "the clocks agree within the uncertainty"
                                          : ppm > 0 ? "the recording's card runs fast" : "the recording's card runs slow";
        std::string line = "clock offset " + Fixed(ppm, 4, true) + " ppm +- " + Fixed(uncertainty, 4) + " ppm (" + direction + "), " +
                           Fixed(estimate.secondsUsed, 1) + " s, " +
                           std::to_string(estimate.blocksUsed) + " blocks";
        if (meter.JumpCount() > 0) {
            line += ", " + std::to_string(meter.JumpCount()) + (meter.JumpCount() == 1 ? " jump (" : " jumps (");
            const auto& jumps = meter.Jumps();
            for (size_t i = 0; i < jumps.size() && i < 5; ++i)
                line += (i > 0 ? ", " : "") + JumpText(jumps[i]);
            line += static_cast<size_t>(meter.JumpCount()) > 5 ? ", ...)" : ")";
        }
        if (!estimate.agree)
            line += "; phase and delay disagree: the phase gives " + Fixed(estimate.ppm, 4, true) + " ppm, the delay " +
                    Fixed(estimate.delayPpm, 4, true) + " ppm (a frequency shift in the path?): the delay's figure is given";
        if (carrierCheck.support == CarrierSupport::Warned)
            line += "; carrier outside " + Fixed(CARRIER_SUPPORTED_LOW, 1) + ".." + Fixed(CARRIER_SUPPORTED_HIGH, 3) +
                    " of the rate: the uncertainty may be understated";
        if (reading.withinReach)
            line += "; receiver slider " + std::to_string(reading.position) + ", \"" + reading.clockText + "\"";
        else
            line += "; beyond the receiver slider's reach (+-2000 ppm)";
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return within ? EXIT_WITHIN : EXIT_OUTSIDE;
}
