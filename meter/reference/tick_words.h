// Why the tick meter has no ticks to give a figure by, in words for the
// user: the problem of ReferenceHeard (reference_meter.h). What goes in:
// what the meter heard and counted; what comes out: the sentence, empty
// where there is nothing to say. Keeps nothing. (That the ticks are
// another station's is said by tick_identity.h.)
#pragma once

#include "meter/reference/tick_search.h"

#include <cstdint>
#include <string>

// Before any ticks were found: by the last search (`searchProblem`: what a
// search said against the trains it heard) and the input's level (rms and
// peak of `samples` at `sampleRate`).
std::string NoTicksText(const TickSearch& lastSearch, const std::string& searchProblem, uint64_t samples, double rms,
                        double peak, int sampleRate);

// Once they were: found in `ticksFound` of `secondsFollowed`; `lostAtSeconds`
// where the meter lost them and is searching again (< 0: not lost).
std::string TicksGoneText(int64_t ticksFound, int64_t secondsFollowed, double lostAtSeconds);
