#include "soundclock/option_parsing.h"
#include "soundclock/track_output.h"

#include "common/signal_facts.h"

namespace {

// The value's name in the help, as the usage writes it.
const struct {
    const char* option;
    const char* value;
} VALUE_NAMES[] = {
    {"--seconds", "S"},   {"--rate", "R"},      {"--signal-rate", "R"}, {"--record-rate", "R"},
    {"--carrier", "HZ"},  {"--channel", "N"},   {"--expect", "PPM"},    {"--tolerance", "PPM"},
    {"--device", "D"},    {"--play", "D1"},     {"--record", "D2"},     {"--interval", "S"},
    {"--reference", "KIND"}, {"--polarity", "rising|falling"}, {"--loop-channel", "M"}, {"--expect-receive", "PPM"},
    {"--expect-transmit", "PPM"},
};

// The channels a recording or a capture may be asked for.
constexpr long MAX_CHANNEL = 32;

double Positive(const Text& text, const std::string& name)
{
    const double value = ParseNumber(text.value, name);
    if (value <= 0)
        throw UsageError{name + ": more than 0 is needed"};
    return value;
}

}  // namespace

void AddText(CLI::App& command, Text& text, const std::string& names, const std::string& help)
{
    text.option = command.add_option(names, text.value, help);
    text.option->type_name("FILE");
    const std::string first = names.substr(0, names.find(','));
    for (const auto& name : VALUE_NAMES)
        if (first == name.option)
            text.option->type_name(name.value);
}

void AddSignalSettings(CLI::App& command, Parsed& p, const std::string& rateNames)
{
    AddText(command, p.signalRate, rateNames,
            "the signal's sample rate, Hz (default: STANAG.SET, else " + std::to_string(DEFAULT_SAMPLE_RATE) + ")");
    AddText(command, p.carrier, "--carrier",
            "the signal's carrier, Hz (default: STANAG.SET, else " + std::to_string(DEFAULT_CARRIER_FREQUENCY) +
                "; scaled with the rate where only that is given)");
}

SignalChoice TakeSignalSettings(const Parsed& p)
{
    SignalChoice signal = SettingsFromFile();
    if (p.signalRate.Given()) {
        // A rate alone scales the carrier with it: the burst keeps its
        // shape (four samples a chip), and 1500 Hz at 8000 Hz is 9000 Hz at
        // 48000 Hz, where the meter measures it as well.
        const int rate = ParseRate(p.signalRate.value, p.signalRate.option->get_name());
        signal.carrier *= static_cast<double>(rate) / signal.rate;
        signal.rate = rate;
    }
    if (p.carrier.Given())
        signal.carrier = ParseNumber(p.carrier.value, "--carrier");
    try {
        CheckSignalChoice(signal);
    } catch (const UsageError& error) {
        // Settings that came from the file: say so, and how it is read.
        if (p.signalRate.Given() && p.carrier.Given())
            throw;
        throw UsageError{error.message + " (from STANAG.SET in the working directory: two values, the rate and the "
                                         "carrier, separated by CR LF, a comma or a space; a line feed alone joins them)"};
    }
    return signal;
}

void AddSeconds(CLI::App& command, Parsed& p, const std::string& help)
{
    AddText(command, p.seconds, "--seconds", help);
}

double TakeSeconds(const Parsed& p)
{
    return p.seconds.Given() ? Positive(p.seconds, "--seconds") : -1;
}

void AddInput(CLI::App& command, Parsed& p, const std::string& deviceRateHelp)
{
    AddText(command, p.input, "FILE", "a recording: a WAV file, raw samples with --raw, - for standard input");
    p.input.option->type_name("");
    AddText(command, p.device, "--device", "record this device instead (an index or a name from soundclock devices)");
    AddText(command, p.rate, "--rate", "the rate of --raw samples, or " + deviceRateHelp);
    command.add_flag("--raw", p.raw, "the recording is bare 16-bit little-endian mono samples");
    AddText(command, p.channel, "--channel", "the channel to measure, from 1 (default: the first)");
    AddText(command, p.save, "--save", "keep the capture of --device as this WAV file (every channel, at the device's resolution)");
}

InputChoice TakeInput(const Parsed& p, const std::string& command)
{
    InputChoice source;
    source.raw = p.raw;
    source.fromDevice = p.device.Given();
    source.device = p.device.value;
    if (p.input.Given())
        source.input = p.input.value;
    if (p.channel.Given())
        source.channel = static_cast<int>(ParseInteger(p.channel.value, "--channel", 1, MAX_CHANNEL)) - 1;
    source.save = p.save.value;
    if (source.fromDevice) {
        if (p.input.Given())
            throw UsageError{command + ": give a FILE or --device, not both"};
        if (p.raw)
            throw UsageError{command + ": --raw is for a file; a device's format is the device's"};
        if (p.rate.Given())
            source.deviceRate = ParseRate(p.rate.value, "--rate");
        return source;
    }
    if (p.save.Given())
        throw UsageError{command + ": --save keeps a capture: it needs --device"};
    if (p.rate.Given())
        source.rawRate = ParseRate(p.rate.value, "--rate");
    if (source.raw && source.rawRate == 0)
        throw UsageError{command + ": --raw needs --rate R, the recording's sample rate"};
    if (!source.raw && source.rawRate != 0)
        throw UsageError{command + ": --rate is for --raw samples (or --device); a WAV file's header gives its rate"};
    if (source.raw && source.channel > 0)
        throw UsageError{command + ": raw samples are one channel"};
    return source;
}

void AddResultOptions(CLI::App& command, Parsed& p, const std::string& csvHelp, bool track)
{
    AddText(command, p.csv, "--csv", csvHelp);
    command.add_flag("--json", p.json, "the result (or the error) as one JSON object on standard output");
    command.add_flag("--quiet", p.quiet, "no live line and no reports as it runs on standard error");
    AddText(command, p.expect, "--expect", "the figure expected, in ppm (with --tolerance: sets the exit status)");
    AddText(command, p.tolerance, "--tolerance", "how far from --expect still counts as within, in ppm");
    if (!track)
        return;
    AddText(command, p.interval, "--interval", INTERVAL_HELP);
    AddText(command, p.track, "--track", TRACK_HELP);
    AddText(command, p.adev, "--adev", ADEV_HELP);
}

ResultOptions TakeResultOptions(const Parsed& p, const std::string& command)
{
    ResultOptions result;
    result.csv = p.csv.value;
    result.json = p.json;
    result.quiet = p.quiet;
    if (p.expect.Given()) {
        result.expect = ParseNumber(p.expect.value, "--expect");
        result.haveExpect = true;
    }
    if (p.tolerance.Given()) {
        result.tolerance = ParseNumber(p.tolerance.value, "--tolerance");
        if (result.tolerance < 0)
            throw UsageError{"--tolerance: not below 0"};
    }
    if (p.expect.Given() != p.tolerance.Given())
        throw UsageError{command + ": --expect and --tolerance go together"};
    result.track = TakeTrackOptions(p.interval.Given() ? p.interval.value : "", p.track.value, p.adev.value);
    return result;
}
