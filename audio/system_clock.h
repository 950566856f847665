// The system clock's own state, as far as the system tells it without
// privileges. A card's rate measured against the system clock is only as
// good as that clock: kept by a time service it is right to a fraction of
// a ppm; left to its own oscillator it may be off by tens.
#pragma once

#include <string>

enum class ClockSync {
    Synchronised,    // a time service keeps the clock and says it is in step
    Unsynchronised,  // nothing keeps it, or what keeps it says it is not in step
    Unknown,         // a time service may keep it, but does not say
};

struct SystemClockState {
    ClockSync sync = ClockSync::Unknown;
    // The rate correction the system applies to its oscillator (positive:
    // the clock is sped up), where it tells it.
    bool haveFrequency = false;
    double frequencyPpm = 0;
    // The time service's estimate of the clock's error, where it tells it.
    bool haveError = false;
    double estimatedErrorSeconds = 0;
    double maximumErrorSeconds = 0;
    // Where the figures come from and what else was read, for people.
    std::string source;
    std::string detail;
};

SystemClockState ReadSystemClockState();
