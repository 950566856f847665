// The result of a card against a reference in its samples: a line on
// standard output, or one JSON object, and the exit status; or, with no
// usable reference, what was heard, with status 2.
#pragma once

#include "soundclock/json_writer.h"
#include "soundclock/options.h"

#include "meter/reference/reference_meter.h"

#include <cstdint>
#include <string>

struct ReferenceFacts {
    ReferenceKind kind;
    int nominalRate = 0;
    std::string source;        // the recording's name, or the device's
    bool fromDevice = false;
    int channel = 0;           // 0-based
    int64_t xruns = -1;        // a device's; -1: a recording
    // Why the result covers only part of the run (a device lost); empty:
    // all of it. A partial result has status 2.
    std::string partial;
};

// "the second pulse", "the 1000 Hz tone", "WWV's ticks".
std::string ReferenceWords(const ReferenceKind& kind);
// What its events are called: "pulses", "blocks", "ticks".
const char* EventNoun(const ReferenceKind& kind);

// The once-a-second line while it runs.
std::string ReferenceLiveText(double secondsRead, const ReferenceKind& kind, const ReferenceEstimate& estimate);
// The first seconds' word: what was heard, and whether the reference is there.
std::string FirstLookText(double seconds, const ReferenceKind& kind, const ReferenceHeard& heard);

// The result line or its JSON (with the track's fields) on standard output,
// and the exit status; no figure without a valid estimate.
class TrackOutput;
int PrintReferenceResult(const ReferenceEstimate& estimate, const ReferenceHeard& heard, const ResultOptions& options,
                         const ReferenceFacts& facts, const TrackOutput& track);
