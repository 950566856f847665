// The options, as CLI11 collects them and soundclock checks them. Every
// value is kept as text until it is checked here, so that every message
// keeps soundclock's own words ("--seconds: not a number: fast").
//
// The options several commands share are added and taken by one function
// each (the signal's settings, --seconds, the result's options), with
// help texts made from the facts they describe (the signal's defaults).
#pragma once

#include "soundclock/options.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

// An option whose value is kept as text until it is checked.
struct Text {
    std::string value;
    CLI::Option* option = nullptr;
    bool Given() const { return option != nullptr && option->count() > 0; }
};

// The options' texts and flags of one command, where CLI11 writes them;
// each command has one (it must stay where it is while CLI11 parses).
struct Parsed {
    Text output, seconds, rate, carrier, signalRate, channel, csv, expect, tolerance, device, save, play, record,
        recordRate, input, interval, track, adev, reference, polarity, loopChannel, expectReceive, expectTransmit;
    std::vector<std::string> fromFiles;
    bool raw = false, json = false, quiet = false, capture = false, playback = false, silence = false;
};

// `names` ("--rate" or "-o,--output") onto `text`, its value named in the
// help as the usage writes it (S, R, HZ, D, FILE, ...).
void AddText(CLI::App& command, Text& text, const std::string& names, const std::string& help);

// The signal's sample rate (under `rateNames`: "--rate" or
// "--signal-rate") and carrier; taken from STANAG.SET, then these.
void AddSignalSettings(CLI::App& command, Parsed& p, const std::string& rateNames);
SignalChoice TakeSignalSettings(const Parsed& p);

// --seconds S; -1 when not given.
void AddSeconds(CLI::App& command, Parsed& p, const std::string& help);
double TakeSeconds(const Parsed& p);

// Where the samples come from: FILE (or - for standard input) with --raw,
// --rate R (the raw samples' rate, or the device's) and --channel N, or
// --device D with --rate R, --channel N and --save FILE.
void AddInput(CLI::App& command, Parsed& p, const std::string& deviceRateHelp);
InputChoice TakeInput(const Parsed& p, const std::string& command);

// --csv, --json, --quiet, --expect/--tolerance; with `track`, --interval,
// --track and --adev too.
void AddResultOptions(CLI::App& command, Parsed& p, const std::string& csvHelp, bool track);
ResultOptions TakeResultOptions(const Parsed& p, const std::string& command);
