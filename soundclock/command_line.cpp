// The command line, taken apart with CLI11: the subcommands, their options
// and help. Numbers are taken as text and checked here, so every message
// keeps soundclock's own words ("--seconds: not a number: fast"), and a
// mistake is one line "soundclock: ..." with exit status 2.
#include "soundclock/commands.h"
#include "soundclock/track_output.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#ifndef SOUNDCLOCK_VERSION
#define SOUNDCLOCK_VERSION "unknown"
#endif

namespace {

const char* const USAGE =
    "usage: soundclock signal [-o FILE|-] [--raw] [--seconds S] [--rate R] [--carrier HZ]\n"
    "       soundclock signal --device D [--seconds S] [--rate R] [--carrier HZ]\n"
    "       soundclock measure [FILE|-] [--raw --rate R] [--channel N] [--seconds S]\n"
    "                          [--csv FILE] [--json] [--quiet] [--expect PPM --tolerance PPM]\n"
    "                          [--interval S [--track FILE]] [--adev FILE]\n"
    "                          [--signal-rate R] [--carrier HZ]\n"
    "       soundclock measure --device D [--rate R] [--seconds S] [--save FILE] [same output options]\n"
    "       soundclock loop --play D1 --record D2 [--record-rate R] [--seconds S] [--save FILE]\n"
    "                       [--rate R] [--carrier HZ] [same output options]\n"
    "       soundclock rate --device D [--capture|--playback] [--rate R] [--seconds S] [--silence]\n"
    "                       [--json] [--quiet] [--expect PPM --tolerance PPM]\n"
    "       soundclock devices\n"
    "       soundclock --version | COMMAND --help\n"
    "\n"
    "signal   writes the transmitter's test signal (WAV, or raw 16-bit little-endian\n"
    "         mono with --raw) to FILE or standard output, or plays it on device D,\n"
    "         for S seconds or without end (Ctrl-C stops it).\n"
    "measure  reads a recording of it (WAV; or raw with --raw --rate R), or records\n"
    "         device D, and prints the recording card's clock offset against the\n"
    "         playing card's, in ppm (positive: the recording card runs fast), with\n"
    "         its standard uncertainty. Ctrl-C ends a live capture with the result.\n"
    "loop     plays the signal on D1 and records D2 at once: the two cards' offset.\n"
    "rate     the sample rate of device D (capture; or --playback, playing the signal\n"
    "         or silence) against the system clock, in Hz and ppm (positive: the card\n"
    "         runs fast), with its uncertainty and the system clock's state.\n"
    "devices  lists the playback and capture devices (D: an index or a name).\n"
    "\n"
    "Exit status: 0 done (within --tolerance of --expect), 1 outside it, 2 bad usage,\n"
    "no usable signal, or a device that failed (a partial result).\n"
    "\n"
    "The signal's sample rate and carrier come from STANAG.SET in the working\n"
    "directory (default 8000 Hz and 1500 Hz), or --rate/--carrier (signal, loop) and\n"
    "--signal-rate/--carrier (measure).\n";

// An option whose value is kept as text until it is checked.
struct Text {
    std::string value;
    CLI::Option* option = nullptr;
    bool Given() const { return option != nullptr && option->count() > 0; }
};

// The option points at `text`, which must stay where it is (in Parsed).
void AddText(CLI::App& app, Text& text, const std::string& names, const std::string& help)
{
    text.option = app.add_option(names, text.value, help);
    // The value's name in the help, as the usage writes it.
    static const struct { const char* name; const char* type; } types[] = {
        {"--seconds", "S"},    {"--rate", "R"},        {"--signal-rate", "R"}, {"--record-rate", "R"},
        {"--carrier", "HZ"},   {"--channel", "N"},     {"--expect", "PPM"},    {"--tolerance", "PPM"},
        {"--device", "D"},     {"--play", "D1"},       {"--record", "D2"},     {"--interval", "S"},
    };
    text.option->type_name("FILE");
    for (const auto& type : types)
        if (names.substr(0, names.find(',')) == type.name)
            text.option->type_name(type.type);
}

// The options' texts, where CLI11 writes them.
struct Parsed {
    Text output, seconds, rate, carrier, signalRate, channel, csv, expect, tolerance, device, save, play, record,
        recordRate, input, interval, track, adev;
    bool raw = false, json = false, quiet = false, capture = false, playback = false, silence = false;
};

double Positive(const Text& text, const std::string& name)
{
    const double value = ParseNumber(text.value, name);
    if (value <= 0)
        throw UsageError{name + ": more than 0 is needed"};
    return value;
}

int Rate(const Text& text, const std::string& name)
{
    return static_cast<int>(ParseInteger(text.value, name, 1, 10000000));
}

void AddResultOptions(CLI::App& command, Parsed& p)
{
    AddText(command, p.csv, "--csv", "log one row per burst to FILE (block, time, lag, delays, phase, level, flags)");
    command.add_flag("--json", p.json, "the result (or the error) as one JSON object on standard output");
    command.add_flag("--quiet", p.quiet, "no live line and no jump reports on standard error");
    AddText(command, p.expect, "--expect", "the offset expected, in ppm (with --tolerance: sets the exit status)");
    AddText(command, p.tolerance, "--tolerance", "how far from --expect still counts as within, in ppm");
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

// What CLI11 left over: an unknown option or a surplus argument.
void RefuseExtras(const CLI::App& command, const std::string& name)
{
    const std::vector<std::string> extras = command.remaining();
    if (extras.empty())
        return;
    const std::string& first = extras.front();
    if (first.size() > 1 && first[0] == '-')
        throw UsageError{name + ": unknown option " + first};
    throw UsageError{name + ": unexpected argument " + first};
}

// CLI11's own words for what it refuses itself, in soundclock's.
std::string Rephrased(const CLI::ParseError& error)
{
    const std::string what = error.what();
    std::smatch match;
    static const std::regex missingValue("^(-[^ :]+): [0-9]+ required .* missing$");
    if (std::regex_match(what, match, missingValue))
        return match[1].str() + " needs a value";
    static const std::regex needsValue("^(-[^ ]+) requires .*$");
    if (std::regex_match(what, match, needsValue))
        return match[1].str() + " needs a value";
    return what;
}

SignalOptions TakeSignal(const Parsed& p)
{
    SignalOptions options;
    options.signal = SettingsFromFile();
    if (p.rate.Given())
        options.signal.rate = Rate(p.rate, "--rate");
    if (p.carrier.Given())
        options.signal.carrier = ParseNumber(p.carrier.value, "--carrier");
    if (p.seconds.Given())
        options.seconds = Positive(p.seconds, "--seconds");
    options.raw = p.raw;
    if (p.output.Given())
        options.output = p.output.value;
    options.toDevice = p.device.Given();
    options.device = p.device.value;
    if (options.toDevice && (p.output.Given() || p.raw))
        throw UsageError{"signal: --device plays the signal; -o and --raw are for a file"};
    CheckSignalChoice(options.signal);
    return options;
}

MeasureOptions TakeMeasure(const Parsed& p)
{
    MeasureOptions options;
    options.result = TakeResultOptions(p, "measure");
    options.signal = SettingsFromFile();
    options.raw = p.raw;
    options.fromDevice = p.device.Given();
    options.device = p.device.value;
    if (p.input.Given())
        options.input = p.input.value;
    if (p.seconds.Given())
        options.seconds = Positive(p.seconds, "--seconds");
    if (p.channel.Given())
        options.channel = static_cast<int>(ParseInteger(p.channel.value, "--channel", 1, 8)) - 1;
    if (p.signalRate.Given())
        options.signal.rate = Rate(p.signalRate, "--signal-rate");
    if (p.carrier.Given())
        options.signal.carrier = ParseNumber(p.carrier.value, "--carrier");
    options.save = p.save.value;
    if (options.fromDevice) {
        if (p.input.Given())
            throw UsageError{"measure: give a FILE or --device, not both"};
        if (p.raw || p.channel.Given())
            throw UsageError{"measure: --raw and --channel are for a file; a device is recorded 16-bit mono"};
        if (p.rate.Given())
            options.deviceRate = static_cast<int>(ParseInteger(p.rate.value, "--rate", 1, 1000000));
    } else {
        if (p.save.Given())
            throw UsageError{"measure: --save keeps a capture: it needs --device"};
        if (p.rate.Given())
            options.rawRate = ParseInteger(p.rate.value, "--rate", 1, 1000000);
        if (options.raw && options.rawRate == 0)
            throw UsageError{"measure: --raw needs --rate R, the recording's sample rate"};
        if (!options.raw && options.rawRate != 0)
            throw UsageError{"measure: --rate is for --raw samples (or --device); a WAV file's header gives its rate"};
        if (options.raw && options.channel > 0)
            throw UsageError{"measure: raw samples are one channel"};
    }
    CheckSignalChoice(options.signal);
    return options;
}

LoopOptions TakeLoop(const Parsed& p)
{
    LoopOptions options;
    options.result = TakeResultOptions(p, "loop");
    options.signal = SettingsFromFile();
    if (p.rate.Given())
        options.signal.rate = Rate(p.rate, "--rate");
    if (p.carrier.Given())
        options.signal.carrier = ParseNumber(p.carrier.value, "--carrier");
    if (p.seconds.Given())
        options.seconds = Positive(p.seconds, "--seconds");
    if (p.recordRate.Given())
        options.recordRate = static_cast<int>(ParseInteger(p.recordRate.value, "--record-rate", 1, 1000000));
    if (!p.play.Given() || !p.record.Given())
        throw UsageError{"loop: --play D1 and --record D2 are needed (soundclock devices lists them)"};
    options.play = p.play.value;
    options.record = p.record.value;
    options.save = p.save.value;
    CheckSignalChoice(options.signal);
    return options;
}

RateOptions TakeRate(const Parsed& p)
{
    RateOptions options;
    options.result = TakeResultOptions(p, "rate");
    options.signal = SettingsFromFile();
    if (p.rate.Given())
        options.signal.rate = Rate(p.rate, "--rate");
    if (p.carrier.Given())
        options.signal.carrier = ParseNumber(p.carrier.value, "--carrier");
    if (p.seconds.Given())
        options.seconds = Positive(p.seconds, "--seconds");
    if (!p.device.Given())
        throw UsageError{"rate: --device D is needed (soundclock devices lists them)"};
    if (p.capture && p.playback)
        throw UsageError{"rate: --capture or --playback, not both"};
    if (p.silence && !p.playback)
        throw UsageError{"rate: --silence is for --playback"};
    options.device = p.device.value;
    options.playback = p.playback;
    options.silence = p.silence;
    CheckSignalChoice(options.signal);
    return options;
}

}  // namespace

int RunCommandLine(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        if (argc >= 3 && std::strcmp(argv[1], "help") == 0) {
            // `soundclock help COMMAND` is `soundclock COMMAND --help`.
            char helpFlag[] = "--help";
            char* again[] = {argv[0], argv[2], helpFlag};
            return RunCommandLine(3, again);
        }
        std::fputs(USAGE, argc < 2 ? stderr : stdout);
        return argc < 2 ? EXIT_UNUSABLE : EXIT_WITHIN;
    }

    CLI::App app{"soundclock: the clock offset between two sound cards, from the transmitter's test signal", "soundclock"};
    app.set_version_flag("--version", std::string("soundclock ") + SOUNDCLOCK_VERSION);
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.footer("Exit status: 0 done (within --tolerance of --expect), 1 outside it,\n"
               "2 bad usage, no usable signal, or a device that failed.");
    Parsed p;

    CLI::App* signal = app.add_subcommand("signal", "the transmitter's test signal, to a file, standard output or a device");
    AddText(*signal, p.output, "-o,--output", "the file to write (- : standard output, the default)");
    signal->add_flag("--raw", p.raw, "bare 16-bit little-endian mono samples instead of WAV");
    AddText(*signal, p.device, "--device", "play it on this device (an index or a name from soundclock devices)");
    AddText(*signal, p.seconds, "--seconds", "this many seconds (default: without end; Ctrl-C stops a device)");
    AddText(*signal, p.rate, "--rate", "the sample rate, Hz (default: STANAG.SET, else 8000)");
    AddText(*signal, p.carrier, "--carrier", "the carrier, Hz (default: STANAG.SET, else 1500)");

    Parsed m;
    CLI::App* measure = app.add_subcommand("measure", "the clock offset from a recording of the signal, or live from a device");
    AddText(*measure, m.input, "FILE", "the recording: a WAV file, raw samples with --raw, - for standard input (the default)");
    AddText(*measure, m.device, "--device", "record this device instead (an index or a name from soundclock devices)");
    AddText(*measure, m.rate, "--rate", "the rate of --raw samples, or the rate to record --device at (default: the signal's)");
    measure->add_flag("--raw", m.raw, "the recording is bare 16-bit little-endian mono samples");
    AddText(*measure, m.channel, "--channel", "the channel of a WAV file to measure, 1 to 8 (default: the first)");
    AddText(*measure, m.seconds, "--seconds", "stop after this many seconds of audio (a device: else at Ctrl-C)");
    AddText(*measure, m.save, "--save", "keep the capture of --device as this WAV file");
    AddResultOptions(*measure, m);
    AddText(*measure, m.signalRate, "--signal-rate", "the signal's sample rate, Hz (default: STANAG.SET, else 8000)");
    AddText(*measure, m.carrier, "--carrier", "the signal's carrier, Hz (default: STANAG.SET, else 1500)");

    Parsed l;
    CLI::App* loop = app.add_subcommand("loop", "plays the signal on one device and measures it recorded on another");
    AddText(*loop, l.play, "--play", "the playback device (an index or a name from soundclock devices)");
    AddText(*loop, l.record, "--record", "the capture device");
    AddText(*loop, l.recordRate, "--record-rate", "the rate to record at (default: the signal's)");
    AddText(*loop, l.seconds, "--seconds", "stop after this many seconds of recording (else at Ctrl-C)");
    AddText(*loop, l.save, "--save", "keep the capture as this WAV file");
    AddResultOptions(*loop, l);
    AddText(*loop, l.rate, "--rate,--signal-rate", "the signal's sample rate, Hz (default: STANAG.SET, else 8000)");
    AddText(*loop, l.carrier, "--carrier", "the signal's carrier, Hz (default: STANAG.SET, else 1500)");

    Parsed r;
    CLI::App* rate = app.add_subcommand("rate", "one device's sample rate against the system clock");
    AddText(*rate, r.device, "--device", "the device (an index or a name from soundclock devices)");
    rate->add_flag("--capture", r.capture, "measure the device's capture (the default)");
    rate->add_flag("--playback", r.playback, "measure its playback, playing the signal");
    rate->add_flag("--silence", r.silence, "play silence instead of the signal");
    AddText(*rate, r.rate, "--rate", "the sample rate to open it at, Hz (default: STANAG.SET, else 8000)");
    AddText(*rate, r.seconds, "--seconds", "stop after this many seconds (else at Ctrl-C)");
    AddText(*rate, r.csv, "--csv", "log the clock stamps to FILE (frames, system seconds, segment)");
    rate->add_flag("--json", r.json, "the result (or the error) as one JSON object on standard output");
    rate->add_flag("--quiet", r.quiet, "no live line on standard error");
    AddText(*rate, r.expect, "--expect", "the rate's offset expected, in ppm (with --tolerance: sets the exit status)");
    AddText(*rate, r.tolerance, "--tolerance", "how far from --expect still counts as within, in ppm");
    AddText(*rate, r.carrier, "--carrier", "the played signal's carrier, Hz (default: STANAG.SET, else 1500)");

    CLI::App* devices = app.add_subcommand("devices", "lists the playback and capture devices");

    for (CLI::App* command : {signal, measure, loop, rate, devices})
        command->allow_extras();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "soundclock: %s\n%s", Rephrased(e).c_str(), USAGE);
        return EXIT_UNUSABLE;
    }

    try {
        if (signal->parsed()) {
            RefuseExtras(*signal, "signal");
            return SignalCommand(TakeSignal(p));
        }
        if (measure->parsed()) {
            RefuseExtras(*measure, "measure");
            return MeasureCommand(TakeMeasure(m));
        }
        if (loop->parsed()) {
            RefuseExtras(*loop, "loop");
            return LoopCommand(TakeLoop(l));
        }
        if (rate->parsed()) {
            RefuseExtras(*rate, "rate");
            return RateCommand(TakeRate(r));
        }
        if (devices->parsed()) {
            RefuseExtras(*devices, "devices");
            return DevicesCommand();
        }
        const std::vector<std::string> extras = app.remaining();
        throw UsageError{extras.empty() ? std::string("no command") : "unknown command " + extras.front()};
    } catch (const UsageError& error) {
        std::fprintf(stderr, "soundclock: %s\n%s", error.message.c_str(), USAGE);
        return EXIT_UNUSABLE;
    }
}
