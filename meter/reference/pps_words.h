// Why the PPS meter has no usable pulse, in words for the user: the
// problem of ReferenceHeard (reference_meter.h). What goes in: what the
// meter counted and heard; what comes out: the sentence, empty where
// there is nothing to say (yet). Keeps nothing.
#pragma once

#include "meter/reference/pulse_train.h"

#include <cstdint>
#include <string>

// Once a train was locked to: `found` pulses timed and `clippedPulses`
// clipped on it, `extras` edges between the seconds; `present` whether the
// meter still follows it (it looks afresh after `lostAfter` seconds
// without one).
std::string PpsFollowingProblem(int64_t found, int64_t clippedPulses, int64_t extras, bool present, double strongestHz,
                                int lostAfter);

// Before any: by the latest try to lock (`tried`: one was made) and the
// input's levels. Empty where no try was made yet and the input is not
// silent.
std::string PpsSearchProblem(const PulseTrainVerdict& verdict, bool tried, double peakDbfs, double rmsDbfs,
                             double strongestHz);
