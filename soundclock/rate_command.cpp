// soundclock rate: one card's actual sample rate, against the system clock
// or against a reference in its capture.
#include "soundclock/commands.h"
#include "soundclock/rate_commands.h"

int RateCommand(const RateOptions& options)
{
    if (options.reference.type == ReferenceType::System)
        return RateAgainstSystem(options);
    return RateAgainstReference(options);
}
