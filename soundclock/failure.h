// How a command fails after its options were taken: one line,
// "soundclock: MESSAGE", on standard error (and {"error": MESSAGE} on
// standard output with --json), exit status 2.
#pragma once

#include "soundclock/options.h"

#include <string>

int Fail(const ResultOptions& options, const std::string& message);
