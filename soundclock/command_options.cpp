#include "soundclock/command_options.h"
#include "soundclock/commands.h"

#include "common/signal_facts.h"

namespace {

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
    AddInput(command, p, "the rate to record --device at (default: the signal's)");
    AddSeconds(command, p, "stop after this many seconds of audio (a device: else at Ctrl-C)");
    AddResultOptions(command, p, "log one row per burst to FILE (block, time, lag, delays, phase, level, flags)", true);
    AddSignalSettings(command, p, "--signal-rate");
}

int RunMeasure(const Parsed& p)
{
    MeasureOptions options;
    options.result = TakeResultOptions(p, "measure");
    options.signal = TakeSignalSettings(p);
    options.seconds = TakeSeconds(p);
    options.source = TakeInput(p, "measure");
    return MeasureCommand(options);
}

// ------------------------------------------------------------ loop

void AddLoop(CLI::App& command, Parsed& p)
{
    AddText(command, p.play, "--play", "the playback device (an index or a name from soundclock devices)");
    AddText(command, p.record, "--record", "the capture device");
    AddText(command, p.recordRate, "--record-rate", "the rate to record at (default: the signal's)");
    AddText(command, p.channel, "--channel", "the capture's channel the signal comes back on, from 1 (default: 1)");
    AddSeconds(command, p, "stop after this many seconds of recording (else at Ctrl-C)");
    AddText(command, p.save, "--save", "keep the capture as this WAV file (every channel, at the device's resolution)");
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
    if (p.channel.Given())
        options.channel = static_cast<int>(ParseInteger(p.channel.value, "--channel", 1, 32)) - 1;
    return LoopCommand(options);
}

// ------------------------------------------------------------ rate

void AddRate(CLI::App& command, Parsed& p)
{
    AddInput(command, p, "the rate to open --device at (default: STANAG.SET's, else " + std::to_string(DEFAULT_SAMPLE_RATE) + ")");
    AddText(command, p.reference, "--reference",
            "what the rate is measured against: system (the default: the stream's clock stamps), pps (a GPS receiver's "
            "second pulse), tone:HZ (a steady tone of HZ), ticks:wwv, ticks:wwvh or ticks:chu (a time station's second ticks)");
    AddText(command, p.polarity, "--polarity", "pps: the pulse's leading edge rises or falls (default: found by itself)");
    command.add_flag("--capture", p.capture, "measure the device's capture (the default)");
    command.add_flag("--playback", p.playback, "measure its playback against the system clock, playing the signal");
    command.add_flag("--silence", p.silence, "play silence instead of the signal");
    AddSeconds(command, p, "stop after this many seconds (else at Ctrl-C, or a recording's end)");
    AddResultOptions(command, p, "log one row per event to FILE (a reference's pulse, tick or block; the system clock's stamps)", true);
    AddText(command, p.carrier, "--carrier",
            "the played signal's carrier, Hz (default: STANAG.SET, else " + std::to_string(DEFAULT_CARRIER_FREQUENCY) + ")");
}

PulsePolarity TakePolarity(const Parsed& p, const ReferenceKind& reference)
{
    if (!p.polarity.Given())
        return PulsePolarity::Either;
    if (reference.type != ReferenceType::Pps)
        throw UsageError{"rate: --polarity is for --reference pps"};
    if (p.polarity.value == "rising")
        return PulsePolarity::Rising;
    if (p.polarity.value == "falling")
        return PulsePolarity::Falling;
    throw UsageError{"--polarity: rising or falling, not " + p.polarity.value};
}

// What goes with what: a recording has no system clock; a reference in
// the audio comes in on a capture.
void CheckRateChoices(const Parsed& p, const RateOptions& options)
{
    const bool system = options.reference.type == ReferenceType::System;
    if (system && !options.source.fromDevice && p.input.Given())
        throw UsageError{"rate: a recording has no system clock: name the reference it holds with --reference pps, "
                         "tone:HZ or ticks:STATION (--reference system is for --device D)"};
    if (system && !options.source.fromDevice)
        throw UsageError{"rate: --device D is needed (soundclock devices lists them)"};
    if (p.capture && p.playback)
        throw UsageError{"rate: --capture or --playback, not both"};
    if (p.silence && !p.playback)
        throw UsageError{"rate: --silence is for --playback"};
    if (p.playback && !system)
        throw UsageError{"rate: --playback is measured against the system clock: a reference in the audio comes in on a "
                         "capture (a card's playback against it: soundclock calibrate)"};
    if (p.playback && !options.source.save.empty())
        throw UsageError{"rate: --save keeps a capture, not a playback"};
    if (system && options.result.track.intervalSeconds > 0)
        throw UsageError{"rate: --interval, --track and --adev are for a reference in the audio"};
    if (system && (!options.result.track.adevFile.empty() || p.channel.Given()))
        throw UsageError{"rate: --adev and --channel are for a reference in the audio"};
}

int RunRate(const Parsed& p)
{
    RateOptions options;
    options.result = TakeResultOptions(p, "rate");
    options.signal = TakeSignalSettings(p);
    options.seconds = TakeSeconds(p);
    options.source = TakeInput(p, "rate");
    if (p.reference.Given())
        options.reference = ParseReference(p.reference.value);
    options.reference.polarity = TakePolarity(p, options.reference);
    CheckRateChoices(p, options);
    options.playback = p.playback;
    options.silence = p.silence;
    return RateCommand(options);
}

// ------------------------------------------------------------ calibrate

void AddCalibrate(CLI::App& command, Parsed& p)
{
    AddText(command, p.device, "--device", "the card: its output plays the signal, its input records the loop and the reference");
    AddText(command, p.play, "--play", "the output, where it is another device or another name of the card's output");
    p.play.option->type_name("P");
    AddText(command, p.reference, "--reference",
            "what both clocks are measured against: system (the default), pps, tone:HZ, ticks:wwv, ticks:wwvh, ticks:chu");
    AddText(command, p.channel, "--channel", "the input channel of the reference, from 1 (default: 1)");
    AddText(command, p.loopChannel, "--loop-channel",
            "the input channel the output comes back on, and the output channel played (default: 2; 1 with --reference system)");
    AddText(command, p.polarity, "--polarity", "pps: the pulse's leading edge rises or falls (default: found by itself)");
    AddText(command, p.recordRate, "--record-rate", "the rate to record at (default: the signal's)");
    AddSeconds(command, p, "stop after this many seconds (else at Ctrl-C)");
    AddText(command, p.save, "--save", "keep the capture as this WAV file (every channel, at the device's resolution)");
    command.add_flag("--json", p.json, "the result (or the error) as one JSON object on standard output");
    command.add_flag("--quiet", p.quiet, "no live line and no reports as it runs on standard error");
    AddText(command, p.expectReceive, "--expect-receive", "the receive clock expected, in ppm (with --tolerance: sets the exit status)");
    AddText(command, p.expectTransmit, "--expect-transmit", "the transmit clock expected, in ppm (with --tolerance)");
    AddText(command, p.tolerance, "--tolerance", "how far from the figures expected still counts as within, in ppm");
    command.add_option("--from-files", p.fromFiles,
                       "combine two results saved earlier: RATE.json (rate --json) and LOOP.json (loop --json)")
        ->expected(2)
        ->type_name("FILE");
    AddSignalSettings(command, p, "--rate");
}

CalibrateExpectation TakeExpectation(const Parsed& p)
{
    CalibrateExpectation expect;
    if (p.expectReceive.Given()) {
        expect.haveReceive = true;
        expect.receive = ParseNumber(p.expectReceive.value, "--expect-receive");
    }
    if (p.expectTransmit.Given()) {
        expect.haveTransmit = true;
        expect.transmit = ParseNumber(p.expectTransmit.value, "--expect-transmit");
    }
    if (p.tolerance.Given()) {
        expect.tolerance = ParseNumber(p.tolerance.value, "--tolerance");
        if (expect.tolerance < 0)
            throw UsageError{"--tolerance: not below 0"};
    }
    if ((expect.haveReceive || expect.haveTransmit) != p.tolerance.Given())
        throw UsageError{"calibrate: --expect-receive or --expect-transmit go with --tolerance"};
    return expect;
}

int RunCalibrate(const Parsed& p)
{
    CalibrateOptions options;
    options.result.json = p.json;
    options.result.quiet = p.quiet;
    options.expect = TakeExpectation(p);
    options.signal = TakeSignalSettings(p);
    options.seconds = TakeSeconds(p);
    if (p.reference.Given())
        options.reference = ParseReference(p.reference.value);
    options.reference.polarity = TakePolarity(p, options.reference);
    if (!p.fromFiles.empty()) {
        if (p.device.Given() || p.play.Given() || p.save.Given() || p.seconds.Given())
            throw UsageError{"calibrate: --from-files combines results saved earlier: no device is opened"};
        options.rateFile = p.fromFiles[0];
        options.loopFile = p.fromFiles[1];
        return CalibrateCommand(options);
    }
    if (!p.device.Given())
        throw UsageError{"calibrate: --device D is needed (soundclock devices lists them), or --from-files RATE.json LOOP.json"};
    options.device = p.device.value;
    options.play = p.play.Given() ? p.play.value : p.device.value;
    options.save = p.save.value;
    if (p.channel.Given())
        options.channel = static_cast<int>(ParseInteger(p.channel.value, "--channel", 1, 32)) - 1;
    if (p.loopChannel.Given())
        options.loopChannel = static_cast<int>(ParseInteger(p.loopChannel.value, "--loop-channel", 1, 32)) - 1;
    if (p.recordRate.Given())
        options.recordRate = ParseRate(p.recordRate.value, "--record-rate");
    const bool system = options.reference.type == ReferenceType::System;
    if (system && p.channel.Given())
        throw UsageError{"calibrate: --channel is the reference's input: with --reference system there is none"};
    if (options.loopChannel < 0)
        options.loopChannel = system ? 0 : 1;
    if (options.channel < 0 && !system)
        options.channel = options.loopChannel == 0 ? 1 : 0;
    if (!system && options.channel == options.loopChannel)
        throw UsageError{"calibrate: the reference (--channel) and the loop (--loop-channel) need inputs of their own"};
    return CalibrateCommand(options);
}

// ------------------------------------------------------------ devices

void AddDevices(CLI::App&, Parsed&) {}

int RunDevices(const Parsed&)
{
    return DevicesCommand();
}

}  // namespace

const std::vector<Command>& Commands()
{
    static const std::vector<Command> commands = {
        {"signal", "the transmitter's test signal, to a file, standard output or a device", AddSignal, RunSignal},
        {"measure", "the clock offset from a recording of the signal, or live from a device", AddMeasure, RunMeasure},
        {"loop", "plays the signal on one device and measures it recorded on another", AddLoop, RunLoop},
        {"rate", "one card's sample rate, against the system clock or a reference in its samples", AddRate, RunRate},
        {"calibrate", "a card's receive and transmit clocks against one reference, its output looped to its input", AddCalibrate,
         RunCalibrate},
        {"devices", "lists the playback and capture devices", AddDevices, RunDevices},
    };
    return commands;
}
