// The subcommands of soundclock. Each takes its arguments after the
// subcommand's name and returns the exit status: 0 done (or within the
// expected offset), 1 outside it, 2 bad usage or unusable input.
#pragma once

#include "meter/cli/arguments.h"

constexpr int EXIT_WITHIN = 0;
constexpr int EXIT_OUTSIDE = 1;
constexpr int EXIT_UNUSABLE = 2;

int SignalCommand(Arguments& arguments);
int MeasureCommand(Arguments& arguments);
int RateCommand(Arguments& arguments);

// The signal's settings: STANAG.SET in the working directory, as the
// programs read it, then --rate/--carrier (or --signal-rate) on top.
struct SignalChoice {
    int rate = 0;
    double carrier = 0;
};
SignalChoice SettingsFromFile();
// Refuses settings the burst cannot be made or found with.
void CheckSignalChoice(const SignalChoice& choice);
