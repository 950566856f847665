// The command line, taken apart with CLI11: the commands, their options
// and help, each command's options checked into its struct (options.h).
// A mistake is one line, "soundclock: ...", and where help is, with exit
// status 2; the synopsis is for --help.
#include "soundclock/commands.h"
#include "soundclock/option_parsing.h"
#include "soundclock/usage.h"

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

// A usage error of one command: what is wrong, and where help is.
int UsageFailure(const std::string& message, const std::string& command)
{
    std::fprintf(stderr, "soundclock: %s\n%s\n", message.c_str(), HelpHint(command).c_str());
    return EXIT_UNUSABLE;
}

// Each command's help starts with its lines of the synopsis (usage.txt).
class Formatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        const std::string lines = CommandUsage(app->get_name());
        return lines.empty() ? CLI::Formatter::make_usage(app, name) : lines;
    }
};

// What CLI11 left over: an unknown option or a surplus argument.
void RefuseExtras(const CLI::App& command)
{
    const std::vector<std::string> extras = command.remaining();
    if (extras.empty())
        return;
    const std::string& first = extras.front();
    if (first.size() > 1 && first[0] == '-')
        throw UsageError{command.get_name() + ": unknown option " + first};
    throw UsageError{command.get_name() + ": unexpected argument " + first};
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

// ------------------------------------------------------------ signal

void AddSignal(CLI::App& command, Parsed& p)
{
    AddText(command, p.output, "-o,--output", "the file to write (- : standard output, the default)");
    command.add_flag("--raw", p.raw, "bare 16-bit little-endian mono samples instead of WAV");
    AddText(command, p.device, "--device", "play it on this device (an index or a name from soundclock devices)");
    AddSeconds(command, p, "this many seconds (default: without end; Ctrl-C stops a device)");
    AddSignalSettings(command, p, "--rate");
}

int RunSignal(const Parsed& p)
{
    SignalOptions options;
    options.signal = TakeSignalSettings(p);
    options.seconds = TakeSeconds(p);
    options.raw = p.raw;
    if (p.output.Given())
        options.output = p.output.value;
    options.toDevice = p.device.Given();
    options.device = p.device.value;
    if (options.toDevice && (p.output.Given() || p.raw))
        throw UsageError{"signal: --device plays the signal; -o and --raw are for a file"};
    return SignalCommand(options);
}

// ------------------------------------------------------------ measure

void AddMeasure(CLI::App& command, Parsed& p)
{
    AddText(command, p.input, "FILE", "the recording: a WAV file, raw samples with --raw, - for standard input (the default)");
    p.input.option->type_name("");
    AddText(command, p.device, "--device", "record this device instead (an index or a name from soundclock devices)");
    AddText(command, p.rate, "--rate", "the rate of --raw samples, or the rate to record --device at (default: the signal's)");
    command.add_flag("--raw", p.raw, "the recording is bare 16-bit little-endian mono samples");
    AddText(command, p.channel, "--channel", "the channel of a WAV file to measure, 1 to 8 (default: the first)");
    AddSeconds(command, p, "stop after this many seconds of audio (a device: else at Ctrl-C)");
    AddText(command, p.save, "--save", "keep the capture of --device as this WAV file");
    AddResultOptions(command, p, "log one row per burst to FILE (block, time, lag, delays, phase, level, flags)", true);
    AddSignalSettings(command, p, "--signal-rate");
}

int RunMeasure(const Parsed& p)
{
    MeasureOptions options;
    options.result = TakeResultOptions(p, "measure");
    options.signal = TakeSignalSettings(p);
    options.seconds = TakeSeconds(p);
    options.raw = p.raw;
    options.fromDevice = p.device.Given();
    options.device = p.device.value;
    if (p.input.Given())
        options.input = p.input.value;
    if (p.channel.Given())
        options.channel = static_cast<int>(ParseInteger(p.channel.value, "--channel", 1, 8)) - 1;
    options.save = p.save.value;
    if (options.fromDevice) {
        if (p.input.Given())
            throw UsageError{"measure: give a FILE or --device, not both"};
        if (p.raw || p.channel.Given())
            throw UsageError{"measure: --raw and --channel are for a file; a device is recorded 16-bit mono"};
        if (p.rate.Given())
            options.deviceRate = ParseRate(p.rate.value, "--rate");
    } else {
        if (p.save.Given())
            throw UsageError{"measure: --save keeps a capture: it needs --device"};
        if (p.rate.Given())
            options.rawRate = ParseRate(p.rate.value, "--rate");
        if (options.raw && options.rawRate == 0)
            throw UsageError{"measure: --raw needs --rate R, the recording's sample rate"};
        if (!options.raw && options.rawRate != 0)
            throw UsageError{"measure: --rate is for --raw samples (or --device); a WAV file's header gives its rate"};
        if (options.raw && options.channel > 0)
            throw UsageError{"measure: raw samples are one channel"};
    }
    return MeasureCommand(options);
}

// ------------------------------------------------------------ loop

void AddLoop(CLI::App& command, Parsed& p)
{
    AddText(command, p.play, "--play", "the playback device (an index or a name from soundclock devices)");
    AddText(command, p.record, "--record", "the capture device");
    AddText(command, p.recordRate, "--record-rate", "the rate to record at (default: the signal's)");
    AddSeconds(command, p, "stop after this many seconds of recording (else at Ctrl-C)");
    AddText(command, p.save, "--save", "keep the capture as this WAV file");
    AddResultOptions(command, p, "log one row per burst to FILE (block, time, lag, delays, phase, level, flags)", true);
    AddSignalSettings(command, p, "--rate,--signal-rate");
}

int RunLoop(const Parsed& p)
{
    LoopOptions options;
    options.result = TakeResultOptions(p, "loop");
    options.signal = TakeSignalSettings(p);
    options.seconds = TakeSeconds(p);
    if (p.recordRate.Given())
        options.recordRate = ParseRate(p.recordRate.value, "--record-rate");
    if (!p.play.Given() || !p.record.Given())
        throw UsageError{"loop: --play D1 and --record D2 are needed (soundclock devices lists them)"};
    options.play = p.play.value;
    options.record = p.record.value;
    options.save = p.save.value;
    return LoopCommand(options);
}

// ------------------------------------------------------------ rate

void AddRate(CLI::App& command, Parsed& p)
{
    AddText(command, p.device, "--device", "the device (an index or a name from soundclock devices)");
    command.add_flag("--capture", p.capture, "measure the device's capture (the default)");
    command.add_flag("--playback", p.playback, "measure its playback, playing the signal");
    command.add_flag("--silence", p.silence, "play silence instead of the signal");
    AddSeconds(command, p, "stop after this many seconds (else at Ctrl-C)");
    AddResultOptions(command, p, "log the clock stamps to FILE (frames, system seconds, segment)", false);
    // The device opens at the signal's rate: --rate names both.
    AddSignalSettings(command, p, "--rate");
}

int RunRate(const Parsed& p)
{
    RateOptions options;
    options.result = TakeResultOptions(p, "rate");
    options.signal = TakeSignalSettings(p);
    options.seconds = TakeSeconds(p);
    if (!p.device.Given())
        throw UsageError{"rate: --device D is needed (soundclock devices lists them)"};
    if (p.capture && p.playback)
        throw UsageError{"rate: --capture or --playback, not both"};
    if (p.silence && !p.playback)
        throw UsageError{"rate: --silence is for --playback"};
    options.device = p.device.value;
    options.playback = p.playback;
    options.silence = p.silence;
    return RateCommand(options);
}

// ------------------------------------------------------------ devices

void AddDevices(CLI::App&, Parsed&) {}

int RunDevices(const Parsed&)
{
    return DevicesCommand();
}

struct Command {
    const char* name;
    const char* summary;
    std::function<void(CLI::App&, Parsed&)> add;
    std::function<int(const Parsed&)> run;
};

const std::vector<Command>& Commands()
{
    static const std::vector<Command> commands = {
        {"signal", "the transmitter's test signal, to a file, standard output or a device", AddSignal, RunSignal},
        {"measure", "the clock offset from a recording of the signal, or live from a device", AddMeasure, RunMeasure},
        {"loop", "plays the signal on one device and measures it recorded on another", AddLoop, RunLoop},
        {"rate", "one device's sample rate against the system clock", AddRate, RunRate},
        {"devices", "lists the playback and capture devices", AddDevices, RunDevices},
    };
    return commands;
}

bool AsksForHelp(int argc, char** argv)
{
    return argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
           std::strcmp(argv[1], "help") == 0;
}

}  // namespace

int RunCommandLine(int argc, char** argv)
{
    if (AsksForHelp(argc, argv)) {
        if (argc >= 3 && std::strcmp(argv[1], "help") == 0) {
            // `soundclock help COMMAND` is `soundclock COMMAND --help`.
            char helpFlag[] = "--help";
            char* again[] = {argv[0], argv[2], helpFlag};
            return RunCommandLine(3, again);
        }
        std::fputs(UsageText().c_str(), argc < 2 ? stderr : stdout);
        return argc < 2 ? EXIT_UNUSABLE : EXIT_WITHIN;
    }

    CLI::App app{"soundclock: sound cards' sampling clocks, against each other and against a reference", "soundclock"};
    app.formatter(std::make_shared<Formatter>());
    app.set_version_flag("--version", std::string("soundclock ") + SOUNDCLOCK_VERSION);
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.footer(ExitStatusText());

    const std::vector<Command>& commands = Commands();
    std::vector<Parsed> parsed(commands.size());
    std::vector<CLI::App*> apps;
    for (size_t i = 0; i < commands.size(); ++i) {
        CLI::App* command = app.add_subcommand(commands[i].name, commands[i].summary);
        command->allow_extras();
        commands[i].add(*command, parsed[i]);
        apps.push_back(command);
    }

    std::string commandName;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        for (const CLI::App* command : apps)
            if (command->parsed())
                commandName = command->get_name();
        return UsageFailure(Rephrased(e), commandName);
    }

    try {
        for (size_t i = 0; i < commands.size(); ++i)
            if (apps[i]->parsed()) {
                commandName = commands[i].name;
                RefuseExtras(*apps[i]);
                return commands[i].run(parsed[i]);
            }
        const std::vector<std::string> extras = app.remaining();
        throw UsageError{extras.empty() ? std::string("no command") : "unknown command " + extras.front()};
    } catch (const UsageError& error) {
        return UsageFailure(error.message, commandName);
    }
}
