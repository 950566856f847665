#include "meter/reference/reference_kind.h"

#include <cstdio>

std::string ReferenceName(const ReferenceKind& kind)
{
    switch (kind.type) {
    case ReferenceType::System: return "system";
    case ReferenceType::Pps: return "pps";
    case ReferenceType::Tone: {
        char text[48];
        std::snprintf(text, sizeof text, "tone:%g", kind.toneHz);
        return text;
    }
    case ReferenceType::Ticks:
        switch (kind.station) {
        case TimeStation::Wwv: return "ticks:wwv";
        case TimeStation::Wwvh: return "ticks:wwvh";
        case TimeStation::Chu: return "ticks:chu";
        }
        break;
    }
    return "unknown";
}
