// Which reference a rate is measured against, as `--reference KIND` names
// it: the system clock (the stream's stamps; audio/ and meter/rate_fit.h),
// or one that arrives in the samples.
#pragma once

#include <string>

enum class ReferenceType { System, Pps, Tone, Ticks };
enum class TimeStation { Wwv, Wwvh, Chu };
enum class PulsePolarity { Either, Rising, Falling };

struct ReferenceKind {
    ReferenceType type = ReferenceType::System;
    double toneHz = 0;                               // Tone: its nominal frequency
    TimeStation station = TimeStation::Wwv;          // Ticks
    PulsePolarity polarity = PulsePolarity::Either;  // Pps: the leading edge's sign, when asked for
};

// "system", "pps", "tone:1000", "ticks:wwv": the name as the command line takes it.
std::string ReferenceName(const ReferenceKind& kind);
