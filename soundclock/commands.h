// The subcommands of soundclock. Each gets its options, already taken
// apart and checked (options.h), and returns the exit status: 0 done (or
// within the expected offset), 1 outside it, 2 bad usage, unusable input
// or a device that failed.
#pragma once

#include "soundclock/options.h"

constexpr int EXIT_WITHIN = 0;
constexpr int EXIT_OUTSIDE = 1;
constexpr int EXIT_UNUSABLE = 2;

int SignalCommand(const SignalOptions& options);
int MeasureCommand(const MeasureOptions& options);
int DevicesCommand();
int LoopCommand(const LoopOptions& options);
int RateCommand(const RateOptions& options);
int CalibrateCommand(const CalibrateOptions& options);

// The whole command line: parses, runs the command, returns the status.
int RunCommandLine(int argc, char** argv);
