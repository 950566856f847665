// soundclock rate's two halves: a card against the system clock (its
// stream's clock stamps: rate_system.cpp), and against a reference that
// arrives in its samples (rate_reference.cpp).
#pragma once

#include "soundclock/options.h"

int RateAgainstSystem(const RateOptions& options);
int RateAgainstReference(const RateOptions& options);
